// market_book_add, market_book_release, market_book_get. The module keeps no
// subscription state: the terminal alone knows which books it delivers.
#include "book/operations.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"

namespace brv::api {
namespace {

// Exactly one positional argument, a str of at most 29 units.
bool SymbolArgument(PyObject* args, ShortText* symbol) {
  if (PyTuple_GET_SIZE(args) == 1 && ConvertText(PyTuple_GET_ITEM(args, 0), symbol)) return true;
  SetError(kInvalidParams, "Invalid arguments");
  return false;
}

}  // namespace

// add and release answer only True or False: after the argument check a
// failure leaves the last error at "Success".
PyObject* market_book_add(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!SymbolArgument(args, &symbol)) Py_RETURN_NONE;
  return NewBool(book::MarketBookAdd(symbol) >= 0);
}

PyObject* market_book_release(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!SymbolArgument(args, &symbol)) Py_RETURN_NONE;
  return NewBool(book::MarketBookRelease(symbol) >= 0);
}

PyObject* market_book_get(PyObject*, PyObject* args) {
  ResetError();
  ShortText symbol;
  if (!SymbolArgument(args, &symbol)) Py_RETURN_NONE;
  link::Block entries;
  int32_t result = book::MarketBookGet(symbol, &entries);
  if (result < 0) return ReportCode(result);
  return DecodeRecordTupleOrFail(book::kBookEntryRecord, entries.data(), entries.count());
}

}  // namespace brv::api
