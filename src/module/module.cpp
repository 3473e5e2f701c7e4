// Module initialisation and the method table.
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"
#include "platform/platform.h"

namespace brv {
namespace {

// A signal that arrives while a call waits on the pipe runs the
// interpreter's handlers; when one raises (Ctrl-C), the wait stops.
bool CheckSignals() { return PyErr_CheckSignals() != 0; }

// Every function's result passes here. A function reports its failures
// through the last error; a helper that failed may have left the Python
// exception that revealed the failure, and this is the one place that
// clears it: no call returns while a Python exception is pending, except the
// interrupt that stopped it, which is raised as Python code would.
PyObject* Finish(PyObject* result) {
  const bool interrupted = platform::TakeInterrupted();
  if (!PyErr_Occurred()) {
    if (result != nullptr) return result;
    SetError(kCallFailed, "Terminal: Call failed");
    Py_RETURN_NONE;
  }
  if (interrupted) {
    Py_XDECREF(result);
    return nullptr;
  }
  PyErr_Clear();
  if (result != nullptr) return result;
  SetError(kCallFailed, "Terminal: Call failed");
  Py_RETURN_NONE;
}

// What a function returns when it is refused because another call runs:
// the failure value of the function.
enum class Failure { kNone, kFalse, kVersion };
template <auto F>
constexpr Failure kFailureOf = Failure::kNone;
template <>
constexpr Failure kFailureOf<api::initialize> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::login> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::shutdown> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::symbol_select> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::market_book_add> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::market_book_release> = Failure::kFalse;
template <>
constexpr Failure kFailureOf<api::version> = Failure::kVersion;

// A call runs (possibly waiting on the pipe) while this is set. A signal
// handler that the waiting call runs may call the module again: that call is
// refused at once, so that it neither reads the running call's reply nor
// closes its pipe.
bool g_running = false;

template <Failure R>
PyObject* Refuse() {
  SetNestedCallError();
  if (R == Failure::kFalse) Py_RETURN_FALSE;
  if (R == Failure::kVersion) return Py_BuildValue("(iis)", 0, 0, "");
  Py_RETURN_NONE;
}

template <Failure R, class Call>
PyObject* Run(Call&& call) {
  if (g_running) return Refuse<R>();
  g_running = true;
  PyObject* result = Finish(call());
  g_running = false;
  EndOfOutermostCall();
  return result;
}

template <PyObject* (*F)(PyObject*, PyObject*)>
PyObject* Guarded(PyObject* self, PyObject* args) {
  return Run<kFailureOf<F>>([&] { return F(self, args); });
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyObject* GuardedKw(PyObject* self, PyObject* args, PyObject* kwargs) {
  return Run<kFailureOf<F>>([&] { return F(self, args, kwargs); });
}

#define BRV_NOARGS(name, doc) {#name, Guarded<api::name>, METH_NOARGS, doc}
#define BRV_VARARGS(name, doc) {#name, Guarded<api::name>, METH_VARARGS, doc}
#define BRV_KEYWORDS(name, doc) \
  {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(GuardedKw<api::name>)), METH_VARARGS | METH_KEYWORDS, doc}

PyMethodDef kMethods[] = {
    BRV_KEYWORDS(initialize,
                 "initialize([path],[server=\"SERVER\"],[login=LOGIN],[password=\"PASSWORD\"])\n\n"
                 "Establish connection to Borvane terminal"),
    BRV_NOARGS(shutdown, "shutdown()\n\nDisconnect from Borvane terminal"),
    BRV_KEYWORDS(login, "login(login,[server=\"SERVER\"],[password=\"PASSWORD\"])\n\nLog in to specific account"),
    BRV_NOARGS(version, "version()\n\nGet Borvane terminal version"),
    BRV_NOARGS(terminal_info, "terminal_info()\n\nGet parameters of Borvane terminal"),
    BRV_NOARGS(account_info, "account_info()\n\nReturn information on the current account"),
    BRV_VARARGS(copy_ticks_from,
                "copy_ticks_from(symbol, date_from, count, flags)\n\nGet ticks starting from specific date"),
    BRV_VARARGS(copy_ticks_range,
                "copy_ticks_range(symbol, date_from, date_to, flags)\n\nGet ticks from specified period"),
    BRV_VARARGS(copy_rates_from,
                "copy_rates_from(symbol, timeframe, date_from, count)\n\nGet bars starting from specific date"),
    BRV_VARARGS(copy_rates_from_pos,
                "copy_rates_from_pos(symbol, timeframe, start_pos, count)\n\n"
                "Get bars starting from specified position"),
    BRV_VARARGS(copy_rates_range,
                "copy_rates_range(symbol, timeframe, date_from, date_to)\n\nGet bars from specified period"),
    BRV_NOARGS(positions_total, "positions_total()\n\nReturn the number of open positions"),
    BRV_KEYWORDS(positions_get,
                 "positions_get([symbol=\"SYMBOL\"],[ticket=TICKET],[group=\"GROUP\"])\n\n"
                 "Return all open positions, can be filtered by symbol, group or ticket"),
    BRV_NOARGS(orders_total, "orders_total()\n\nReturn the number of orders"),
    BRV_KEYWORDS(orders_get,
                 "orders_get([symbol=\"SYMBOL\"],[ticket=TICKET],[group=\"GROUP\"])\n\n"
                 "Return all orders, can be filtered by symbol, group or ticket"),
    BRV_VARARGS(history_orders_total,
                "history_orders_total(date_from, date_to)\n\n"
                "Return the number of orders in selected range from history"),
    BRV_KEYWORDS(history_orders_get,
                 "history_orders_get([date_from, date_to, [group=\"GROUP\"]],[position=POSITION],[ticket=TICKET])\n\n"
                 "Return orders in selected range from history or filtered by position id, ticket"),
    BRV_VARARGS(history_deals_total,
                "history_deals_total(date_from, date_to)\n\n"
                "Return the number of deals in selected range from history"),
    BRV_KEYWORDS(history_deals_get,
                 "history_deals_get([date_from, date_to, [group=\"GROUP\"]],[position=POSITION],[ticket=TICKET])\n\n"
                 "Return deals in selected range from history or filtered by position id, ticket"),
    BRV_KEYWORDS(order_check,
                 "order_check(request)\n\n"
                 "Check if there are enough funds to execute required trading operation"),
    BRV_KEYWORDS(order_send, "order_send(request)\n\nSend trading requests to server"),
    BRV_VARARGS(order_calc_margin,
                "order_calc_margin(action, symbol, volume, price,)\n\nCalculate margin required for specified order"),
    BRV_VARARGS(order_calc_profit,
                "order_calc_profit(action, symbol, volume, price_open, price_close)\n\n"
                "Calculate profit for the current account in the current market conditions based on "
                "parameters passed"),
    BRV_VARARGS(symbol_info, "symbol_info(symbol)\n\nReturn full information for specified symbol"),
    BRV_VARARGS(symbol_info_tick, "symbol_info_tick(symbol)\n\nReturn current prices of specified symbol"),
    BRV_VARARGS(symbol_select,
                "symbol_select(symbol,[enable])\n\n"
                "Select symbol in Market Watch window or remove symbol from the window"),
    BRV_NOARGS(symbols_total, "symbols_total()\n\nReturn the number of all available symbols"),
    BRV_KEYWORDS(symbols_get, "symbols_get([group=\"GROUP\"])\n\nReturn all available symbols or filtred by group"),
    BRV_VARARGS(market_book_add, "market_book_add(symbol)\n\nOpens Depth of Market for a selected symbol"),
    BRV_VARARGS(market_book_release, "market_book_release(symbol)\n\nCloses Depth of Market for a selected symbol"),
    BRV_VARARGS(market_book_get,
                "market_book_get(symbol)\n\nReturns Depth of Market structures of a specified symbol"),
    // Not guarded: a handler may ask why its call was refused.
    {"last_error", api::last_error, METH_NOARGS, "last_error()\n\nReturn last error code and description"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_core", "API Connector to Borvane Terminal", -1, kMethods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace brv

PyMODINIT_FUNC PyInit__core() {
  using namespace brv;
  // An optional import: without the datetime interface, datetime arguments
  // are refused and everything else works, so the import goes on.
  void* datetime_api = PyCapsule_Import("datetime.datetime_CAPI", 0);
  if (datetime_api == nullptr) PyErr_Clear();
  SetDateTimeApi(datetime_api);
  if (!api::PrepareArrays()) return nullptr;
  PyObject* module = PyModule_Create2(&kModule, 1013);
  if (module == nullptr) return nullptr;
  if (!RegisterRecordTypes(module)) {
    Py_DECREF(module);
    return nullptr;
  }
  platform::SetInterruptCheck(CheckSignals);
  return module;
}
