// Wire records: fixed-size packed little-endian byte images. Each record is
// described once, field by field, in the lists below; the module's decoder,
// the names of the record types Python gets, the module's trade request
// parser, and the paper terminal's encoders and request parser all read the
// same tables. Free of Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brv {

// The record types Python gets, in registration order.
enum RecordType : int {
  kTradePosition,
  kTradeOrder,
  kTradeDeal,
  kTradeRequest,
  kOrderSendResult,
  kOrderCheckResult,
  kTick,
  kTerminalInfo,
  kSymbolInfo,
  kAccountInfo,
  kBookInfo,
  kRecordTypeCount,
};

// How the bytes of one field read.
enum class Wire : uint8_t {
  Flag,      // one byte, True when not 0
  U32,
  I32,
  U64,
  I64,
  F64,
  Text,      // `count` UTF-16 units, read up to the first NUL
  Reserved,  // `count` bytes that no one reads
  Attached,  // no bytes: an item of the record type that the module adds
};

constexpr uint8_t kNoItem = 0xFF;

struct WireField {
  const char* name;  // the item's name in the record type
  Wire type;
  uint16_t offset;
  uint16_t count;  // units of a text, bytes of a reserved stretch, else 0
  uint8_t item;    // position in the record type, kNoItem for reserved bytes
};

constexpr uint32_t Width(const WireField& f) {
  switch (f.type) {
    case Wire::Flag: return 1;
    case Wire::U32:
    case Wire::I32: return 4;
    case Wire::U64:
    case Wire::I64:
    case Wire::F64: return 8;
    case Wire::Text: return 2u * f.count;
    case Wire::Reserved: return f.count;
    case Wire::Attached: return 0;
  }
  return 0;
}

// Does the table tile its record: fields in the order of their offsets, each
// starting where the previous ends (no gap, no overlap), each inside the
// record, the last ending at its end; and are the items numbered 0 to n-1,
// each once?
template <size_t N>
constexpr bool Tiles(const WireField (&fields)[N], uint32_t size) {
  uint32_t end = 0;
  size_t items = 0;
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].offset != end || fields[i].offset + Width(fields[i]) > size) return false;
    end = fields[i].offset + Width(fields[i]);
    if ((fields[i].item == kNoItem) != (fields[i].type == Wire::Reserved)) return false;
    if (fields[i].item != kNoItem) ++items;
  }
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].item != kNoItem && fields[i].item >= items) return false;
    for (size_t j = i + 1; j < N; ++j) {
      if (fields[i].item != kNoItem && fields[i].item == fields[j].item) return false;
    }
  }
  return end == size;
}

// The items of a record type (every field but reserved bytes).
template <size_t N>
constexpr size_t ItemCount(const WireField (&fields)[N]) {
  size_t n = 0;
  for (size_t i = 0; i < N; ++i) n += fields[i].item != kNoItem;
  return n;
}

// The tables: X(name, kind, offset, count, item), in the order of the bytes.
// count: UTF-16 units of a text, bytes of a reserved stretch, otherwise 0.

// AccountInfo, 851 bytes.
#define BRV_ACCOUNT_FIELDS(X) \
  X(login,                     U64,          0,   0,       0) \
  X(trade_mode,                U32,          8,   0,       1) \
  X(leverage,                  U32,         12,   0,       2) \
  X(limit_orders,              U32,         16,   0,       3) \
  X(margin_so_mode,            U32,         20,   0,       4) \
  X(trade_allowed,             Flag,        24,   0,       5) \
  X(trade_expert,              Flag,        25,   0,       6) \
  X(margin_mode,               U32,         26,   0,       7) \
  X(currency_digits,           U32,         30,   0,       8) \
  X(fifo_close,                Flag,        34,   0,       9) \
  X(balance,                   F64,         35,   0,      10) \
  X(credit,                    F64,         43,   0,      11) \
  X(profit,                    F64,         51,   0,      12) \
  X(equity,                    F64,         59,   0,      13) \
  X(margin,                    F64,         67,   0,      14) \
  X(margin_free,               F64,         75,   0,      15) \
  X(margin_level,              F64,         83,   0,      16) \
  X(margin_so_call,            F64,         91,   0,      17) \
  X(margin_so_so,              F64,         99,   0,      18) \
  X(margin_initial,            F64,        107,   0,      19) \
  X(margin_maintenance,        F64,        115,   0,      20) \
  X(assets,                    F64,        123,   0,      21) \
  X(liabilities,               F64,        131,   0,      22) \
  X(commission_blocked,        F64,        139,   0,      23) \
  X(name,                      Text,       147, 128,      24) \
  X(server,                    Text,       403,  64,      25) \
  X(currency,                  Text,       531,  32,      26) \
  X(company,                   Text,       595, 128,      27)

