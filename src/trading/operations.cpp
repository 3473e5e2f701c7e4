#include "trading/operations.h"

#include "link/call.h"
#include "link/result.h"

namespace brv::trading {

using link::Body;

int32_t OrderCheck(const TradeRequestRecord& request, CheckResultRecord* result) {
  return link::CallRecord(kCommandOrderCheck, Body().Bytes(request.bytes, kTradeRequestSize), result->bytes,
                          kCheckResultSize);
}

int32_t OrderSend(const TradeRequestRecord& request, SendResultRecord* result) {
  return link::CallRecord(kCommandOrderSend, Body().Bytes(request.bytes, kTradeRequestSize), result->bytes,
                          kSendResultSize);
}

namespace {

// Both calculations answer with one double after the status.
int32_t CallAmount(uint32_t command, const Body& body, double* amount) {
  *amount = 0.0;
  return link::Call(command, body, [amount](link::PipeReader& r) { return r.Read(amount, sizeof(*amount)); });
}

}  // namespace

int32_t OrderCalcMargin(uint32_t action, const ShortText* symbol, double volume, double price, double* amount) {
  if (symbol == nullptr || amount == nullptr) return kIpcCallFailed;
  return CallAmount(kCommandOrderCalcMargin, Body().U32(action).Text(*symbol).F64(volume).F64(price), amount);
}

int32_t OrderCalcProfit(uint32_t action, const ShortText* symbol, double volume, double price_open,
                        double price_close, double* amount) {
  if (symbol == nullptr || amount == nullptr) return kIpcCallFailed;
  return CallAmount(kCommandOrderCalcProfit,
                    Body().U32(action).Text(*symbol).F64(volume).F64(price_open).F64(price_close), amount);
}

}  // namespace brv::trading
