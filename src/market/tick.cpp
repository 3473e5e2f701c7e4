// symbol_info_tick(symbol): the latest prices of one symbol as a Tick.
#include "market/operations.h"
#include "market/results.h"
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* symbol_info_tick(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!market::OneSymbolArgument(args, &symbol)) {
    SetError(kInvalidParams, "Invalid arguments");
    Py_RETURN_NONE;
  }
  uint8_t record[market::kTickRecordSize];
  int32_t result = market::SymbolInfoTick(symbol, record);
  return market::RecordResult(result, market::kTickRecord, record);
}

}  // namespace brv::api
