// The wire records of positions, orders (current and history) and deals
// (their tables are in link/records.h), and where each holds its symbol for
// the group filter.
#pragma once

#include "link/records.h"
#include "positions/group.h"

namespace brv::positions {

constexpr RecordLayout kPositionRecord = LayoutOf<records::Position>(kTradePosition);
constexpr RecordLayout kOrderRecord = LayoutOf<records::Order>(kTradeOrder);
constexpr RecordLayout kDealRecord = LayoutOf<records::Deal>(kTradeDeal);

constexpr RecordShape kPositionShape = {records::Position::kSize, records::Position::symbol.offset};
constexpr RecordShape kOrderShape = {records::Order::kSize, records::Order::symbol.offset};
constexpr RecordShape kDealShape = {records::Deal::kSize, records::Deal::symbol.offset};
static_assert(records::Position::symbol.count == kSymbolUnits && records::Order::symbol.count == kSymbolUnits &&
                  records::Deal::symbol.count == kSymbolUnits,
              "the group filter reads symbols of 32 units");

// Room for the largest of the three, for a record read by ticket.
constexpr uint32_t kMaxRecordSize = records::Order::kSize;
static_assert(kMaxRecordSize >= records::Position::kSize && kMaxRecordSize >= records::Deal::kSize,
              "the order record is the largest");

}  // namespace brv::positions
