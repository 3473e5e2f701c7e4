#include "module/records.h"

#include <cstring>

#include "module/convert.h"
#include "module/errors.h"

namespace brv {
namespace {

const char* const kTradePositionFields[] = {
    "ticket", "time", "time_msc", "time_update", "time_update_msc", "type", "magic",
    "identifier", "reason", "volume", "price_open", "sl", "tp", "price_current", "swap",
    "profit", "symbol", "comment", "external_id"};
const char* const kTradeOrderFields[] = {
    "ticket", "time_setup", "time_setup_msc", "time_done", "time_done_msc", "time_expiration",
    "type", "type_time", "type_filling", "state", "magic", "position_id", "position_by_id",
    "reason", "volume_initial", "volume_current", "price_open", "sl", "tp", "price_current",
    "price_stoplimit", "symbol", "comment", "external_id"};
const char* const kTradeDealFields[] = {
    "ticket", "order", "time", "time_msc", "type", "entry", "magic", "position_id", "reason",
    "volume", "price", "commission", "swap", "profit", "fee", "symbol", "comment", "external_id"};
const char* const kTradeRequestFields[] = {
    "action", "magic", "order", "symbol", "volume", "price", "stoplimit", "sl", "tp",
    "deviation", "type", "type_filling", "type_time", "expiration", "comment", "position",
    "position_by"};
const char* const kOrderSendResultFields[] = {
    "retcode", "deal", "order", "volume", "price", "bid", "ask", "comment", "request_id",
    "retcode_external", "request"};
const char* const kOrderCheckResultFields[] = {
    "retcode", "balance", "equity", "profit", "margin", "margin_free", "margin_level", "comment",
    "request"};
const char* const kTickFields[] = {"time", "bid", "ask", "last", "volume", "time_msc", "flags",
                                   "volume_real"};
const char* const kTerminalInfoFields[] = {
    "community_account", "community_connection", "connected", "dlls_allowed", "trade_allowed",
    "tradeapi_disabled", "email_enabled", "ftp_enabled", "notifications_enabled", "hcid", "build",
    "maxbars", "codepage", "ping_last", "community_balance", "retransmission", "company", "name",
    "language", "path", "data_path", "commondata_path"};
const char* const kSymbolInfoFields[] = {
    "custom", "chart_mode", "select", "visible", "session_deals", "session_buy_orders",
    "session_sell_orders", "volume", "volumehigh", "volumelow", "time", "digits", "spread",
    "spread_float", "ticks_bookdepth", "trade_calc_mode", "trade_mode", "start_time",
    "expiration_time", "trade_stops_level", "trade_freeze_level", "trade_exemode", "swap_mode",
    "swap_rollover3days", "margin_hedged_use_leg", "expiration_mode", "filling_mode", "order_mode",
    "order_gtc_mode", "option_mode", "option_right", "bid", "bidhigh", "bidlow", "ask", "askhigh",
    "asklow", "last", "lasthigh", "lastlow", "volume_real", "volumehigh_real", "volumelow_real",
    "option_strike", "point", "trade_tick_value", "trade_tick_value_profit",
    "trade_tick_value_loss", "trade_tick_size", "trade_contract_size", "trade_accrued_interest",
    "trade_face_value", "trade_liquidity_rate", "volume_min", "volume_max", "volume_step",
    "volume_limit", "swap_long", "swap_short", "margin_initial", "margin_maintenance",
    "session_volume", "session_turnover", "session_interest", "session_buy_orders_volume",
    "session_sell_orders_volume", "session_open", "session_close", "session_aw",
    "session_price_settlement", "session_price_limit_min", "session_price_limit_max",
    "margin_hedged", "price_change", "price_volatility", "price_theoretical",
    "price_greeks_delta", "price_greeks_theta", "price_greeks_gamma", "price_greeks_vega",
    "price_greeks_rho", "price_greeks_omega", "price_sensitivity", "basis", "category",
    "currency_base", "currency_profit", "currency_margin", "bank", "description", "exchange",
    "formula", "isin", "name", "page", "path"};
const char* const kAccountInfoFields[] = {
    "login", "trade_mode", "leverage", "limit_orders", "margin_so_mode", "trade_allowed",
    "trade_expert", "margin_mode", "currency_digits", "fifo_close", "balance", "credit", "profit",
    "equity", "margin", "margin_free", "margin_level", "margin_so_call", "margin_so_so",
    "margin_initial", "margin_maintenance", "assets", "liabilities", "commission_blocked", "name",
    "server", "currency", "company"};
const char* const kBookInfoFields[] = {"type", "price", "volume", "volume_dbl"};

struct TypeDescription {
  const char* name;
  const char* doc;
  const char* const* fields;
  int field_count;
};

template <size_t N>
constexpr TypeDescription Describe(const char* name, const char* doc, const char* const (&fields)[N]) {
  return TypeDescription{name, doc, fields, int(N)};
}

const TypeDescription kTypes[kRecordTypeCount] = {
    Describe("TradePosition", "Trade position structure", kTradePositionFields),
    Describe("TradeOrder", "Trade order structure", kTradeOrderFields),
    Describe("TradeDeal", "Trade deal structure", kTradeDealFields),
    Describe("TradeRequest", "Trade request structure", kTradeRequestFields),
    Describe("OrderSendResult", "order_send result structure", kOrderSendResultFields),
    Describe("OrderCheckResult", "order_check result structure", kOrderCheckResultFields),
    Describe("Tick", "This is a structure for storing latest symbol prices", kTickFields),
    Describe("TerminalInfo", "This is a structure for storing terminal information", kTerminalInfoFields),
    Describe("SymbolInfo", "This is a structure for storing symbol information", kSymbolInfoFields),
    Describe("AccountInfo", "This is a structure for storing account information", kAccountInfoFields),
    Describe("BookInfo", "This is a structure for storing Depth of Market information", kBookInfoFields),
};

PyTypeObject g_type_objects[kRecordTypeCount];
bool g_registered[kRecordTypeCount] = {};
// Field descriptions handed to PyStructSequence_InitType2; they must outlive
// the types.
PyStructSequence_Field g_field_specs[kRecordTypeCount][97];
PyStructSequence_Desc g_descs[kRecordTypeCount];

// The order in which _asdict tells an instance's type.
const RecordType kAsDictOrder[] = {kTradePosition, kTradeOrder, kTradeDeal, kOrderSendResult,
                                   kTradeRequest, kOrderCheckResult, kTick, kTerminalInfo,
                                   kSymbolInfo, kAccountInfo, kBookInfo};

PyObject* AsDict(PyObject* self, PyObject*) {
  const TypeDescription* type_info = nullptr;
  for (RecordType t : kAsDictOrder) {
    if (g_registered[t] && PyObject_TypeCheck(self, &g_type_objects[t])) {
      type_info = &kTypes[t];
      break;
    }
  }
  if (type_info == nullptr) {
    SetError(kInvalidParams, "Invalid object type");
    Py_RETURN_NONE;
  }
  if (PyTuple_GET_SIZE(self) != type_info->field_count) {
    SetError(kInvalidParams, "Invalid tuple size");
    Py_RETURN_NONE;
  }
  Ref dict(PyDict_New());
  if (!dict) {
    PyErr_Clear();
    SetError(kOutOfMemory, "Can't create dictionary");
    Py_RETURN_NONE;
  }
  for (int i = 0; i < type_info->field_count; ++i) {
    PyObject* item = PyTuple_GET_ITEM(self, i);
    if (item != nullptr && PyDict_SetItemString(dict.get(), type_info->fields[i], item) != 0) {
      PyErr_Clear();
      SetError(kOutOfMemory, "Can't create dictionary");
      Py_RETURN_NONE;
    }
  }
  return dict.release();
}

PyMethodDef g_asdict_def = {"_asdict", AsDict, METH_NOARGS, "Convert named tuple object to dictionary"};

PyObject* ItemFromWire(const WireField& f, const uint8_t* record) {
  const uint8_t* p = record + f.offset;
  switch (f.type) {
    case Wire::Flag: return NewBool(*p != 0);
    case Wire::U32: return PyLong_FromUnsignedLong(LoadU32(p));
    case Wire::I32: return PyLong_FromLong(int32_t(LoadU32(p)));
    case Wire::U64: return PyLong_FromUnsignedLongLong(LoadU64(p));
    case Wire::I64: return PyLong_FromLongLong(int64_t(LoadU64(p)));
    case Wire::F64: return PyFloat_FromDouble(LoadF64(p));
    case Wire::Text: return WireTextToPython(p, f.units);
  }
  return nullptr;
}

}  // namespace

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t LoadU64(const uint8_t* p) { return uint64_t(LoadU32(p)) | uint64_t(LoadU32(p + 4)) << 32; }

double LoadF64(const uint8_t* p) {
  uint64_t bits = LoadU64(p);
  double v;
  std::memcpy(&v, &bits, sizeof(v));
  return v;
}

void RegisterRecordTypes(PyObject* module) {
  for (int t = 0; t < kRecordTypeCount; ++t) {
    const TypeDescription& type_info = kTypes[t];
    PyObject* asdict_name = PyUnicode_InternFromString("_asdict");
    if (asdict_name == nullptr) {
      PyErr_Clear();
      continue;
    }
    for (int i = 0; i < type_info.field_count; ++i) g_field_specs[t][i] = {type_info.fields[i], nullptr};
    g_field_specs[t][type_info.field_count] = {nullptr, nullptr};
    g_descs[t] = {type_info.name, type_info.doc, g_field_specs[t], type_info.field_count};
    PyTypeObject* type = &g_type_objects[t];
    if (PyStructSequence_InitType2(type, &g_descs[t]) != 0) {
      PyErr_Clear();
      Py_DECREF(asdict_name);
      continue;
    }
    Py_INCREF(type);  // the module's reference
    PyObject* descr = PyDescr_NewMethod(type, &g_asdict_def);
    if (descr != nullptr) {
      if (PyObject_GenericSetAttr(reinterpret_cast<PyObject*>(type), asdict_name, descr) != 0) PyErr_Clear();
      Py_DECREF(descr);
      PyType_Modified(type);
    } else {
      PyErr_Clear();
    }
    if (PyModule_AddObject(module, type_info.name, reinterpret_cast<PyObject*>(type)) != 0) {
      PyErr_Clear();
      Py_DECREF(type);
    }
    g_registered[t] = true;
    Py_DECREF(asdict_name);
  }
}

PyObject* NewRecord(RecordType type) {
  if (!g_registered[type]) return nullptr;
  PyObject* record = PyStructSequence_New(&g_type_objects[type]);
  if (record == nullptr) PyErr_Clear();
  return record;
}

PyObject* DecodeRecord(const RecordLayout& layout, const uint8_t* record) {
  Ref result(NewRecord(layout.type));
  if (!result) return nullptr;
  for (uint8_t i = 0; i < layout.field_count; ++i) {
    const WireField& f = layout.fields[i];
    PyObject* item = ItemFromWire(f, record);
    if (item == nullptr) {
      PyErr_Clear();
      return nullptr;
    }
    PyStructSequence_SET_ITEM(result.get(), f.index, item);
  }
  return result.release();
}

PyObject* DecodeRecordTuple(const RecordLayout& layout, const uint8_t* records, uint32_t count) {
  Ref tuple(PyTuple_New(Py_ssize_t(count)));
  if (!tuple) {
    PyErr_Clear();
    return nullptr;
  }
  for (uint32_t i = 0; i < count; ++i) {
    PyObject* item = DecodeRecord(layout, records + size_t(i) * layout.size);
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
