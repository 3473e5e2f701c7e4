// Placeholders until this family lands: each reports "Terminal: Unsupported function".
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

PyObject* copy_ticks_from(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* copy_ticks_range(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* copy_rates_from(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* copy_rates_from_pos(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

PyObject* copy_rates_range(PyObject*, PyObject*) {
  ResetError();
  return ReportCode(kUnsupported);
}

}  // namespace brv::api
