// Ticks: copy_ticks_from, copy_ticks_range. Positional arguments only; the
// dates go to the terminal in milliseconds, count and flags as given.
#include "history/layouts.h"
#include "history/operations.h"
#include "history/results.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"

namespace brv::api {

using history::ArrayResult;
using history::InvalidArguments;
using history::kArrayAllocator;

namespace {

int64_t Milliseconds(int32_t seconds) { return int64_t(seconds) * 1000; }

}  // namespace

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