// TerminalInfo, 3162 bytes: build first, hcid after maxbars, tradeapi_disabled
// in the last byte.
#define BRV_TERMINAL_FIELDS(X) \
  X(build,                     U32,          0,   0,      10) \
  X(community_account,         Flag,         4,   0,       0) \
  X(community_connection,      Flag,         5,   0,       1) \
  X(connected,                 Flag,         6,   0,       2) \
  X(dlls_allowed,              Flag,         7,   0,       3) \
  X(trade_allowed,             Flag,         8,   0,       4) \
  X(email_enabled,             Flag,         9,   0,       6) \
  X(ftp_enabled,               Flag,        10,   0,       7) \
  X(notifications_enabled,     Flag,        11,   0,       8) \
  X(maxbars,                   U32,         12,   0,      11) \
  X(hcid,                      Flag,        16,   0,       9) \
  X(codepage,                  I32,         17,   0,      12) \
  X(ping_last,                 I32,         21,   0,      13) \
  X(community_balance,         F64,         25,   0,      14) \
  X(retransmission,            F64,         33,   0,      15) \
  X(company,                   Text,        41, 260,      16) \
  X(name,                      Text,       561, 260,      17) \
  X(language,                  Text,      1081, 260,      18) \
  X(path,                      Text,      1601, 260,      19) \
  X(data_path,                 Text,      2121, 260,      20) \
  X(commondata_path,           Text,      2641, 260,      21) \
  X(tradeapi_disabled,         Flag,      3161,   0,       5)

