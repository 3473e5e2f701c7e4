#include "book/operations.h"

#include "link/result.h"

namespace brv::book {

using link::Body;

namespace {

// One level of the book, (offset, index in BookInfo).
constexpr WireField kBookEntryFields[] = {
    U32(0, 0),   // type
    F64(4, 1),   // price
    U64(12, 2),  // volume
    F64(20, 3),  // volume_dbl
};

}  // namespace

const RecordLayout kBookEntryRecord = MakeLayout(kBookInfo, kBookEntrySize, kBookEntryFields);

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
