// Bars: copy_rates_from, copy_rates_from_pos, copy_rates_range. Positional
// arguments only; timeframe, position and count go to the terminal as given,
// dates as 64-bit seconds.
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

}  // namespace brv::api
