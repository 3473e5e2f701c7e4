// Placeholders until this family lands: each reports "Terminal: Unsupported function".
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* terminal_info(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* account_info(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* symbol_info(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* symbol_info_tick(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* symbol_select(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* symbols_total(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* symbols_get(PyObject*, PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

}  // namespace brv::api
