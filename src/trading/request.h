// The trade request record (trading/operations.h) filled from a Python
// dictionary and handed back to Python as a TradeRequest inside the results
// of order_check and order_send.
#pragma once

#include <cstdint>

#include "module/python.h"
#include "trading/operations.h"

namespace brv::trading {

// Fills the record from a dict (or subclass): the record is zeroed, then the
// known keys are converted in record order; the first invalid key ends the
// parse with -2 and its message, a non-dict with -2 "Invalid arguments".
// Keys it does not know are ignored. Leaves no Python exception pending.
bool ParseTradeRequest(PyObject* object, TradeRequestRecord* record);

// A new TradeRequest holding the record's fields, or null.
PyObject* MakeTradeRequest(const TradeRequestRecord& record);

}  // namespace brv::trading
