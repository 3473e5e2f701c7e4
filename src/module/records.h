// The 11 record types (struct sequences with an _asdict method) and the
// table-driven decoding of a packed little-endian wire record into one
// (the tables themselves are in link/records.h). Helpers here return their
// value or leave a Python exception set; the guard of each module function
// clears it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/records.h"
#include "module/python.h"

namespace brv {

// Registers the types in the module; false, with the exception set, when
// one cannot be made.
bool RegisterRecordTypes(PyObject* module);

// A new record of the layout's type from one wire record, or null with the
// exception set.
PyObject* DecodeRecord(const RecordLayout& layout, const uint8_t* record);
// A new tuple of `count` records laid back to back, or null with the
// exception set. Values that repeat from record to record are shared.
PyObject* DecodeRecordTuple(const RecordLayout& layout, const uint8_t* records, uint32_t count);
// A function's result from a client operation's: a negative result code is
// reported (None); otherwise the record, or the tuple of `count` records in
// the order received, or None with -1 "Terminal: Call failed" when it cannot
// be built (the exception is left to the function's guard).
PyObject* RecordResult(int32_t result, const RecordLayout& layout, const uint8_t* record);
PyObject* RecordTupleResult(int32_t result, const RecordLayout& layout, const uint8_t* records, uint32_t count);
// A new, empty instance of a record type, or null with the exception set.
PyObject* NewRecord(RecordType type);

}  // namespace brv