// SymbolInfo, 2993 bytes: name is last on the wire. Terminals before build
// 2364 send the record without it (2929 bytes).
#define BRV_SYMBOL_FIELDS(X) \
  X(custom,                    Flag,         0,   0,       0) \
  X(chart_mode,                U32,          1,   0,       1) \
  X(select,                    Flag,         5,   0,       2) \
  X(visible,                   Flag,         6,   0,       3) \
  X(session_deals,             U64,          7,   0,       4) \
  X(session_buy_orders,        U64,         15,   0,       5) \
  X(session_sell_orders,       U64,         23,   0,       6) \
  X(volume,                    U64,         31,   0,       7) \
  X(volumehigh,                U64,         39,   0,       8) \
  X(volumelow,                 U64,         47,   0,       9) \
  X(time,                      I64,         55,   0,      10) \
  X(digits,                    U32,         63,   0,      11) \
  X(spread,                    I32,         67,   0,      12) \
  X(spread_float,              Flag,        71,   0,      13) \
  X(ticks_bookdepth,           U32,         72,   0,      14) \
  X(trade_calc_mode,           U32,         76,   0,      15) \
  X(trade_mode,                U32,         80,   0,      16) \
  X(start_time,                I64,         84,   0,      17) \
  X(expiration_time,           I64,         92,   0,      18) \
  X(trade_stops_level,         I32,        100,   0,      19) \
  X(trade_freeze_level,        I32,        104,   0,      20) \
  X(trade_exemode,             U32,        108,   0,      21) \
  X(swap_mode,                 U32,        112,   0,      22) \
  X(swap_rollover3days,        U32,        116,   0,      23) \
  X(margin_hedged_use_leg,     Flag,       120,   0,      24) \
  X(expiration_mode,           I32,        121,   0,      25) \
  X(filling_mode,              I32,        125,   0,      26) \
  X(order_mode,                I32,        129,   0,      27) \
  X(order_gtc_mode,            U32,        133,   0,      28) \
  X(option_mode,               U32,        137,   0,      29) \
  X(option_right,              U32,        141,   0,      30) \
  X(bid,                       F64,        145,   0,      31) \
  X(bidhigh,                   F64,        153,   0,      32) \
  X(bidlow,                    F64,        161,   0,      33) \
  X(ask,                       F64,        169,   0,      34) \
  X(askhigh,                   F64,        177,   0,      35) \
  X(asklow,                    F64,        185,   0,      36) \
  X(last,                      F64,        193,   0,      37) \
  X(lasthigh,                  F64,        201,   0,      38) \
  X(lastlow,                   F64,        209,   0,      39) \
  X(volume_real,               F64,        217,   0,      40) \
  X(volumehigh_real,           F64,        225,   0,      41) \
  X(volumelow_real,            F64,        233,   0,      42) \
  X(option_strike,             F64,        241,   0,      43) \
  X(point,                     F64,        249,   0,      44) \
  X(trade_tick_value,          F64,        257,   0,      45) \
  X(trade_tick_value_profit,   F64,        265,   0,      46) \
  X(trade_tick_value_loss,     F64,        273,   0,      47) \
  X(trade_tick_size,           F64,        281,   0,      48) \
  X(trade_contract_size,       F64,        289,   0,      49) \
  X(trade_accrued_interest,    F64,        297,   0,      50) \
  X(trade_face_value,          F64,        305,   0,      51) \
  X(trade_liquidity_rate,      F64,        313,   0,      52) \
  X(volume_min,                F64,        321,   0,      53) \
  X(volume_max,                F64,        329,   0,      54) \
  X(volume_step,               F64,        337,   0,      55) \
  X(volume_limit,              F64,        345,   0,      56) \
  X(swap_long,                 F64,        353,   0,      57) \
  X(swap_short,                F64,        361,   0,      58) \
  X(margin_initial,            F64,        369,   0,      59) \
  X(margin_maintenance,        F64,        377,   0,      60) \
  X(session_volume,            F64,        385,   0,      61) \
  X(session_turnover,          F64,        393,   0,      62) \
  X(session_interest,          F64,        401,   0,      63) \
  X(session_buy_orders_volume, F64,        409,   0,      64) \
  X(session_sell_orders_volume, F64,        417,   0,      65) \
  X(session_open,              F64,        425,   0,      66) \
  X(session_close,             F64,        433,   0,      67) \
  X(session_aw,                F64,        441,   0,      68) \
  X(session_price_settlement,  F64,        449,   0,      69) \
  X(session_price_limit_min,   F64,        457,   0,      70) \
  X(session_price_limit_max,   F64,        465,   0,      71) \
  X(margin_hedged,             F64,        473,   0,      72) \
  X(price_change,              F64,        481,   0,      73) \
  X(price_volatility,          F64,        489,   0,      74) \
  X(price_theoretical,         F64,        497,   0,      75) \
  X(price_greeks_delta,        F64,        505,   0,      76) \
  X(price_greeks_theta,        F64,        513,   0,      77) \
  X(price_greeks_gamma,        F64,        521,   0,      78) \
  X(price_greeks_vega,         F64,        529,   0,      79) \
  X(price_greeks_rho,          F64,        537,   0,      80) \
  X(price_greeks_omega,        F64,        545,   0,      81) \
  X(price_sensitivity,         F64,        553,   0,      82) \
  X(basis,                     Text,       561,  32,      83) \
  X(category,                  Text,       625,  64,      84) \
  X(currency_base,             Text,       753,  16,      85) \
  X(currency_profit,           Text,       785,  16,      86) \
  X(currency_margin,           Text,       817,  16,      87) \
  X(bank,                      Text,       849, 256,      88) \
  X(description,               Text,      1361,  64,      89) \
  X(exchange,                  Text,      1489,  64,      90) \
  X(formula,                   Text,      1617, 256,      91) \
  X(isin,                      Text,      2129,  16,      92) \
  X(page,                      Text,      2161, 256,      94) \
  X(path,                      Text,      2673, 128,      95) \
  X(name,                      Text,      2929,  32,      93)

