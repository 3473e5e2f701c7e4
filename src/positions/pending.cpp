// Placeholders until this family lands: each reports "Terminal: Unsupported function".
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* positions_total(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* positions_get(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* orders_total(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* orders_get(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* history_orders_total(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* history_orders_get(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* history_deals_total(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* history_deals_get(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

}  // namespace brv::api
