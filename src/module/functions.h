// The module functions, one per entry of the method table. Each resets the
// last error, checks and converts its arguments, runs one client operation
// and turns the reply into Python objects. Grouped by the folder that
// implements them.
#pragma once

#include "module/python.h"

namespace brv::api {

// session/
PyObject* initialize(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* shutdown(PyObject* self, PyObject* unused);
PyObject* login(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* version(PyObject* self, PyObject* unused);

// market/
PyObject* terminal_info(PyObject* self, PyObject* unused);
PyObject* account_info(PyObject* self, PyObject* unused);
PyObject* symbol_info(PyObject* self, PyObject* args);
PyObject* symbol_info_tick(PyObject* self, PyObject* args);
PyObject* symbol_select(PyObject* self, PyObject* args);
PyObject* symbols_total(PyObject* self, PyObject* unused);
PyObject* symbols_get(PyObject* self, PyObject* args, PyObject* kwargs);

// history/
PyObject* copy_ticks_from(PyObject* self, PyObject* args);
PyObject* copy_ticks_range(PyObject* self, PyObject* args);
PyObject* copy_rates_from(PyObject* self, PyObject* args);
PyObject* copy_rates_from_pos(PyObject* self, PyObject* args);
PyObject* copy_rates_range(PyObject* self, PyObject* args);

// positions/
PyObject* positions_total(PyObject* self, PyObject* unused);
PyObject* positions_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* orders_total(PyObject* self, PyObject* unused);
PyObject* orders_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* history_orders_total(PyObject* self, PyObject* args);
PyObject* history_orders_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* history_deals_total(PyObject* self, PyObject* args);
PyObject* history_deals_get(PyObject* self, PyObject* args, PyObject* kwargs);

// trading/
PyObject* order_check(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* order_send(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* order_calc_margin(PyObject* self, PyObject* args);
PyObject* order_calc_profit(PyObject* self, PyObject* args);

// book/
PyObject* market_book_add(PyObject* self, PyObject* args);
PyObject* market_book_release(PyObject* self, PyObject* args);
PyObject* market_book_get(PyObject* self, PyObject* args);

// module/
PyObject* last_error(PyObject* self, PyObject* unused);

// Run once by module initialisation (history/): imports numpy's C interface
// and builds the bar and tick layouts; false with ImportError set when numpy
// cannot be used.
bool PrepareArrays();

}  // namespace brv::api
