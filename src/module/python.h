// The Python C interface, and a small owning reference for it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace brv {

// Owns one reference; releases it on destruction unless released.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* object) : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  PyObject* release() {
    PyObject* o = object_;
    object_ = nullptr;
    return o;
  }
  void reset(PyObject* object = nullptr) {
    PyObject* old = object_;
    object_ = object;
    Py_XDECREF(old);
  }

 private:
  PyObject* object_ = nullptr;
};

inline PyObject* NewNone() { Py_RETURN_NONE; }
inline PyObject* NewBool(bool value) { return PyBool_FromLong(value ? 1 : 0); }

}  // namespace brv
