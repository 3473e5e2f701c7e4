// The 11 record types (struct sequences with an _asdict method) and the
// table-driven decoding of a packed little-endian wire record into one
// (the tables themselves are in link/records.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/records.h"
#include "module/python.h"

namespace brv {

// Registers the types in the module; a type that cannot be created is left out.
void RegisterRecordTypes(PyObject* module);

// A new record of the layout's type from one wire record, or null (with no
// exception pending) when it cannot be created.
PyObject* DecodeRecord(const RecordLayout& layout, const uint8_t* record);
// A new tuple of `count` records laid back to back, or null.
PyObject* DecodeRecordTuple(const RecordLayout& layout, const uint8_t* records, uint32_t count);
// The same, but a failure gives None with -1 "Terminal: Call failed", as
// every function reports a result it cannot build.
PyObject* DecodeRecordOrFail(const RecordLayout& layout, const uint8_t* record);
PyObject* DecodeRecordTupleOrFail(const RecordLayout& layout, const uint8_t* records, uint32_t count);
// A new, empty instance of a record type, or null.
PyObject* NewRecord(RecordType type);

}  // namespace brv
