// market_book_add, market_book_release, market_book_get. The module keeps no
// subscription state: the terminal alone knows which books it delivers.
#include "book/operations.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"

namespace brv::api {

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
  return RecordTupleResult(result, book::kBookEntryRecord, entries.data(), entries.count());
}

}  // namespace brv::api
