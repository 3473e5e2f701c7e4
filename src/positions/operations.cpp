#include "positions/operations.h"

#include "link/result.h"

namespace brv::positions {

using link::Body;

namespace {

int32_t GetList(uint32_t command, const Body& body, const RecordShape& shape, RecordList* out) {
  return link::CallList(command, body, shape.size, link::kPlainAllocator, out);
}

// Keeps the records whose symbol passes the group, in the list's own storage.
void KeepGroup(const GroupText& group, const RecordShape& shape, RecordList* list) {
  const uint32_t kept = FilterByGroup(group.units, shape, list->data(), list->count());
  if (kept != list->count()) list->Assign(list->Take(), link::kPlainAllocator, kept);
}

// The unfiltered list, then the group filter over it. The group itself is
// never sent.
int32_t GetGroup(uint32_t command, const Body& body, const RecordShape& shape, const GroupText& group,
                 RecordList* out) {
  int32_t result = GetList(command, body, shape, out);
  if (result >= 0) KeepGroup(group, shape, out);
  return result;
}

int32_t GetOne(uint32_t command, const Body& body, const RecordShape& shape, SingleRecord* out) {
  return link::CallRecord(command, body, out->bytes, shape.size);
}

Body Range(const TimeRange& range) { return Body().I64(range.from).I64(range.to); }

}  // namespace

int32_t PositionsTotal(uint32_t* total) { return link::CallValue(kCommandPositionsTotal, Body(), total); }
int32_t PositionsGetAll(RecordList* out) { return GetList(kCommandPositionsGet, Body(), kPositionShape, out); }
int32_t PositionsGetBySymbol(const ShortText& symbol, RecordList* out) {
  return GetList(kCommandPositionsGetBySymbol, Body().Text(symbol), kPositionShape, out);
}
int32_t PositionGetByTicket(uint64_t ticket, SingleRecord* out) {
  return GetOne(kCommandPositionGetByTicket, Body().U64(ticket), kPositionShape, out);
}
int32_t PositionsGetByGroup(const GroupText& group, RecordList* out) {
  return GetGroup(kCommandPositionsGet, Body(), kPositionShape, group, out);
}

int32_t OrdersTotal(uint32_t* total) { return link::CallValue(kCommandOrdersTotal, Body(), total); }
int32_t OrdersGetAll(RecordList* out) { return GetList(kCommandOrdersGet, Body(), kOrderShape, out); }
int32_t OrdersGetBySymbol(const ShortText& symbol, RecordList* out) {
  return GetList(kCommandOrdersGetBySymbol, Body().Text(symbol), kOrderShape, out);
}
int32_t OrderGetByTicket(uint64_t ticket, SingleRecord* out) {
  return GetOne(kCommandOrderGetByTicket, Body().U64(ticket), kOrderShape, out);
}
int32_t OrdersGetByGroup(const GroupText& group, RecordList* out) {
  return GetGroup(kCommandOrdersGet, Body(), kOrderShape, group, out);
}

int32_t HistoryOrdersTotal(const TimeRange& range, uint32_t* total) {
  return link::CallValue(kCommandHistoryOrdersTotal, Range(range), total);
}
int32_t HistoryOrdersGet(const TimeRange& range, RecordList* out) {
  return GetList(kCommandHistoryOrdersGet, Range(range), kOrderShape, out);
}
int32_t HistoryOrdersGetByGroup(const TimeRange& range, const GroupText& group, RecordList* out) {
  return GetGroup(kCommandHistoryOrdersGet, Range(range), kOrderShape, group, out);
}
int32_t HistoryOrdersGetByPosition(uint64_t position, RecordList* out) {
  return GetList(kCommandHistoryOrdersGetByPosition, Body().U64(position), kOrderShape, out);
}
int32_t HistoryOrderGetByTicket(uint64_t ticket, SingleRecord* out) {
  return GetOne(kCommandHistoryOrderGetByTicket, Body().U64(ticket), kOrderShape, out);
}

int32_t HistoryDealsTotal(const TimeRange& range, uint32_t* total) {
  return link::CallValue(kCommandHistoryDealsTotal, Range(range), total);
}
int32_t HistoryDealsGet(const TimeRange& range, RecordList* out) {
  return GetList(kCommandHistoryDealsGet, Range(range), kDealShape, out);
}
int32_t HistoryDealsGetByGroup(const TimeRange& range, const GroupText& group, RecordList* out) {
  return GetGroup(kCommandHistoryDealsGet, Range(range), kDealShape, group, out);
}
int32_t HistoryDealsGetByPosition(uint64_t position, RecordList* out) {
  return GetList(kCommandHistoryDealsGetByPosition, Body().U64(position), kDealShape, out);
}
int32_t HistoryDealGetByTicket(uint64_t ticket, SingleRecord* out) {
  return GetOne(kCommandHistoryDealGetByTicket, Body().U64(ticket), kDealShape, out);
}

}  // namespace brv::positions
