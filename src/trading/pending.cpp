// Placeholders until this family lands: each reports "Terminal: Unsupported function".
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* order_check(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* order_send(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* order_calc_margin(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* order_calc_profit(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

}  // namespace brv::api
