#include "history/results.h"

#include "history/layouts.h"
#include "module/errors.h"

namespace brv::history {

const link::Allocator kArrayAllocator = {AllocateArrayData, FreeArrayData};

PyObject* InvalidArguments() {
  PyErr_Clear();
  SetError(kInvalidParams, "Invalid arguments");
  Py_RETURN_NONE;
}

PyObject* ArrayResult(int32_t result, PyObject* layout, link::Block& records) {
  if (result < 0) return ReportCode(result);
  PyObject* array = ArrayOverBuffer(layout, records.data(), records.count());
  if (array == nullptr) {
    SetError(kOutOfMemory, "No memory");
    Py_RETURN_NONE;
  }
  records.Take();  // the array owns the buffer now
  return array;
}

}  // namespace brv::history
