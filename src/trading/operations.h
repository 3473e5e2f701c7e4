// Client operations of the trading family: one exchange each, returning the
// call cycle's result code (the status when >= 0, else a negative code).
#pragma once

#include <cstdint>

#include "link/records.h"
#include "link/text_field.h"

namespace brv::trading {

// The trade request record that order_check and order_send send: 232 packed
// little-endian bytes, the same in memory and on the wire.
constexpr uint32_t kTradeRequestSize = records::TradeRequest::kSize;
struct TradeRequestRecord {
  uint8_t bytes[kTradeRequestSize];
};

constexpr uint32_t kCommandOrderCheck = 160;
constexpr uint32_t kCommandOrderSend = 161;
constexpr uint32_t kCommandOrderCalcMargin = 162;
constexpr uint32_t kCommandOrderCalcProfit = 163;

constexpr uint32_t kCheckResultSize = records::CheckResult::kSize;
constexpr uint32_t kSendResultSize = records::SendResult::kSize;

struct CheckResultRecord {
  uint8_t bytes[kCheckResultSize];
};
struct SendResultRecord {
  uint8_t bytes[kSendResultSize];
};

// The request record as the body, the result record as the single record.
int32_t OrderCheck(const TradeRequestRecord& request, CheckResultRecord* result);
int32_t OrderSend(const TradeRequestRecord& request, SendResultRecord* result);

// The amount of the reply in *amount. Without a symbol or an amount, -10000
// and nothing is sent.
int32_t OrderCalcMargin(uint32_t action, const ShortText* symbol, double volume, double price, double* amount);
int32_t OrderCalcProfit(uint32_t action, const ShortText* symbol, double volume, double price_open,
                        double price_close, double* amount);

}  // namespace brv::trading
