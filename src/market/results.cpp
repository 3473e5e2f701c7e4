#include "market/results.h"

#include "module/convert.h"
#include "module/errors.h"
#include "module/records.h"

namespace brv::market {
bool OneSymbolArgument(PyObject* args, ShortText* symbol) {
  return PyTuple_GET_SIZE(args) == 1 && ConvertText(PyTuple_GET_ITEM(args, 0), symbol);
}

PyObject* RecordResult(int32_t result, const RecordLayout& layout, const uint8_t* record) {
  if (result < 0) return ReportCode(result);
  return DecodeRecordOrFail(layout, record);
}

PyObject* RecordTupleResult(int32_t result, const RecordLayout& layout, const link::Block& records) {
  if (result < 0) return ReportCode(result);
  return DecodeRecordTupleOrFail(layout, records.data(), records.count());
}

}  // namespace brv::market
