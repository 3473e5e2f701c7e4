// The shapes that positions, orders, history orders and history deals share:
// the count, the keyword precedence of the list function and the tuple of
// records. Each family names its record and its client operations once; its
// entry points reset the last error and hand over to these.
#pragma once

#include "module/python.h"
#include "positions/operations.h"

namespace brv::positions {

// Records the terminal holds now: positions and active orders.
struct CurrentFamily {
  const RecordLayout& layout;
  int32_t (*total)(uint32_t* total);
  int32_t (*get_all)(RecordList* out);
  int32_t (*get_by_symbol)(const ShortText& symbol, RecordList* out);
  int32_t (*get_by_ticket)(uint64_t ticket, SingleRecord* out);
  int32_t (*get_by_group)(const GroupText& group, RecordList* out);
};

// Records of the trade history: history orders and deals.
struct HistoryFamily {
  const RecordLayout& layout;
  int32_t (*total)(const TimeRange& range, uint32_t* total);
  int32_t (*get)(const TimeRange& range, RecordList* out);
  int32_t (*get_by_group)(const TimeRange& range, const GroupText& group, RecordList* out);
  int32_t (*get_by_position)(uint64_t position, RecordList* out);
  int32_t (*get_by_ticket)(uint64_t ticket, SingleRecord* out);
};

// positions_total(), orders_total(): the count as an int.
PyObject* CurrentTotal(const CurrentFamily& family);
// positions_get(), orders_get(): keywords only; the first present of
// ticket, symbol, group decides; none of them gives all records.
PyObject* CurrentGet(const CurrentFamily& family, PyObject* args, PyObject* kwargs);
// history_*_total(date_from, date_to).
PyObject* HistoryTotal(const HistoryFamily& family, PyObject* args);
// history_*_get(): two dates (with an optional group) before ticket= and
// position=.
PyObject* HistoryGet(const HistoryFamily& family, PyObject* args, PyObject* kwargs);

}  // namespace brv::positions