// Tick, 60 bytes.
#define BRV_TICK_FIELDS(X) \
  X(time,                      I64,          0,   0,       0) \
  X(bid,                       F64,          8,   0,       1) \
  X(ask,                       F64,         16,   0,       2) \
  X(last,                      F64,         24,   0,       3) \
  X(volume,                    U64,         32,   0,       4) \
  X(time_msc,                  I64,         40,   0,       5) \
  X(flags,                     U32,         48,   0,       6) \
  X(volume_real,               F64,         52,   0,       7)

// Bar (rates), 60 bytes.
#define BRV_RATE_FIELDS(X) \
  X(time,                      I64,          0,   0,       0) \
  X(open,                      F64,          8,   0,       1) \
  X(high,                      F64,         16,   0,       2) \
  X(low,                       F64,         24,   0,       3) \
  X(close,                     F64,         32,   0,       4) \
  X(tick_volume,               U64,         40,   0,       5) \
  X(spread,                    I32,         48,   0,       6) \
  X(real_volume,               U64,         52,   0,       7)

// TradePosition, 320 bytes; the 8 bytes at 104 are not read.
#define BRV_POSITION_FIELDS(X) \
  X(ticket,                    U64,          0,   0,       0) \
  X(time,                      I64,          8,   0,       1) \
  X(time_msc,                  I64,         16,   0,       2) \
  X(time_update,               I64,         24,   0,       3) \
  X(time_update_msc,           I64,         32,   0,       4) \
  X(type,                      U32,         40,   0,       5) \
  X(magic,                     U64,         44,   0,       6) \
  X(identifier,                U64,         52,   0,       7) \
  X(reason,                    U32,         60,   0,       8) \
  X(volume,                    F64,         64,   0,       9) \
  X(price_open,                F64,         72,   0,      10) \
  X(sl,                        F64,         80,   0,      11) \
  X(tp,                        F64,         88,   0,      12) \
  X(price_current,             F64,         96,   0,      13) \
  X(reserved_104,              Reserved,   104,   8, kNoItem) \
  X(swap,                      F64,        112,   0,      14) \
  X(profit,                    F64,        120,   0,      15) \
  X(symbol,                    Text,       128,  32,      16) \
  X(comment,                   Text,       192,  32,      17) \
  X(external_id,               Text,       256,  32,      18)

// TradeOrder, 340 bytes: active orders and history orders.
#define BRV_ORDER_FIELDS(X) \
  X(ticket,                    U64,          0,   0,       0) \
  X(time_setup,                I64,          8,   0,       1) \
  X(time_setup_msc,            I64,         16,   0,       2) \
  X(time_done,                 I64,         24,   0,       3) \
  X(time_done_msc,             I64,         32,   0,       4) \
  X(time_expiration,           I64,         40,   0,       5) \
  X(type,                      U32,         48,   0,       6) \
  X(type_time,                 U32,         52,   0,       7) \
  X(type_filling,              U32,         56,   0,       8) \
  X(state,                     U32,         60,   0,       9) \
  X(magic,                     U64,         64,   0,      10) \
  X(position_id,               U64,         72,   0,      11) \
  X(position_by_id,            U64,         80,   0,      12) \
  X(reason,                    U32,         88,   0,      13) \
  X(volume_initial,            F64,         92,   0,      14) \
  X(volume_current,            F64,        100,   0,      15) \
  X(price_open,                F64,        108,   0,      16) \
  X(sl,                        F64,        116,   0,      17) \
  X(tp,                        F64,        124,   0,      18) \
  X(price_current,             F64,        132,   0,      19) \
  X(price_stoplimit,           F64,        140,   0,      20) \
  X(symbol,                    Text,       148,  32,      21) \
  X(comment,                   Text,       212,  32,      22) \
  X(external_id,               Text,       276,  32,      23)

