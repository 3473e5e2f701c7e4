// Steps shared by the entry points of the account, terminal and symbol
// functions: the one-symbol argument and turning a result code and its
// records into the Python result.
#pragma once

#include <cstdint>

#include "link/call.h"
#include "module/convert.h"
#include "module/records.h"

namespace brv::market {

// Exactly one positional argument, a str of at most 29 units.
bool OneSymbolArgument(PyObject* args, ShortText* symbol);

// A negative result is reported (None); otherwise the record decoded, or
// -1 "Terminal: Call failed" when it cannot be made.
PyObject* RecordResult(int32_t result, const RecordLayout& layout, const uint8_t* record);
// The same for a record list: a tuple of records in the order received.
PyObject* RecordTupleResult(int32_t result, const RecordLayout& layout, const link::Block& records);

}  // namespace brv::market
