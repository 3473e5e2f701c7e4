// account_info() and terminal_info(): one bare request, one record back.
#include "market/operations.h"
#include "market/results.h"
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* account_info(PyObject*, PyObject*) {
  ResetError();
  uint8_t record[market::kAccountRecordSize];
  int32_t result = market::AccountInfoGet(record);
  return market::RecordResult(result, market::kAccountRecord, record);
}

PyObject* terminal_info(PyObject*, PyObject*) {
  ResetError();
  uint8_t record[market::kTerminalRecordSize];
  int32_t result = market::TerminalInfoGet(record);
  return market::RecordResult(result, market::kTerminalRecord, record);
}

}  // namespace brv::api
