#include "history/layouts.h"

#include "history/numpy_api.h"
#include "platform/platform.h"

namespace brv {
namespace {

PyArray_Descr* g_bar_layout = nullptr;
PyArray_Descr* g_tick_layout = nullptr;

struct LayoutField {
  const char* name;
  PyArray_Descr* base;
  long offset;
};

// A packed void descriptor of item size 60 over the given fields.
PyArray_Descr* MakeLayout(const LayoutField (&fields)[8]) {
  Ref dict(PyDict_New());
  Ref names(PyTuple_New(8));
  if (!dict || !names) {
    PyErr_Clear();
    return nullptr;
  }
  for (int i = 0; i < 8; ++i) {
    if (fields[i].base == nullptr) return nullptr;
    Py_INCREF(fields[i].base);
    Ref entry(Py_BuildValue("(Nl)", reinterpret_cast<PyObject*>(fields[i].base), fields[i].offset));
    PyObject* name = PyUnicode_FromString(fields[i].name);
    if (!entry || name == nullptr || PyDict_SetItem(dict.get(), name, entry.get()) != 0) {
      Py_XDECREF(name);
      PyErr_Clear();
      return nullptr;
    }
    PyTuple_SET_ITEM(names.get(), i, name);
  }
  PyArray_Descr* descr = PyArray_DescrNewFromType(NPY_VOID);
  if (descr == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  descr->elsize = 60;
  descr->flags = NPY_NEEDS_PYAPI;
  descr->fields = dict.release();
  descr->names = names.release();
  return descr;
}

}  // namespace

void BuildLayouts() {
  PyArray_Descr* f8 = PyArray_DescrNewFromType(NPY_DOUBLE);
  PyArray_Descr* i4 = PyArray_DescrNewFromType(NPY_INT);
  PyArray_Descr* u4 = PyArray_DescrNewFromType(NPY_UINT);
  PyArray_Descr* i8 = PyArray_DescrNewFromType(NPY_LONGLONG);
  PyArray_Descr* u8 = PyArray_DescrNewFromType(NPY_ULONGLONG);
  const LayoutField bar[8] = {{"time", i8, 0},         {"open", f8, 8},   {"high", f8, 16},
                              {"low", f8, 24},         {"close", f8, 32}, {"tick_volume", u8, 40},
                              {"spread", i4, 48},      {"real_volume", u8, 52}};
  const LayoutField tick[8] = {{"time", i8, 0},      {"bid", f8, 8},       {"ask", f8, 16},
                               {"last", f8, 24},     {"volume", u8, 32},   {"time_msc", i8, 40},
                               {"flags", u4, 48},    {"volume_real", f8, 52}};
  g_bar_layout = MakeLayout(bar);
  g_tick_layout = MakeLayout(tick);
  Py_XDECREF(f8);
  Py_XDECREF(i4);
  Py_XDECREF(u4);
  Py_XDECREF(i8);
  Py_XDECREF(u8);
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
  PyArray_Descr* descr = reinterpret_cast<PyArray_Descr*>(layout);
  Py_INCREF(descr);  // consumed by the constructor
  npy_intp dims[1] = {npy_intp(count)};
  npy_intp strides[1] = {60};
  PyObject* array = PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides, buffer,
                                         NPY_ARRAY_OWNDATA, nullptr);
  if (array == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  PyArray_ENABLEFLAGS(reinterpret_cast<PyArrayObject*>(array), NPY_ARRAY_OWNDATA);
  return array;
}

}  // namespace brv
