#include "book/operations.h"

#include "link/result.h"

namespace brv::book {

using link::Body;

int32_t MarketBookAdd(const ShortText& symbol) {
  return link::CallStatus(kCommandMarketBookAdd, Body().Text(symbol));
}

int32_t MarketBookRelease(const ShortText& symbol) {
  return link::CallStatus(kCommandMarketBookRelease, Body().Text(symbol));
}

int32_t MarketBookGet(const ShortText& symbol, link::Block* entries) {
  if (entries == nullptr) return kIpcCallFailed;
  return link::CallList(kCommandMarketBookGet, Body().Text(symbol), kBookEntrySize, link::kPlainAllocator,
                        entries);
}

}  // namespace brv::book
