// The entry points of account, terminal and symbol information:
// account_info, terminal_info, symbol_info, symbol_info_tick, symbols_total,
// symbols_get and symbol_select.
#include "market/operations.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"

namespace brv::api {

PyObject* account_info(PyObject*, PyObject*) {
  ResetError();
  uint8_t record[market::kAccountRecordSize];
  int32_t result = market::AccountInfoGet(record);
  return RecordResult(result, market::kAccountRecord, record);
}

PyObject* terminal_info(PyObject*, PyObject*) {
  ResetError();
  uint8_t record[market::kTerminalRecordSize];
  int32_t result = market::TerminalInfoGet(record);
  return RecordResult(result, market::kTerminalRecord, record);
}

PyObject* symbol_info_tick(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!SymbolArgument(args, &symbol)) Py_RETURN_NONE;
  uint8_t record[market::kTickRecordSize];
  int32_t result = market::SymbolInfoTick(symbol, record);
  return RecordResult(result, market::kTickRecord, record);
}

PyObject* symbol_info(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!SymbolArgument(args, &symbol)) Py_RETURN_NONE;
  uint8_t record[market::kSymbolRecordSize];
  int32_t result = market::SymbolInfoGet(symbol, record);
  return RecordResult(result, market::kSymbolRecord, record);
}

PyObject* symbols_total(PyObject*, PyObject*) {
  ResetError();
  uint32_t count = 0;
  int32_t result = market::SymbolsTotal(&count);
  if (result < 0) return ReportCode(result);
  return PyLong_FromUnsignedLong(count);
}

// symbols_get([group]) or symbols_get(group=...): the terminal selects; an
// empty group asks for every symbol. Invalid arguments give False.
PyObject* symbols_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  GroupText group;
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (positional > 1) {
    SetError(kInvalidParams, "Invalid number of arguments");
    Py_RETURN_FALSE;
  }
  if (positional == 1 && !ConvertText(PyTuple_GET_ITEM(args, 0), &group)) {
    SetError(kInvalidParams, "Invalid 1st unnamed argument");
    Py_RETURN_FALSE;
  }
  PyObject* value = Keyword(kwargs, "group");
  if (value != nullptr && !ConvertText(value, &group)) {
    SetError(kInvalidParams, "Invalid \"group\" argument");
    Py_RETURN_FALSE;
  }
  link::Block records;
  int32_t result = group.Empty() ? market::SymbolsGetAll(&records) : market::SymbolsGetByGroup(group, &records);
  return RecordTupleResult(result, market::kSymbolRecord, records.data(), records.count());
}

// symbol_select(symbol[, enable]): enable by its truth value, default true.
PyObject* symbol_select(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  bool enable = true;
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (positional < 1 || positional > 2 || !ConvertText(PyTuple_GET_ITEM(args, 0), &symbol) ||
      (positional == 2 && !TruthValue(PyTuple_GET_ITEM(args, 1), &enable))) {
    SetError(kInvalidParams, "Invalid arguments");
    Py_RETURN_FALSE;
  }
  int32_t result = market::SymbolSelect(symbol, enable);
  if (result < 0) return ReportCodeFalse(result);
  Py_RETURN_TRUE;
}

}  // namespace brv::api
