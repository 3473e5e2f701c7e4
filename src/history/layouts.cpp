#include "history/layouts.h"

#define BRV_DEFINE_NUMPY_API
#include "history/numpy_api.h"
#include "link/records.h"
#include "module/functions.h"
#include "platform/platform.h"

namespace brv {
namespace {

PyArray_Descr* g_bar_layout = nullptr;
PyArray_Descr* g_tick_layout = nullptr;

struct LayoutField {
  const char* name;
  const char* format;
  long offset;
};

// A packed layout of item size 60, made as Python code would make it:
// numpy.dtype({"names": ..., "formats": ..., "offsets": ..., "itemsize": 60}).
// Built through numpy's own converter, so that the descriptor is right for
// whichever numpy runs (its internal layout differs between 1.x and 2.x):
// alignment 1, not an aligned struct, no padding fields.
PyArray_Descr* MakeLayout(const LayoutField (&fields)[8]) {
  Ref names(PyList_New(8));
  Ref formats(PyList_New(8));
  Ref offsets(PyList_New(8));
  if (!names || !formats || !offsets) return nullptr;
  for (int i = 0; i < 8; ++i) {
    PyObject* name = PyUnicode_FromString(fields[i].name);
    PyObject* format = PyUnicode_FromString(fields[i].format);
    PyObject* offset = PyLong_FromLong(fields[i].offset);
    // The lists take each reference, null or not; a null fails the build below.
    PyList_SET_ITEM(names.get(), i, name);
    PyList_SET_ITEM(formats.get(), i, format);
    PyList_SET_ITEM(offsets.get(), i, offset);
    if (name == nullptr || format == nullptr || offset == nullptr) return nullptr;
  }
  Ref description(Py_BuildValue("{sOsOsOsi}", "names", names.get(), "formats", formats.get(), "offsets",
                         offsets.get(), "itemsize", 60));
  if (!description) return nullptr;
  PyArray_Descr* descr = nullptr;
  if (PyArray_DescrConverter(description.get(), &descr) != NPY_SUCCEED) return nullptr;
  return descr;
}

// numpy's type string of a field of the bar and tick records.
const char* NumpyFormat(Wire type) {
  switch (type) {
    case Wire::U32: return "<u4";
    case Wire::I32: return "<i4";
    case Wire::U64: return "<u8";
    case Wire::I64: return "<i8";
    default: return "<f8";
  }
}

// The array fields of a record: its table's names, kinds and offsets.
template <class Record>
void FieldsOf(LayoutField (&out)[8]) {
  static_assert(sizeof(Record::kFields) / sizeof(WireField) == 8 && Record::kSize == 60, "8 fields in 60 bytes");
  for (int i = 0; i < 8; ++i) {
    const WireField& f = Record::kFields[i];
    out[i] = {f.name, NumpyFormat(f.type), long(f.offset)};
  }
}

// Bars and ticks own their block through a capsule set as the array's base:
// numpy releases the base with the array, and the capsule hands the block
// back to numpy's data allocator, which it came from.
constexpr const char* kBlockCapsule = "borvane.records";

void ReleaseBlock(PyObject* capsule) { PyDataMem_FREE(PyCapsule_GetPointer(capsule, kBlockCapsule)); }

}  // namespace

void BuildLayouts() {
  LayoutField bar[8], tick[8];
  FieldsOf<records::Rate>(bar);
  FieldsOf<records::Tick>(tick);
  g_bar_layout = MakeLayout(bar);
  g_tick_layout = MakeLayout(tick);
  // Deliberate fallback at import, where no guard runs: a layout that
  // cannot be built stays absent (its calls then report "No memory") and the
  // import goes on without the exception.
  PyErr_Clear();
}

PyObject* BarLayout() { return reinterpret_cast<PyObject*>(g_bar_layout); }
PyObject* TickLayout() { return reinterpret_cast<PyObject*>(g_tick_layout); }

void* AllocateArrayData(size_t bytes) {
  // Never zero bytes: an empty reply still needs a buffer to lay the array over.
  void* data = PyDataMem_NEW(bytes == 0 ? 1 : bytes);
  // Large blocks are filled straight from the socket; huge pages spare the
  // page faults of touching tens of megabytes in 4 KiB pages.
  platform::AdviseLargeBlock(data, bytes);
  return data;
}

void FreeArrayData(void* data) { PyDataMem_FREE(data); }

PyObject* ArrayOverBuffer(PyObject* layout, void* buffer, uint32_t count) {
  if (buffer == nullptr || layout == nullptr) return nullptr;
  Ref owner(PyCapsule_New(buffer, kBlockCapsule, ReleaseBlock));
  if (!owner) return nullptr;
  PyArray_Descr* descr = reinterpret_cast<PyArray_Descr*>(layout);
  Py_INCREF(descr);  // consumed by the constructor
  npy_intp dims[1] = {npy_intp(count)};
  npy_intp strides[1] = {60};
  // Flags without NPY_ARRAY_WRITEABLE: the array is read-only.
  Ref array(PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides, buffer, 0, nullptr));
  // Until the array holds the capsule as its base, the buffer stays the
  // caller's and the capsule must not free it. SetBaseObject takes a
  // reference of its own, even when it fails.
  Py_INCREF(owner.get());
  if (!array || PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.get()) != 0) {
    if (!array) Py_DECREF(owner.get());
    PyCapsule_SetDestructor(owner.get(), nullptr);
    return nullptr;
  }
  return array.release();
}

}  // namespace brv

namespace brv::api {

bool PrepareArrays() {
  // numpy's own import sequence for the headers built against: the new
  // module path first, then the numpy 1.x one, and the ABI, C-API level and
  // byte-order checks with numpy's messages. The reason is printed; the
  // import then fails with the module's own message, whatever numpy is there.
  if (_import_array() < 0) {
    PyErr_Print();
    PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
    return false;
  }
  BuildLayouts();
  return true;
}

}  // namespace brv::api
