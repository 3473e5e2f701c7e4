#include "positions/lists.h"

#include "module/convert.h"
#include "module/errors.h"
#include "module/records.h"

namespace brv::positions {
namespace {

PyObject* Invalid(const char* message) {
  SetError(kInvalidParams, message);
  Py_RETURN_NONE;
}

PyObject* Count(int32_t result, uint32_t total) {
  if (result < 0) return ReportCode(result);
  return PyLong_FromUnsignedLong(total);
}

PyObject* ListResult(int32_t result, const RecordLayout& layout, const RecordList& list) {
  if (result < 0) return ReportCode(result);
  return DecodeRecordTupleOrFail(layout, list.data(), list.count());
}

// A ticket the terminal does not find (-4, or status 0) is an empty result,
// not a failure.
PyObject* TicketResult(int32_t result, const RecordLayout& layout, const SingleRecord& record) {
  if (result == kNotFound || result == 0) return PyTuple_New(0);
  if (result < 0) return ReportCode(result);
  return DecodeRecordTupleOrFail(layout, record.bytes, 1);
}

bool HasKeywords(PyObject* kwargs) { return kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0; }

}  // namespace

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
    return ListResult(result, family.layout, list);
  }
  if ((value = Keyword(kwargs, "group")) != nullptr) {
    GroupText group;
    if (!ConvertText(value, &group)) return Invalid("Invalid \"group\" argument");
    int32_t result = family.get_by_group(group, &list);
    return ListResult(result, family.layout, list);
  }
  int32_t result = family.get_all(&list);
  return ListResult(result, family.layout, list);
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
      return ListResult(result, family.layout, list);
    }
    int32_t result = family.get(range, &list);
    return ListResult(result, family.layout, list);
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
    return ListResult(result, family.layout, list);
  }
  return Invalid("Invalid arguments");
}

}  // namespace brv::positions
