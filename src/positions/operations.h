// Client operations of positions, orders, history orders and history deals:
// one exchange each, returning the call cycle's result code (the status when
// >= 0, else a negative code) and filling their out-parameters.
#pragma once

#include <cstdint>

#include "link/call.h"
#include "link/text_field.h"
#include "positions/layouts.h"

namespace brv::positions {

constexpr uint32_t kCommandPositionsTotal = 120;
constexpr uint32_t kCommandPositionsGet = 121;
constexpr uint32_t kCommandPositionsGetBySymbol = 122;
constexpr uint32_t kCommandPositionGetByTicket = 123;
constexpr uint32_t kCommandOrdersTotal = 130;
constexpr uint32_t kCommandOrdersGet = 131;
constexpr uint32_t kCommandOrdersGetBySymbol = 132;
constexpr uint32_t kCommandOrderGetByTicket = 133;
constexpr uint32_t kCommandHistoryOrdersTotal = 140;
constexpr uint32_t kCommandHistoryOrdersGet = 141;
constexpr uint32_t kCommandHistoryOrdersGetByPosition = 142;
constexpr uint32_t kCommandHistoryOrderGetByTicket = 143;
constexpr uint32_t kCommandHistoryDealsTotal = 150;
constexpr uint32_t kCommandHistoryDealsGet = 151;
constexpr uint32_t kCommandHistoryDealsGetByPosition = 152;
constexpr uint32_t kCommandHistoryDealGetByTicket = 153;

// The records of a list reply (after the group filter, when there is one)
// are held in a link::Block of the plain allocator.
using RecordList = link::Block;

// One record read by ticket.
struct SingleRecord {
  uint8_t bytes[kMaxRecordSize];
};

// A time range goes on the wire as two i64 seconds.
struct TimeRange {
  int64_t from;
  int64_t to;
};

int32_t PositionsTotal(uint32_t* total);
int32_t PositionsGetAll(RecordList* out);
int32_t PositionsGetBySymbol(const ShortText& symbol, RecordList* out);
int32_t PositionGetByTicket(uint64_t ticket, SingleRecord* out);
int32_t PositionsGetByGroup(const GroupText& group, RecordList* out);

int32_t OrdersTotal(uint32_t* total);
int32_t OrdersGetAll(RecordList* out);
int32_t OrdersGetBySymbol(const ShortText& symbol, RecordList* out);
int32_t OrderGetByTicket(uint64_t ticket, SingleRecord* out);
int32_t OrdersGetByGroup(const GroupText& group, RecordList* out);

int32_t HistoryOrdersTotal(const TimeRange& range, uint32_t* total);
int32_t HistoryOrdersGet(const TimeRange& range, RecordList* out);
int32_t HistoryOrdersGetByGroup(const TimeRange& range, const GroupText& group, RecordList* out);
int32_t HistoryOrdersGetByPosition(uint64_t position, RecordList* out);
int32_t HistoryOrderGetByTicket(uint64_t ticket, SingleRecord* out);

int32_t HistoryDealsTotal(const TimeRange& range, uint32_t* total);
int32_t HistoryDealsGet(const TimeRange& range, RecordList* out);
int32_t HistoryDealsGetByGroup(const TimeRange& range, const GroupText& group, RecordList* out);
int32_t HistoryDealsGetByPosition(uint64_t position, RecordList* out);
int32_t HistoryDealGetByTicket(uint64_t ticket, SingleRecord* out);

}  // namespace brv::positions
