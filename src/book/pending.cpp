// Placeholders until this family lands: each reports "Terminal: Unsupported function".
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* market_book_add(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* market_book_release(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* market_book_get(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

}  // namespace brv::api
