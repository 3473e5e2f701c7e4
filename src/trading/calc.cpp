// order_calc_margin and order_calc_profit: positional arguments parsed with
// a fixed format, one double back from the terminal.
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "trading/operations.h"
#include "trading/request.h"

namespace brv::trading {
namespace {

// Sets (-2, "Invalid arguments") and returns None; what argument parsing
// raised is left to the guard.
PyObject* InvalidArguments() {
  SetError(kInvalidParams, "Invalid arguments");
  Py_RETURN_NONE;
}

PyObject* Amount(int32_t result, double amount) {
  if (result < 0) return ReportCode(result);
  return PyFloat_FromDouble(amount);
}

}  // namespace
}  // namespace brv::trading

namespace brv::api {

using namespace brv::trading;

PyObject* order_calc_margin(PyObject*, PyObject* args) {
  ResetError();
  // "k": the action modulo 2^32, unchecked; "d": anything with a float value.
  unsigned long action = 0;
  PyObject* symbol_object = nullptr;
  double volume = 0, price = 0;
  ShortText symbol;
  if (PyTuple_GET_SIZE(args) != 4 || !PyArg_ParseTuple(args, "kOdd", &action, &symbol_object, &volume, &price) ||
      !ConvertText(symbol_object, &symbol)) {
    return InvalidArguments();
  }
  double amount = 0;
  int32_t result = OrderCalcMargin(uint32_t(action), &symbol, volume, price, &amount);
  return Amount(result, amount);
}

PyObject* order_calc_profit(PyObject*, PyObject* args) {
  ResetError();
  unsigned long action = 0;
  PyObject* symbol_object = nullptr;
  double volume = 0, price_open = 0, price_close = 0;
  ShortText symbol;
  if (PyTuple_GET_SIZE(args) != 5 ||
      !PyArg_ParseTuple(args, "kOddd", &action, &symbol_object, &volume, &price_open, &price_close) ||
      !ConvertText(symbol_object, &symbol)) {
    return InvalidArguments();
  }
  double amount = 0;
  int32_t result = OrderCalcProfit(uint32_t(action), &symbol, volume, price_open, price_close, &amount);
  return Amount(result, amount);
}

}  // namespace brv::api