// TradeDeal, 300 bytes.
#define BRV_DEAL_FIELDS(X) \
  X(ticket,                    U64,          0,   0,       0) \
  X(order,                     U64,          8,   0,       1) \
  X(time,                      I64,         16,   0,       2) \
  X(time_msc,                  I64,         24,   0,       3) \
  X(type,                      U32,         32,   0,       4) \
  X(entry,                     U32,         36,   0,       5) \
  X(magic,                     U64,         40,   0,       6) \
  X(position_id,               U64,         48,   0,       7) \
  X(reason,                    U32,         56,   0,       8) \
  X(volume,                    F64,         60,   0,       9) \
  X(price,                     F64,         68,   0,      10) \
  X(commission,                F64,         76,   0,      11) \
  X(swap,                      F64,         84,   0,      12) \
  X(profit,                    F64,         92,   0,      13) \
  X(fee,                       F64,        100,   0,      14) \
  X(symbol,                    Text,       108,  32,      15) \
  X(comment,                   Text,       172,  32,      16) \
  X(external_id,               Text,       236,  32,      17)

// TradeRequest, 232 bytes.
#define BRV_TRADE_REQUEST_FIELDS(X) \
  X(action,                    U32,          0,   0,       0) \
  X(magic,                     U64,          4,   0,       1) \
  X(order,                     U64,         12,   0,       2) \
  X(symbol,                    Text,        20,  32,       3) \
  X(volume,                    F64,         84,   0,       4) \
  X(price,                     F64,         92,   0,       5) \
  X(stoplimit,                 F64,        100,   0,       6) \
  X(sl,                        F64,        108,   0,       7) \
  X(tp,                        F64,        116,   0,       8) \
  X(deviation,                 U64,        124,   0,       9) \
  X(type,                      U32,        132,   0,      10) \
  X(type_filling,              U32,        136,   0,      11) \
  X(type_time,                 U32,        140,   0,      12) \
  X(expiration,                I64,        144,   0,      13) \
  X(comment,                   Text,       152,  32,      14) \
  X(position,                  U64,        216,   0,      15) \
  X(position_by,               U64,        224,   0,      16)

// OrderCheckResult, 252 bytes, and the request the module attaches.
#define BRV_CHECK_RESULT_FIELDS(X) \
  X(retcode,                   U32,          0,   0,       0) \
  X(balance,                   F64,          4,   0,       1) \
  X(equity,                    F64,         12,   0,       2) \
  X(profit,                    F64,         20,   0,       3) \
  X(margin,                    F64,         28,   0,       4) \
  X(margin_free,               F64,         36,   0,       5) \
  X(margin_level,              F64,         44,   0,       6) \
  X(comment,                   Text,        52, 100,       7) \
  X(request,                   Attached,   252,   0,       8)

// OrderSendResult, 260 bytes, and the request the module attaches.
#define BRV_SEND_RESULT_FIELDS(X) \
  X(retcode,                   U32,          0,   0,       0) \
  X(deal,                      U64,          4,   0,       1) \
  X(order,                     U64,         12,   0,       2) \
  X(volume,                    F64,         20,   0,       3) \
  X(price,                     F64,         28,   0,       4) \
  X(bid,                       F64,         36,   0,       5) \
  X(ask,                       F64,         44,   0,       6) \
  X(comment,                   Text,        52, 100,       7) \
  X(request_id,                U32,        252,   0,       8) \
  X(retcode_external,          I32,        256,   0,       9) \
  X(request,                   Attached,   260,   0,      10)

