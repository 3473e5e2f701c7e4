// The trade request record that order_check and order_send send: 232 packed
// little-endian bytes, filled from a Python dictionary and handed back to
// Python as a TradeRequest inside their results.
#pragma once

#include <cstdint>

#include "module/python.h"

namespace brv::trading {

constexpr uint32_t kTradeRequestSize = 232;

// The record's byte image, the same in memory and on the wire.
struct TradeRequestRecord {
  uint8_t bytes[kTradeRequestSize];
};

// Fills the record from a dict (or subclass): the record is zeroed, then the
// known keys are converted in record order; the first invalid key ends the
// parse with -2 and its message, a non-dict with -2 "Invalid arguments".
// Keys it does not know are ignored. Leaves no Python exception pending.
bool ParseTradeRequest(PyObject* object, TradeRequestRecord* record);

// A new TradeRequest holding the record's fields, or null.
PyObject* MakeTradeRequest(const TradeRequestRecord& record);

}  // namespace brv::trading
