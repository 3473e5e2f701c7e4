// Wire records: fixed-size packed little-endian byte images, each described
// by a table of its fields (offset, kind, and the position of the field in
// the record type that Python gets). Free of Python: the client operations
// and the module's decoder share them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brv {

// In registration order.
enum RecordType : int {
  kTradePosition,
  kTradeOrder,
  kTradeDeal,
  kTradeRequest,
  kOrderSendResult,
  kOrderCheckResult,
  kTick,
  kTerminalInfo,
  kSymbolInfo,
  kAccountInfo,
  kBookInfo,
  kRecordTypeCount,
};

// How one field of a wire record becomes one item of a record.
enum class Wire : uint8_t {
  Flag,  // one byte, True when not 0
  U32,
  I32,
  U64,
  I64,
  F64,
  Text,  // `units` UTF-16 units, read up to the first NUL
};

struct WireField {
  uint16_t offset;
  Wire type;
  uint16_t units;  // text fields only
  uint8_t index;   // position in the record type
};

// A wire record: its size and where each item of its record type comes from.
struct RecordLayout {
  RecordType type;
  uint32_t size;
  const WireField* fields;
  uint8_t field_count;
};

// Field table shorthands, so a table reads like the record description.
constexpr WireField Flag(uint16_t offset, uint8_t index) { return {offset, Wire::Flag, 0, index}; }
constexpr WireField U32(uint16_t offset, uint8_t index) { return {offset, Wire::U32, 0, index}; }
constexpr WireField I32(uint16_t offset, uint8_t index) { return {offset, Wire::I32, 0, index}; }
constexpr WireField U64(uint16_t offset, uint8_t index) { return {offset, Wire::U64, 0, index}; }
constexpr WireField I64(uint16_t offset, uint8_t index) { return {offset, Wire::I64, 0, index}; }
constexpr WireField F64(uint16_t offset, uint8_t index) { return {offset, Wire::F64, 0, index}; }
constexpr WireField Text(uint16_t offset, uint16_t units, uint8_t index) {
  return {offset, Wire::Text, units, index};
}

template <size_t N>
constexpr RecordLayout MakeLayout(RecordType type, uint32_t size, const WireField (&fields)[N]) {
  return RecordLayout{type, size, fields, uint8_t(N)};
}

// Little-endian loads from unaligned wire bytes.
uint32_t LoadU32(const uint8_t* p);
uint64_t LoadU64(const uint8_t* p);
double LoadF64(const uint8_t* p);

}  // namespace brv
