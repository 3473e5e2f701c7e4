#include "module/records.h"

#include <cstring>

#include "module/convert.h"
#include "module/errors.h"

namespace brv {
namespace {

struct TypeDescription {
  const char* name;
  const char* doc;
  const WireField* fields;  // the record's table; its items are the type's fields
  int field_count;
  int item_count;
};

template <class Record>
constexpr TypeDescription Describe(const char* name, const char* doc) {
  return TypeDescription{name, doc, Record::kFields, int(sizeof(Record::kFields) / sizeof(WireField)),
                         int(ItemCount(Record::kFields))};
}

const TypeDescription kTypes[kRecordTypeCount] = {
    Describe<records::Position>("TradePosition", "Trade position structure"),
    Describe<records::Order>("TradeOrder", "Trade order structure"),
    Describe<records::Deal>("TradeDeal", "Trade deal structure"),
    Describe<records::TradeRequest>("TradeRequest", "Trade request structure"),
    Describe<records::SendResult>("OrderSendResult", "order_send result structure"),
    Describe<records::CheckResult>("OrderCheckResult", "order_check result structure"),
    Describe<records::Tick>("Tick", "This is a structure for storing latest symbol prices"),
    Describe<records::Terminal>("TerminalInfo", "This is a structure for storing terminal information"),
    Describe<records::Symbol>("SymbolInfo", "This is a structure for storing symbol information"),
    Describe<records::Account>("AccountInfo", "This is a structure for storing account information"),
    Describe<records::BookEntry>("BookInfo", "This is a structure for storing Depth of Market information"),
};
constexpr int kMaxItems = 96;
static_assert(ItemCount(records::Symbol::kFields) == kMaxItems, "SymbolInfo has the most fields");

PyTypeObject g_type_objects[kRecordTypeCount];
bool g_registered[kRecordTypeCount] = {};
// Field descriptions handed to PyStructSequence_InitType2, in the order of
// the items; they must outlive the types.
PyStructSequence_Field g_field_specs[kRecordTypeCount][kMaxItems + 1];
PyStructSequence_Desc g_descs[kRecordTypeCount];
// The one empty string every empty text field decodes to.
PyObject* g_empty = nullptr;
// Types whose instances are made and released here directly (below): those
// whose every field is visible, as registered.
bool g_direct[kRecordTypeCount] = {};

// The order in which _asdict tells an instance's type.
const RecordType kAsDictOrder[] = {kTradePosition, kTradeOrder, kTradeDeal, kOrderSendResult,
                                   kTradeRequest, kOrderCheckResult, kTick, kTerminalInfo,
                                   kSymbolInfo, kAccountInfo, kBookInfo};

// The dictionary of a record, or null with the exception set.
PyObject* MakeDict(PyObject* self, int type) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (int i = 0; i < kTypes[type].item_count; ++i) {
    PyObject* item = PyTuple_GET_ITEM(self, i);
    if (item != nullptr && PyDict_SetItemString(dict.get(), g_field_specs[type][i].name, item) != 0) return nullptr;
  }
  return dict.release();
}

// _asdict is called on a record, not through the module's functions, so it
// has its own guard: no exception leaves it, a failure is told by last_error().
PyObject* AsDict(PyObject* self, PyObject*) {
  int type = -1;
  for (RecordType t : kAsDictOrder) {
    if (g_registered[t] && PyObject_TypeCheck(self, &g_type_objects[t])) {
      type = t;
      break;
    }
  }
  if (type < 0) {
    SetError(kInvalidParams, "Invalid object type");
    Py_RETURN_NONE;
  }
  if (PyTuple_GET_SIZE(self) != kTypes[type].item_count) {
    SetError(kInvalidParams, "Invalid tuple size");
    Py_RETURN_NONE;
  }
  PyObject* dict = MakeDict(self, type);
  if (dict == nullptr) {
    PyErr_Clear();
    SetError(kOutOfMemory, "Can't create dictionary");
    Py_RETURN_NONE;
  }
  return dict;
}

PyMethodDef g_asdict_def = {"_asdict", AsDict, METH_NOARGS, "Convert named tuple object to dictionary"};

// A record's slots are its items, all visible, so that an instance is a
// plain tuple-sized block: made without PyStructSequence_New's two lookups
// of the type's sizes, and released without the one of its dealloc.
PyObject* NewDirect(PyTypeObject* type, Py_ssize_t items) {
  PyTupleObject* record = PyObject_GC_NewVar(PyTupleObject, type, items);
  if (record == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < items; ++i) record->ob_item[i] = nullptr;
  return reinterpret_cast<PyObject*>(record);
}

void ReleaseDirect(PyObject* self) {
  PyObject_GC_UnTrack(self);
  for (Py_ssize_t i = 0, n = Py_SIZE(self); i < n; ++i) Py_XDECREF(PyTuple_GET_ITEM(self, i));
  PyObject_GC_Del(self);
}

// Does the registered type hold exactly `items` slots, all visible?
bool AllVisible(PyTypeObject* type, int items) {
  static const char* const kSizes[] = {"n_fields", "n_sequence_fields"};
  for (const char* name : kSizes) {
    Ref value(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    if (!value) return false;
    if (PyLong_AsSsize_t(value.get()) != items) return false;
  }
  return true;
}

// A text field of `units` UTF-16 units, read up to its first NUL. Most texts
// are ASCII: those are copied unit by unit into a one-byte string; any other
// goes through the UTF-16 decoder (lone surrogates kept).
PyObject* TextItem(const uint8_t* p, size_t units) {
  size_t n = 0;
  unsigned all = 0;  // every unit of the text OR-ed together
  while (n < units) {
    const unsigned u = unsigned(p[2 * n]) | unsigned(p[2 * n + 1]) << 8;
    if (u == 0) break;
    all |= u;
    ++n;
  }
  if (n == 0) {
    Py_INCREF(g_empty);
    return g_empty;
  }
  if (all >= 0x80) return WireTextToPython(p, n);
  PyObject* text = PyUnicode_New(Py_ssize_t(n), 127);
  if (text == nullptr) return nullptr;
  Py_UCS1* out = PyUnicode_1BYTE_DATA(text);
  for (size_t i = 0; i < n; ++i) out[i] = p[2 * i];
  return text;
}

// A new item from one field, or null with the exception set.
PyObject* ItemFromWire(const WireField& f, const uint8_t* record) {
  const uint8_t* p = record + f.offset;
  switch (f.type) {
    case Wire::Flag: return NewBool(*p != 0);
    case Wire::U32: return PyLong_FromUnsignedLong(LoadU32(p));
    case Wire::I32: return PyLong_FromLong(int32_t(LoadU32(p)));
    case Wire::U64: {
      const uint64_t v = LoadU64(p);
      return v <= uint64_t(INT64_MAX) ? PyLong_FromLongLong(int64_t(v)) : PyLong_FromUnsignedLongLong(v);
    }
    case Wire::I64: return PyLong_FromLongLong(int64_t(LoadU64(p)));
    case Wire::F64: return PyFloat_FromDouble(LoadF64(p));
    case Wire::Text: return TextItem(p, f.count);
    case Wire::Reserved:
    case Wire::Attached: break;
  }
  PyErr_SetString(PyExc_SystemError, "a field without an item");
  return nullptr;
}

// Are the bytes of one field the same in two records?
bool SameBytes(const WireField& f, const uint8_t* a, const uint8_t* b) {
  a += f.offset;
  b += f.offset;
  switch (f.type) {
    case Wire::Flag: return *a == *b;
    case Wire::U32:
    case Wire::I32: return LoadU32(a) == LoadU32(b);
    case Wire::U64:
    case Wire::I64:
    case Wire::F64: return LoadU64(a) == LoadU64(b);
    default: return std::memcmp(a, b, Width(f)) == 0;
  }
}

// The strings of the last distinct symbols of one reply, so that records of
// the same symbol share one string. Holds a reference to each.
class SymbolMemo {
 public:
  static constexpr size_t kFieldBytes = 64;
  SymbolMemo() = default;
  SymbolMemo(const SymbolMemo&) = delete;
  SymbolMemo& operator=(const SymbolMemo&) = delete;
  ~SymbolMemo() {
    for (int i = 0; i < used_; ++i) Py_DECREF(texts_[i]);
  }
  // A new reference to the string of this field, or null with the exception set.
  PyObject* Get(const WireField& f, const uint8_t* record) {
    const uint8_t* field = record + f.offset;
    for (int k = 0; k < used_; ++k) {
      int i = last_ + k < used_ ? last_ + k : last_ + k - used_;  // the last hit first
      if (std::memcmp(fields_[i], field, kFieldBytes) == 0) {
        last_ = i;
        Py_INCREF(texts_[i]);
        return texts_[i];
      }
    }
    PyObject* text = TextItem(field, f.count);
    if (text == nullptr) return nullptr;
    int i;
    if (used_ < kEntries) {
      i = used_++;
    } else {
      i = next_++ % kEntries;
      Py_DECREF(texts_[i]);
    }
    std::memcpy(fields_[i], field, kFieldBytes);
    Py_INCREF(text);
    texts_[i] = text;
    last_ = i;
    return text;
  }

 private:
  static constexpr int kEntries = 16;
  uint8_t fields_[kEntries][kFieldBytes];
  PyObject* texts_[kEntries];
  int used_ = 0;
  int next_ = 0;
  int last_ = 0;
};

// Decodes the records of one reply. Values that repeat are shared rather
// than made again: a field with the same bytes as in the previous record
// takes the previous record's item, and the symbol field takes the string of
// the same symbol seen before in the reply.
class ReplyDecoder {
 public:
  explicit ReplyDecoder(const RecordLayout& layout) : layout_(layout) {
    use_memo_ = layout.repeated >= 0 && layout.fields[layout.repeated].type == Wire::Text &&
                Width(layout.fields[layout.repeated]) == SymbolMemo::kFieldBytes;
  }

  // A new record, or null with the exception set.
  PyObject* Decode(const uint8_t* record) {
    Ref result(NewRecord(layout_.type));
    if (!result) return nullptr;
    for (uint8_t i = 0; i < layout_.field_count; ++i) {
      const WireField& f = layout_.fields[i];
      if (f.item == kNoItem || f.type == Wire::Attached) continue;
      PyObject* item;
      if (previous_ != nullptr && SameBytes(f, previous_bytes_, record)) {
        item = PyTuple_GET_ITEM(previous_, f.item);
        Py_INCREF(item);
      } else if (use_memo_ && i == layout_.repeated) {
        item = memo_.Get(f, record);
      } else {
        item = ItemFromWire(f, record);
      }
      if (item == nullptr) return nullptr;
      PyStructSequence_SET_ITEM(result.get(), f.item, item);
    }
    // A record holds only numbers, texts and, in a trade result, the
    // request record: it cannot be part of a cycle, so the collector need
    // not look at it (as it stops looking at such tuples).
    PyObject_GC_UnTrack(result.get());
    // The new record stays alive in the caller's tuple while it is the previous one.
    previous_ = result.get();
    previous_bytes_ = record;
    return result.release();
  }

 private:
  const RecordLayout& layout_;
  bool use_memo_ = false;
  PyObject* previous_ = nullptr;
  const uint8_t* previous_bytes_ = nullptr;
  SymbolMemo memo_;
};

}  // namespace

bool RegisterRecordTypes(PyObject* module) {
  g_empty = PyUnicode_FromStringAndSize("", 0);
  if (g_empty == nullptr) return false;
  Ref asdict_name(PyUnicode_InternFromString("_asdict"));
  if (!asdict_name) return false;
  for (int t = 0; t < kRecordTypeCount; ++t) {
    const TypeDescription& type_info = kTypes[t];
    for (int i = 0; i < type_info.field_count; ++i) {
      const WireField& f = type_info.fields[i];
      if (f.item != kNoItem) g_field_specs[t][f.item] = {f.name, nullptr};
    }
    g_field_specs[t][type_info.item_count] = {nullptr, nullptr};
    g_descs[t] = {type_info.name, type_info.doc, g_field_specs[t], type_info.item_count};
    PyTypeObject* type = &g_type_objects[t];
    if (PyStructSequence_InitType2(type, &g_descs[t]) != 0) return false;
    // From 3.14 a tuple caches its hash in the object, which only the
    // interpreter's own constructor initialises: those versions take the
    // regular path.
    g_direct[t] = PY_VERSION_HEX < 0x030E0000 && AllVisible(type, type_info.item_count);
    if (PyErr_Occurred()) return false;
    if (g_direct[t]) type->tp_dealloc = ReleaseDirect;
    Ref descr(PyDescr_NewMethod(type, &g_asdict_def));
    if (!descr || PyObject_GenericSetAttr(reinterpret_cast<PyObject*>(type), asdict_name.get(), descr.get()) != 0) {
      return false;
    }
    PyType_Modified(type);
    Py_INCREF(type);  // the module's reference
    if (PyModule_AddObject(module, type_info.name, reinterpret_cast<PyObject*>(type)) != 0) {
      Py_DECREF(type);
      return false;
    }
    g_registered[t] = true;
  }
  return true;
}

PyObject* NewRecord(RecordType type) {
  if (!g_registered[type]) {
    PyErr_SetString(PyExc_SystemError, "record type not registered");
    return nullptr;
  }
  if (g_direct[type]) return NewDirect(&g_type_objects[type], kTypes[type].item_count);
  return PyStructSequence_New(&g_type_objects[type]);
}

PyObject* DecodeRecord(const RecordLayout& layout, const uint8_t* record) {
  return ReplyDecoder(layout).Decode(record);
}

PyObject* DecodeRecordTuple(const RecordLayout& layout, const uint8_t* records, uint32_t count) {
  Ref tuple(PyTuple_New(Py_ssize_t(count)));
  if (!tuple) return nullptr;
  // It will hold only records, which cannot be part of a cycle: the
  // collector need not traverse it while it fills, nor after.
  PyObject_GC_UnTrack(tuple.get());
  ReplyDecoder decoder(layout);
  for (uint32_t i = 0; i < count; ++i) {
    PyObject* item = decoder.Decode(records + size_t(i) * layout.size);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), Py_ssize_t(i), item);
  }
  return tuple.release();
}

PyObject* RecordResult(int32_t code, const RecordLayout& layout, const uint8_t* record) {
  if (code < 0) return ReportCode(code);
  PyObject* result = DecodeRecord(layout, record);
  return result != nullptr ? result : ReportCode(kCallFailed);
}

PyObject* RecordTupleResult(int32_t code, const RecordLayout& layout, const uint8_t* records, uint32_t count) {
  if (code < 0) return ReportCode(code);
  PyObject* result = DecodeRecordTuple(layout, records, count);
  return result != nullptr ? result : ReportCode(kCallFailed);
}

}  // namespace brv
