// Client operations of the market book. Each performs one exchange and
// returns its result code.
#pragma once

#include <cstdint>

#include "link/call.h"
#include "link/records.h"
#include "link/text_field.h"

namespace brv::book {

constexpr uint32_t kCommandMarketBookAdd = 191;
constexpr uint32_t kCommandMarketBookRelease = 192;
constexpr uint32_t kCommandMarketBookGet = 193;

constexpr uint32_t kBookEntrySize = records::BookEntry::kSize;
constexpr RecordLayout kBookEntryRecord = LayoutOf<records::BookEntry>(kBookInfo);

int32_t MarketBookAdd(const ShortText& symbol);
int32_t MarketBookRelease(const ShortText& symbol);
// Book entry records into plain storage.
int32_t MarketBookGet(const ShortText& symbol, link::Block* entries);

}  // namespace brv::book
