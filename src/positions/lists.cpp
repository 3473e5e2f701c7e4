// The entry points of the four record list families: open positions and
// orders (count, all, symbol=, ticket=, group=) and history orders and deals
// (count in a date range; a range with an optional group, position=,
// ticket=). Each family is a table of its client operations.
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"
#include "positions/operations.h"

namespace brv::positions {
namespace {

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

PyObject* Invalid(const char* message) {
  SetError(kInvalidParams, message);
  Py_RETURN_NONE;
}

PyObject* Count(int32_t result, uint32_t total) {
  if (result < 0) return ReportCode(result);
  return PyLong_FromUnsignedLong(total);
}

// A ticket the terminal does not find (-4, or status 0) is an empty result,
// not a failure.
PyObject* TicketResult(int32_t result, const RecordLayout& layout, const SingleRecord& record) {
  if (result == kNotFound || result == 0) return PyTuple_New(0);
  return RecordTupleResult(result, layout, record.bytes, 1);
}

bool HasKeywords(PyObject* kwargs) { return kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0; }


PyObject* CurrentTotal(const CurrentFamily& family) {
  uint32_t total = 0;
  int32_t result = family.total(&total);
  return Count(result, total);
}

PyObject* CurrentGet(const CurrentFamily& family, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0) return Invalid("Unnamed arguments not allowed");
  PyObject* value;
  if ((value = Keyword(kwargs, "ticket")) != nullptr) {
    uint64_t ticket = 0;
    if (!ConvertU64(value, &ticket)) return Invalid("Invalid \"ticket\" argument");
    SingleRecord record;
    int32_t result = family.get_by_ticket(ticket, &record);
    return TicketResult(result, family.layout, record);
  }
  RecordList list;
  if ((value = Keyword(kwargs, "symbol")) != nullptr) {
    ShortText symbol;
    if (!ConvertText(value, &symbol)) return Invalid("Invalid \"symbol\" argument");
    int32_t result = family.get_by_symbol(symbol, &list);
    return RecordTupleResult(result, family.layout, list.data(), list.count());
  }
  if ((value = Keyword(kwargs, "group")) != nullptr) {
    GroupText group;
    if (!ConvertText(value, &group)) return Invalid("Invalid \"group\" argument");
    int32_t result = family.get_by_group(group, &list);
    return RecordTupleResult(result, family.layout, list.data(), list.count());
  }
  int32_t result = family.get_all(&list);
  return RecordTupleResult(result, family.layout, list.data(), list.count());
}

PyObject* HistoryTotal(const HistoryFamily& family, PyObject* args) {
  int32_t from = 0, to = 0;
  if (PyTuple_GET_SIZE(args) != 2 || !ConvertTime(PyTuple_GET_ITEM(args, 0), &from) ||
      !ConvertTime(PyTuple_GET_ITEM(args, 1), &to)) {
    return Invalid("Invalid arguments");
  }
  uint32_t total = 0;
  int32_t result = family.total(TimeRange{from, to}, &total);
  return Count(result, total);
}

PyObject* HistoryGet(const HistoryFamily& family, PyObject* args, PyObject* kwargs) {
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  PyObject* value;
  RecordList list;
  if (positional == 2) {
    // The range form: ticket and position are not looked at.
    int32_t from = 0, to = 0;
    if (!ConvertTime(PyTuple_GET_ITEM(args, 0), &from) || !ConvertTime(PyTuple_GET_ITEM(args, 1), &to)) {
      return Invalid("Invalid arguments");
    }
    const TimeRange range{from, to};
    if ((value = Keyword(kwargs, "group")) != nullptr) {
      GroupText group;
      if (!ConvertText(value, &group)) return Invalid("Invalid \"group\" argument");
      int32_t result = family.get_by_group(range, group, &list);
      return RecordTupleResult(result, family.layout, list.data(), list.count());
    }
    int32_t result = family.get(range, &list);
    return RecordTupleResult(result, family.layout, list.data(), list.count());
  }
  if (!HasKeywords(kwargs)) return Invalid("Invalid arguments");
  if ((value = Keyword(kwargs, "ticket")) != nullptr) {
    if (positional != 0) return Invalid("Unnamed arguments not allowed");
    uint64_t ticket = 0;
    if (!ConvertU64(value, &ticket)) return Invalid("Invalid \"ticket\" argument");
    SingleRecord record;
    int32_t result = family.get_by_ticket(ticket, &record);
    return TicketResult(result, family.layout, record);
  }
  if ((value = Keyword(kwargs, "position")) != nullptr) {
    if (positional != 0) return Invalid("Unnamed arguments not allowed");
    uint64_t position = 0;
    if (!ConvertU64(value, &position)) return Invalid("Invalid \"position\" argument");
    int32_t result = family.get_by_position(position, &list);
    return RecordTupleResult(result, family.layout, list.data(), list.count());
  }
  return Invalid("Invalid arguments");
}


const CurrentFamily kPositions = {
    kPositionRecord, PositionsTotal, PositionsGetAll, PositionsGetBySymbol, PositionGetByTicket, PositionsGetByGroup,
};
const CurrentFamily kOrders = {
    kOrderRecord, OrdersTotal, OrdersGetAll, OrdersGetBySymbol, OrderGetByTicket, OrdersGetByGroup,
};
const HistoryFamily kHistoryOrders = {
    kOrderRecord, HistoryOrdersTotal, HistoryOrdersGet,
    HistoryOrdersGetByGroup, HistoryOrdersGetByPosition, HistoryOrderGetByTicket,
};
const HistoryFamily kHistoryDeals = {
    kDealRecord, HistoryDealsTotal, HistoryDealsGet,
    HistoryDealsGetByGroup, HistoryDealsGetByPosition, HistoryDealGetByTicket,
};

}  // namespace
}  // namespace brv::positions

namespace brv::api {

PyObject* positions_total(PyObject*, PyObject*) {
  ResetError();
  return positions::CurrentTotal(positions::kPositions);
}

PyObject* positions_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::CurrentGet(positions::kPositions, args, kwargs);
}

PyObject* orders_total(PyObject*, PyObject*) {
  ResetError();
  return positions::CurrentTotal(positions::kOrders);
}

PyObject* orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::CurrentGet(positions::kOrders, args, kwargs);
}

PyObject* history_orders_total(PyObject*, PyObject* args) {
  ResetError();
  return positions::HistoryTotal(positions::kHistoryOrders, args);
}

PyObject* history_orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::HistoryGet(positions::kHistoryOrders, args, kwargs);
}

PyObject* history_deals_total(PyObject*, PyObject* args) {
  ResetError();
  return positions::HistoryTotal(positions::kHistoryDeals, args);
}

PyObject* history_deals_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::HistoryGet(positions::kHistoryDeals, args, kwargs);
}

}  // namespace brv::api
