// Bars and ticks as numpy arrays: copy_rates_from, copy_rates_from_pos,
// copy_rates_range, copy_ticks_from, copy_ticks_range. Positional arguments
// only; timeframe, position, count and flags go to the terminal as given,
// dates as 64-bit seconds for bars and milliseconds for ticks. The records
// are read straight into numpy's data allocator, and the array laid over
// them owns that memory.
#include "history/layouts.h"
#include "history/operations.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {
namespace {

const link::Allocator kArrayAllocator = {AllocateArrayData, FreeArrayData};

// Sets (-2, "Invalid arguments") and returns None; what argument parsing
// raised is left to the guard.
PyObject* InvalidArguments() {
  SetError(kInvalidParams, "Invalid arguments");
  Py_RETURN_NONE;
}

// A negative result is reported (None). Otherwise the array over the
// records, which takes the block over; when it cannot be made the block
// keeps (and later frees) the buffer and the call reports -3 "No memory".
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

int64_t Milliseconds(int32_t seconds) { return int64_t(seconds) * 1000; }

}  // namespace

PyObject* copy_rates_from(PyObject*, PyObject* args) {
  ResetError();
  PyObject *symbol_arg, *from_arg;
  int timeframe, count;
  ShortText symbol;
  int32_t from;
  if (!PyArg_ParseTuple(args, "OiOi", &symbol_arg, &timeframe, &from_arg, &count) ||
      !ConvertText(symbol_arg, &symbol) || !ConvertTime(from_arg, &from)) {
    return InvalidArguments();
  }
  link::Block records;
  int32_t result = history::CopyRatesFrom(symbol, timeframe, from, count, &records, kArrayAllocator);
  return ArrayResult(result, BarLayout(), records);
}

PyObject* copy_rates_from_pos(PyObject*, PyObject* args) {
  ResetError();
  PyObject* symbol_arg;
  int timeframe, start_pos, count;
  ShortText symbol;
  if (!PyArg_ParseTuple(args, "Oiii", &symbol_arg, &timeframe, &start_pos, &count) ||
      !ConvertText(symbol_arg, &symbol)) {
    return InvalidArguments();
  }
  link::Block records;
  int32_t result = history::CopyRatesFromPos(symbol, timeframe, start_pos, count, &records, kArrayAllocator);
  return ArrayResult(result, BarLayout(), records);
}

PyObject* copy_rates_range(PyObject*, PyObject* args) {
  ResetError();
  PyObject *symbol_arg, *from_arg, *to_arg;
  int timeframe;
  ShortText symbol;
  int32_t from, to;
  if (!PyArg_ParseTuple(args, "OiOO", &symbol_arg, &timeframe, &from_arg, &to_arg) ||
      !ConvertText(symbol_arg, &symbol) || !ConvertTime(from_arg, &from) || !ConvertTime(to_arg, &to)) {
    return InvalidArguments();
  }
  link::Block records;
  int32_t result = history::CopyRatesRange(symbol, timeframe, from, to, &records, kArrayAllocator);
  return ArrayResult(result, BarLayout(), records);
}

PyObject* copy_ticks_from(PyObject*, PyObject* args) {
  ResetError();
  PyObject *symbol_arg, *from_arg;
  int count, flags;
  ShortText symbol;
  int32_t from;
  if (!PyArg_ParseTuple(args, "OOii", &symbol_arg, &from_arg, &count, &flags) ||
      !ConvertText(symbol_arg, &symbol) || !ConvertTime(from_arg, &from)) {
    return InvalidArguments();
  }
  link::Block records;
  int32_t result = history::CopyTicksFrom(symbol, Milliseconds(from), count, flags, &records, kArrayAllocator);
  return ArrayResult(result, TickLayout(), records);
}

PyObject* copy_ticks_range(PyObject*, PyObject* args) {
  ResetError();
  PyObject *symbol_arg, *from_arg, *to_arg;
  int flags;
  ShortText symbol;
  int32_t from, to;
  if (!PyArg_ParseTuple(args, "OOOi", &symbol_arg, &from_arg, &to_arg, &flags) ||
      !ConvertText(symbol_arg, &symbol) || !ConvertTime(from_arg, &from) || !ConvertTime(to_arg, &to)) {
    return InvalidArguments();
  }
  link::Block records;
  int32_t result = history::CopyTicksRange(symbol, Milliseconds(from), Milliseconds(to), flags, &records, kArrayAllocator);
  return ArrayResult(result, TickLayout(), records);
}

}  // namespace brv::api
