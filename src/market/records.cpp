#include "market/records.h"

namespace brv::market {
namespace {

// (offset, index in AccountInfo); texts (offset, units, index).
constexpr WireField kAccountFields[] = {
    U64(0, 0),           // login
    U32(8, 1),           // trade_mode
    U32(12, 2),          // leverage
    U32(16, 3),          // limit_orders
    U32(20, 4),          // margin_so_mode
    Flag(24, 5),         // trade_allowed
    Flag(25, 6),         // trade_expert
    U32(26, 7),          // margin_mode
    U32(30, 8),          // currency_digits
    Flag(34, 9),         // fifo_close
    F64(35, 10),         // balance
    F64(43, 11),         // credit
    F64(51, 12),         // profit
    F64(59, 13),         // equity
    F64(67, 14),         // margin
    F64(75, 15),         // margin_free
    F64(83, 16),         // margin_level
    F64(91, 17),         // margin_so_call
    F64(99, 18),         // margin_so_so
    F64(107, 19),        // margin_initial
    F64(115, 20),        // margin_maintenance
    F64(123, 21),        // assets
    F64(131, 22),        // liabilities
    F64(139, 23),        // commission_blocked
    Text(147, 128, 24),  // name
    Text(403, 64, 25),   // server
    Text(531, 32, 26),   // currency
    Text(595, 128, 27),  // company
};

// The terminal record has its own order: build first, hcid after maxbars,
// tradeapi_disabled in the last byte.
constexpr WireField kTerminalFields[] = {
    U32(0, 10),           // build
    Flag(4, 0),           // community_account
    Flag(5, 1),           // community_connection
    Flag(6, 2),           // connected
    Flag(7, 3),           // dlls_allowed
    Flag(8, 4),           // trade_allowed
    Flag(9, 6),           // email_enabled
    Flag(10, 7),          // ftp_enabled
    Flag(11, 8),          // notifications_enabled
    U32(12, 11),          // maxbars
    Flag(16, 9),          // hcid
    I32(17, 12),          // codepage
    I32(21, 13),          // ping_last
    F64(25, 14),          // community_balance
    F64(33, 15),          // retransmission
    Text(41, 260, 16),    // company
    Text(561, 260, 17),   // name
    Text(1081, 260, 18),  // language
    Text(1601, 260, 19),  // path
    Text(2121, 260, 20),  // data_path
    Text(2641, 260, 21),  // commondata_path
    Flag(3161, 5),        // tradeapi_disabled
};

// SymbolInfo order, except that name (index 93) is last in the record.
constexpr WireField kSymbolFields[] = {
    Flag(0, 0),           // custom
    U32(1, 1),            // chart_mode
    Flag(5, 2),           // select
    Flag(6, 3),           // visible
    U64(7, 4),            // session_deals
    U64(15, 5),           // session_buy_orders
    U64(23, 6),           // session_sell_orders
    U64(31, 7),           // volume
    U64(39, 8),           // volumehigh
    U64(47, 9),           // volumelow
    I64(55, 10),          // time
    U32(63, 11),          // digits
    I32(67, 12),          // spread
    Flag(71, 13),         // spread_float
    U32(72, 14),          // ticks_bookdepth
    U32(76, 15),          // trade_calc_mode
    U32(80, 16),          // trade_mode
    I64(84, 17),          // start_time
    I64(92, 18),          // expiration_time
    I32(100, 19),         // trade_stops_level
    I32(104, 20),         // trade_freeze_level
    U32(108, 21),         // trade_exemode
    U32(112, 22),         // swap_mode
    U32(116, 23),         // swap_rollover3days
    Flag(120, 24),        // margin_hedged_use_leg
    I32(121, 25),         // expiration_mode
    I32(125, 26),         // filling_mode
    I32(129, 27),         // order_mode
    U32(133, 28),         // order_gtc_mode
    U32(137, 29),         // option_mode
    U32(141, 30),         // option_right
    F64(145, 31),         // bid
    F64(153, 32),         // bidhigh
    F64(161, 33),         // bidlow
    F64(169, 34),         // ask
    F64(177, 35),         // askhigh
    F64(185, 36),         // asklow
    F64(193, 37),         // last
    F64(201, 38),         // lasthigh
    F64(209, 39),         // lastlow
    F64(217, 40),         // volume_real
    F64(225, 41),         // volumehigh_real
    F64(233, 42),         // volumelow_real
    F64(241, 43),         // option_strike
    F64(249, 44),         // point
    F64(257, 45),         // trade_tick_value
    F64(265, 46),         // trade_tick_value_profit
    F64(273, 47),         // trade_tick_value_loss
    F64(281, 48),         // trade_tick_size
    F64(289, 49),         // trade_contract_size
    F64(297, 50),         // trade_accrued_interest
    F64(305, 51),         // trade_face_value
    F64(313, 52),         // trade_liquidity_rate
    F64(321, 53),         // volume_min
    F64(329, 54),         // volume_max
    F64(337, 55),         // volume_step
    F64(345, 56),         // volume_limit
    F64(353, 57),         // swap_long
    F64(361, 58),         // swap_short
    F64(369, 59),         // margin_initial
    F64(377, 60),         // margin_maintenance
    F64(385, 61),         // session_volume
    F64(393, 62),         // session_turnover
    F64(401, 63),         // session_interest
    F64(409, 64),         // session_buy_orders_volume
    F64(417, 65),         // session_sell_orders_volume
    F64(425, 66),         // session_open
    F64(433, 67),         // session_close
    F64(441, 68),         // session_aw
    F64(449, 69),         // session_price_settlement
    F64(457, 70),         // session_price_limit_min
    F64(465, 71),         // session_price_limit_max
    F64(473, 72),         // margin_hedged
    F64(481, 73),         // price_change
    F64(489, 74),         // price_volatility
    F64(497, 75),         // price_theoretical
    F64(505, 76),         // price_greeks_delta
    F64(513, 77),         // price_greeks_theta
    F64(521, 78),         // price_greeks_gamma
    F64(529, 79),         // price_greeks_vega
    F64(537, 80),         // price_greeks_rho
    F64(545, 81),         // price_greeks_omega
    F64(553, 82),         // price_sensitivity
    Text(561, 32, 83),    // basis
    Text(625, 64, 84),    // category
    Text(753, 16, 85),    // currency_base
    Text(785, 16, 86),    // currency_profit
    Text(817, 16, 87),    // currency_margin
    Text(849, 256, 88),   // bank
    Text(1361, 64, 89),   // description
    Text(1489, 64, 90),   // exchange
    Text(1617, 256, 91),  // formula
    Text(2129, 16, 92),   // isin
    Text(2161, 256, 94),  // page
    Text(2673, 128, 95),  // path
    Text(2929, 32, 93),   // name
};

constexpr WireField kTickFields[] = {
    I64(0, 0),   // time
    F64(8, 1),   // bid
    F64(16, 2),  // ask
    F64(24, 3),  // last
    U64(32, 4),  // volume
    I64(40, 5),  // time_msc
    U32(48, 6),  // flags
    F64(52, 7),  // volume_real: no padding after flags
};

// Each table must end exactly at its record's end.
constexpr uint32_t End(const WireField& f) {
  switch (f.type) {
    case Wire::Flag: return f.offset + 1u;
    case Wire::U32:
    case Wire::I32: return f.offset + 4u;
    case Wire::Text: return f.offset + 2u * f.units;
    default: return f.offset + 8u;
  }
}
template <size_t N>
constexpr bool Tiles(const WireField (&fields)[N], uint32_t size) {
  uint32_t end = 0;
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].offset != end) return false;
    end = End(fields[i]);
  }
  return end == size;
}
static_assert(Tiles(kAccountFields, kAccountRecordSize), "account record table");
static_assert(Tiles(kTerminalFields, kTerminalRecordSize), "terminal record table");
static_assert(Tiles(kSymbolFields, kSymbolRecordSize), "symbol record table");
static_assert(Tiles(kTickFields, kTickRecordSize), "tick record table");
static_assert(sizeof(kAccountFields) / sizeof(WireField) == 28, "AccountInfo has 28 fields");
static_assert(sizeof(kTerminalFields) / sizeof(WireField) == 22, "TerminalInfo has 22 fields");
static_assert(sizeof(kSymbolFields) / sizeof(WireField) == 96, "SymbolInfo has 96 fields");
static_assert(sizeof(kTickFields) / sizeof(WireField) == 8, "Tick has 8 fields");

}  // namespace

const RecordLayout kAccountRecord = MakeLayout(kAccountInfo, kAccountRecordSize, kAccountFields);
const RecordLayout kTerminalRecord = MakeLayout(kTerminalInfo, kTerminalRecordSize, kTerminalFields);
const RecordLayout kSymbolRecord = MakeLayout(kSymbolInfo, kSymbolRecordSize, kSymbolFields);
const RecordLayout kTickRecord = MakeLayout(kTick, kTickRecordSize, kTickFields);

}  // namespace brv::market
