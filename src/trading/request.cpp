#include "trading/request.h"

#include <cstdio>
#include <cstring>

#include "module/convert.h"
#include "module/errors.h"
#include "module/records.h"

namespace brv::trading {
namespace {

// The record, field by field: (offset, TradeRequest index), texts with their
// 32 units. The dictionary key of each field is its TradeRequest name.
constexpr WireField kTradeRequestFields[] = {
    U32(0, 0),         // action
    U64(4, 1),         // magic
    U64(12, 2),        // order
    Text(20, 32, 3),   // symbol
    F64(84, 4),        // volume
    F64(92, 5),        // price
    F64(100, 6),       // stoplimit
    F64(108, 7),       // sl
    F64(116, 8),       // tp
    U64(124, 9),       // deviation
    U32(132, 10),      // type
    U32(136, 11),      // type_filling
    U32(140, 12),      // type_time
    I64(144, 13),      // expiration
    Text(152, 32, 14),  // comment
    U64(216, 15),      // position
    U64(224, 16),      // position_by
};
constexpr RecordLayout kTradeRequestRecord = MakeLayout(kTradeRequest, kTradeRequestSize, kTradeRequestFields);

constexpr const char* kKeys[] = {
    "action", "magic", "order", "symbol", "volume", "price", "stoplimit", "sl", "tp", "deviation",
    "type", "type_filling", "type_time", "expiration", "comment", "position", "position_by",
};
static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == sizeof(kTradeRequestFields) / sizeof(kTradeRequestFields[0]),
              "one key per field");

void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void StoreU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Converts one present key into its field; false when the value is invalid.
bool ConvertField(PyObject* value, const WireField& field, uint8_t* record) {
  uint8_t* p = record + field.offset;
  switch (field.type) {
    case Wire::U32: {
      uint32_t v = 0;
      if (!ConvertU32(value, &v)) return false;
      StoreU32(p, v);
      return true;
    }
    case Wire::U64: {
      uint64_t v = 0;
      if (!ConvertU64(value, &v)) return false;
      StoreU64(p, v);
      return true;
    }
    case Wire::I64: {
      int64_t v = 0;
      if (!ConvertI64(value, &v)) return false;
      StoreU64(p, uint64_t(v));
      return true;
    }
    case Wire::F64: {
      double v = 0;
      if (!ConvertDouble(value, &v)) return false;
      uint64_t bits;
      std::memcpy(&bits, &v, sizeof(bits));
      StoreU64(p, bits);
      return true;
    }
    case Wire::Text: {
      ShortText text;
      if (!ConvertText(value, &text)) return false;
      for (size_t i = 0; i < ShortText::kUnits; ++i) {
        p[2 * i] = uint8_t(text.units[i]);
        p[2 * i + 1] = uint8_t(text.units[i] >> 8);
      }
      return true;
    }
    case Wire::Flag:
    case Wire::I32:
      break;
  }
  return false;
}

}  // namespace

bool ParseTradeRequest(PyObject* object, TradeRequestRecord* record) {
  if (object == nullptr || !PyDict_Check(object)) {
    SetError(kInvalidParams, "Invalid arguments");
    return false;
  }
  std::memset(record->bytes, 0, sizeof(record->bytes));
  for (size_t i = 0; i < sizeof(kKeys) / sizeof(kKeys[0]); ++i) {
    PyObject* value = Keyword(object, kKeys[i]);
    if (value == nullptr) continue;  // absent: the field keeps its default
    if (!ConvertField(value, kTradeRequestFields[i], record->bytes)) {
      char message[64];
      std::snprintf(message, sizeof(message), "Invalid \"%s\" argument", kKeys[i]);
      SetError(kInvalidParams, message);
      return false;
    }
  }
  return true;
}

PyObject* MakeTradeRequest(const TradeRequestRecord& record) {
  return DecodeRecord(kTradeRequestRecord, record.bytes);
}

}  // namespace brv::trading