// BookInfo, 28 bytes: one level of the book.
#define BRV_BOOK_ENTRY_FIELDS(X) \
  X(type,                      U32,          0,   0,       0) \
  X(price,                     F64,          4,   0,       1) \
  X(volume,                    U64,         12,   0,       2) \
  X(volume_dbl,                F64,         20,   0,       3)


// Each record as a struct: one named constant per field, for code that
// reads or writes a field by its name (Position::ticket), and kFields, the
// whole table in the order of the bytes.
#define BRV_FIELD_CONSTANT(name, kind, offset, count, item) \
  static constexpr WireField name = {#name, Wire::kind, offset, count, item};
#define BRV_FIELD_ENTRY(name, kind, offset, count, item) {#name, Wire::kind, offset, count, item},
#define BRV_RECORD(Struct, size, LIST)                               \
  struct Struct {                                                   \
    LIST(BRV_FIELD_CONSTANT)                                        \
    static constexpr uint32_t kSize = size;                         \
    static constexpr WireField kFields[] = {LIST(BRV_FIELD_ENTRY)}; \
  };                                                                \
  static_assert(Tiles(Struct::kFields, Struct::kSize), #Struct " fields tile the record");

namespace records {
BRV_RECORD(Account, 851, BRV_ACCOUNT_FIELDS)
BRV_RECORD(Terminal, 3162, BRV_TERMINAL_FIELDS)
BRV_RECORD(Symbol, 2993, BRV_SYMBOL_FIELDS)
BRV_RECORD(Tick, 60, BRV_TICK_FIELDS)
BRV_RECORD(Rate, 60, BRV_RATE_FIELDS)
BRV_RECORD(Position, 320, BRV_POSITION_FIELDS)
BRV_RECORD(Order, 340, BRV_ORDER_FIELDS)
BRV_RECORD(Deal, 300, BRV_DEAL_FIELDS)
BRV_RECORD(TradeRequest, 232, BRV_TRADE_REQUEST_FIELDS)
BRV_RECORD(CheckResult, 252, BRV_CHECK_RESULT_FIELDS)
BRV_RECORD(SendResult, 260, BRV_SEND_RESULT_FIELDS)
BRV_RECORD(BookEntry, 28, BRV_BOOK_ENTRY_FIELDS)
}  // namespace records

#undef BRV_RECORD
#undef BRV_FIELD_ENTRY
#undef BRV_FIELD_CONSTANT

// A wire record as the decoder reads it: its type, size and fields, and the
// field whose text repeats across the records of one reply (the symbol), or
// -1.
struct RecordLayout {
  RecordType type;
  uint32_t size;
  const WireField* fields;
  uint8_t field_count;
  uint8_t item_count;
  int8_t repeated;
};

constexpr bool SameName(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

template <size_t N>
constexpr int8_t FieldNamed(const WireField (&fields)[N], const char* name) {
  for (size_t i = 0; i < N; ++i) {
    if (SameName(fields[i].name, name)) return int8_t(i);
  }
  return -1;
}

template <class Record>
constexpr RecordLayout LayoutOf(RecordType type) {
  return RecordLayout{type, Record::kSize, Record::kFields, uint8_t(sizeof(Record::kFields) / sizeof(WireField)),
                      uint8_t(ItemCount(Record::kFields)), FieldNamed(Record::kFields, "symbol")};
}

// Little-endian loads from unaligned wire bytes.
inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t LoadU64(const uint8_t* p) { return uint64_t(LoadU32(p)) | uint64_t(LoadU32(p + 4)) << 32; }
inline double LoadF64(const uint8_t* p) {
  uint64_t bits = LoadU64(p);
  double v;
  std::memcpy(&v, &bits, sizeof(v));
  return v;
}

}  // namespace brv
