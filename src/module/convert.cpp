#include "module/convert.h"

#include <datetime.h>

#include <cmath>

#include "module/errors.h"

namespace brv {
namespace {

PyDateTime_CAPI* g_datetime_api = nullptr;

// Size of the UTF-16 form of a str, in units.
bool Utf16Length(PyObject* object, Py_ssize_t* units) {
  if (PyUnicode_READY(object) != 0) return false;
  Py_ssize_t n = PyUnicode_GET_LENGTH(object);
  if (PyUnicode_KIND(object) == PyUnicode_4BYTE_KIND) {
    const Py_UCS4* data = PyUnicode_4BYTE_DATA(object);
    for (Py_ssize_t i = 0, len = n; i < len; ++i) n += data[i] > 0xFFFF ? 1 : 0;
  }
  *units = n;
  return true;
}

bool TruncateSeconds(double value, int32_t* seconds) {
  if (std::isnan(value)) return false;
  double t = std::trunc(value);
  if (t < -2147483648.0 || t > 2147483647.0) return false;
  *seconds = int32_t(t);
  return true;
}

}  // namespace

void SetDateTimeApi(void* api) { g_datetime_api = static_cast<PyDateTime_CAPI*>(api); }

bool ConvertTextInto(PyObject* object, char16_t* units, size_t capacity) {
  std::memset(units, 0, capacity * sizeof(char16_t));
  if (object == nullptr || !PyUnicode_Check(object)) return false;
  Py_ssize_t n = 0;
  // The length with one terminator must not exceed capacity - 2.
  if (!Utf16Length(object, &n) || size_t(n) + 1 > capacity - 2) return false;
  const int kind = PyUnicode_KIND(object);
  const void* data = PyUnicode_DATA(object);
  const Py_ssize_t chars = PyUnicode_GET_LENGTH(object);
  size_t out = 0;
  for (Py_ssize_t i = 0; i < chars; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c > 0xFFFF) {
      c -= 0x10000;
      units[out++] = char16_t(0xD800 + (c >> 10));
      units[out++] = char16_t(0xDC00 + (c & 0x3FF));
    } else {
      units[out++] = char16_t(c);
    }
  }
  units[capacity - 1] = 0;
  return true;
}

bool ConvertU32(PyObject* object, uint32_t* value) {
  if (object == nullptr || !PyLong_Check(object)) return false;
  unsigned long v = PyLong_AsUnsignedLong(object);
  if (v == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
  if (v > 0xFFFFFFFFul) return false;
  *value = uint32_t(v);
  return true;
}

bool ConvertU64(PyObject* object, uint64_t* value) {
  if (object == nullptr || !PyLong_Check(object)) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(object);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  *value = v;
  return true;
}

bool ConvertI64(PyObject* object, int64_t* value) {
  if (object == nullptr || !PyLong_Check(object)) return false;
  long long v = PyLong_AsLongLong(object);
  if (v == -1 && PyErr_Occurred()) return false;
  *value = v;
  return true;
}

bool ConvertDouble(PyObject* object, double* value) {
  if (object == nullptr || !PyFloat_Check(object)) return false;
  double v = PyFloat_AsDouble(object);
  if (v == -1.0 && PyErr_Occurred()) return false;
  *value = v;
  return true;
}

bool TruthValue(PyObject* object, bool* value) {
  int truth = PyObject_IsTrue(object);
  if (truth < 0) return false;
  *value = truth != 0;
  return true;
}

bool ConvertFlag(PyObject* object, bool on_error) {
  bool value = on_error;
  if (TruthValue(object, &value)) return value;
  // Deliberate fallback: the caller goes on with `on_error` (and may still
  // talk to the terminal), so the truth test's exception must not stay set.
  PyErr_Clear();
  return on_error;
}

bool ConvertTime(PyObject* object, int32_t* seconds) {
  if (object == nullptr) return false;
  if (PyLong_Check(object)) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *seconds = int32_t(v);
    return true;
  }
  if (PyFloat_Check(object)) {
    double v = PyFloat_AsDouble(object);
    if (v == -1.0 && PyErr_Occurred()) return false;
    return TruncateSeconds(v, seconds);
  }
  if (g_datetime_api != nullptr && PyObject_TypeCheck(object, g_datetime_api->DateTimeType)) {
    Ref stamp(PyObject_CallMethod(object, "timestamp", nullptr));
    if (!stamp) return false;
    double v = PyFloat_AsDouble(stamp.get());
    if (v == -1.0 && PyErr_Occurred()) return false;
    return TruncateSeconds(v, seconds);
  }
  return false;
}

PyObject* TextToPython(const char16_t* units, size_t capacity) {
  size_t n = 0;
  while (n < capacity && units[n] != 0) ++n;
  int byteorder = -1;  // little-endian
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units), Py_ssize_t(n * 2), "surrogatepass",
                               &byteorder);
}

PyObject* WireTextToPython(const uint8_t* bytes, size_t capacity) {
  size_t n = 0;
  while (n < capacity && (bytes[2 * n] | bytes[2 * n + 1]) != 0) ++n;
  int byteorder = -1;
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(bytes), Py_ssize_t(n * 2), "surrogatepass",
                               &byteorder);
}

bool SymbolArgument(PyObject* args, ShortText* symbol) {
  if (PyTuple_GET_SIZE(args) == 1 && ConvertText(PyTuple_GET_ITEM(args, 0), symbol)) return true;
  SetError(kInvalidParams, "Invalid arguments");
  return false;
}

}  // namespace brv
