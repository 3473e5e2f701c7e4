// The group filter: selects wire records by their symbol with a list of
// comma-separated wildcard patterns, "!" in front of a pattern excluding.
// Runs inside the module over the records of a reply; the group never goes
// over the pipe. Free of Python and of the pipe, so it is unit-tested alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brv::positions {

// A pattern item holds at most this many units; a longer item is cut.
constexpr size_t kPatternUnits = 255;

// Does `name` pass the group: at least one positive pattern matches and no
// "!" pattern does. Both NUL-terminated; an empty or missing group, or a
// missing name, gives false.
bool MatchGroup(const char16_t* group, const char16_t* name);

// Does `name` match one pattern (leading "!" ignored). "*" matches any run
// of units; the match never backtracks in the name, so a segment that can
// overlap itself misses some names ("*aa" does not match "aaa").
bool MatchPattern(const char16_t* pattern, const char16_t* name);

// Where the symbol sits in a wire record: a field of 32 UTF-16 units.
struct RecordShape {
  uint32_t size;
  uint32_t symbol_offset;
};
constexpr size_t kSymbolUnits = 32;

// Keeps the records (count records of `shape`) whose symbol passes the
// group, in place and in the order received: they become the first records
// of the array. Returns how many passed. Nothing is allocated, and nothing
// is copied while every record passes.
uint32_t FilterByGroup(const char16_t* group, const RecordShape& shape, uint8_t* records, uint32_t count);

}  // namespace brv::positions
