#include "market/results.h"

#include "module/errors.h"

namespace brv::market {
namespace {

PyObject* CallFailed() {
  SetError(kCallFailed, "Terminal: Call failed");
  Py_RETURN_NONE;
}

}  // namespace

bool OneSymbolArgument(PyObject* args, ShortText* symbol) {
  return PyTuple_GET_SIZE(args) == 1 && ConvertText(PyTuple_GET_ITEM(args, 0), symbol);
}

PyObject* RecordResult(int32_t result, const RecordLayout& layout, const uint8_t* record) {
  if (result < 0) return ReportCode(result);
  PyObject* object = DecodeRecord(layout, record);
  return object != nullptr ? object : CallFailed();
}

PyObject* RecordTupleResult(int32_t result, const RecordLayout& layout, const link::Block& records) {
  if (result < 0) return ReportCode(result);
  PyObject* tuple = DecodeRecordTuple(layout, records.data(), records.count());
  return tuple != nullptr ? tuple : CallFailed();
}

}  // namespace brv::market
