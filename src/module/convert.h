// Argument converters shared by every module function: texts into fixed
// UTF-16 fields, integers, floats, flags and time arguments. A converter
// returns false for an invalid argument, possibly with the Python exception
// that revealed it still set; the caller reports the failure through the
// last error and returns, and the guard in front of every module function
// clears the exception.
#pragma once

#include <cstdint>
#include <cstring>

#include "link/text_field.h"
#include "module/python.h"

namespace brv {

// Copies a str (or subclass) of at most `capacity - 3` UTF-16 units into
// `units` (capacity units, zero-filled first).
bool ConvertTextInto(PyObject* object, char16_t* units, size_t capacity);

template <size_t F>
bool ConvertText(PyObject* object, TextField<F>* field) {
  return ConvertTextInto(object, field->units, F);
}

bool ConvertU32(PyObject* object, uint32_t* value);
bool ConvertU64(PyObject* object, uint64_t* value);
bool ConvertI64(PyObject* object, int64_t* value);
// A float or subclass only: an int is refused.
bool ConvertDouble(PyObject* object, double* value);
// The truth value; a truth test that raises counts as `on_error` (nothing
// stays set).
bool ConvertFlag(PyObject* object, bool on_error);
// True when the truth test succeeded, with the value in *value.
bool TruthValue(PyObject* object, bool* value);

// A time argument (int, float or datetime.datetime) as whole seconds since
// 1970-01-01 UTC in the signed 32-bit range.
bool ConvertTime(PyObject* object, int32_t* seconds);

// Exactly one positional argument, a str of at most 29 units; otherwise
// -2 "Invalid arguments" and false.
bool SymbolArgument(PyObject* args, ShortText* symbol);

// Looks up a keyword in an optional keyword dictionary (borrowed, may be null).
inline PyObject* Keyword(PyObject* kwargs, const char* name) {
  if (kwargs == nullptr) return nullptr;
  PyObject* value = PyDict_GetItemString(kwargs, name);
  return value;
}

// Python object from a UTF-16 field, read up to its first NUL and never
// past `capacity` units.
PyObject* TextToPython(const char16_t* units, size_t capacity);
// The same over an unaligned little-endian byte image of a text field.
PyObject* WireTextToPython(const uint8_t* bytes, size_t capacity);

// Imported by module initialisation; null when the datetime C interface
// could not be imported (datetime arguments are then refused).
void SetDateTimeApi(void* api);

}  // namespace brv
