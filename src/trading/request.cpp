#include "trading/request.h"

#include <cstdio>
#include <cstring>

#include "module/convert.h"
#include "module/errors.h"
#include "module/records.h"

namespace brv::trading {
namespace {

// The dictionary key of each field is its TradeRequest name.
using Fields = records::TradeRequest;
constexpr RecordLayout kTradeRequestRecord = LayoutOf<Fields>(kTradeRequest);
static_assert(Fields::symbol.count == ShortText::kUnits && Fields::comment.count == ShortText::kUnits,
              "the request's texts are short texts");

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
    case Wire::Reserved:
    case Wire::Attached:
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
  for (const WireField& field : Fields::kFields) {
    PyObject* value = Keyword(object, field.name);
    if (value == nullptr) continue;  // absent: the field keeps its default
    if (!ConvertField(value, field, record->bytes)) {
      char message[64];
      std::snprintf(message, sizeof(message), "Invalid \"%s\" argument", field.name);
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
