#include "paper/records.h"

#include "paper/codes.h"
#include "paper/wire.h"

namespace brv::paper {
void AppendTick(std::string* out, const Tick& t) {
  RecordWriter w(kTickRecordSize);
  w.I64(0, t.time_msc / 1000);
  w.F64(8, t.bid);
  w.F64(16, t.ask);
  w.F64(24, t.last);
  w.U64(32, t.volume);
  w.I64(40, t.time_msc);
  w.U32(48, t.flags);
  w.F64(52, t.volume_real);
  *out += w.bytes();
}

void AppendBar(std::string* out, const Bar& b) {
  RecordWriter w(kRateRecordSize);
  w.I64(0, b.time);
  w.F64(8, b.open);
  w.F64(16, b.high);
  w.F64(24, b.low);
  w.F64(32, b.close);
  w.U64(40, b.tick_volume);
  w.I32(48, b.spread);
  w.U64(52, b.real_volume);
  *out += w.bytes();
}

std::string SymbolRecord(const SymbolSpec& s, const SymbolState& st) {
  RecordWriter w(kSymbolRecordSize);
  const Tick& t = st.tick;
  const Aggregate& d = st.today;
  w.Flag(0, false);                       // custom
  w.U32(1, kChartModeBid);                // chart_mode
  w.Flag(5, st.selected);                 // select
  w.Flag(6, st.selected);                 // visible
  w.U64(7, d.trades);                     // session_deals
  w.U64(15, 0);                           // session_buy_orders
  w.U64(23, 0);                           // session_sell_orders
  w.U64(31, t.volume);                    // volume
  w.U64(39, d.volume_high);               // volumehigh
  w.U64(47, d.volume_low);                // volumelow
  w.I64(55, t.time_msc / 1000);           // time
  w.U32(63, uint32_t(s.digits));          // digits
  w.I32(67, t.spread);                    // spread
  w.Flag(71, true);                       // spread_float
  w.U32(72, kBookDepth);                  // ticks_bookdepth
  w.U32(76, s.calc_mode);                 // trade_calc_mode
  w.U32(80, kSymbolTradeFull);            // trade_mode
  w.I64(84, 0);                           // start_time
  w.I64(92, 0);                           // expiration_time
  w.I32(100, StopsLevel(s));              // trade_stops_level
  w.I32(104, 0);                          // trade_freeze_level
  w.U32(108, kExecutionMarket);           // trade_exemode
  w.U32(112, kSwapDisabled);              // swap_mode
  w.U32(116, 3);                          // swap_rollover3days (Wednesday)
  w.Flag(120, false);                     // margin_hedged_use_leg
  w.I32(121, kExpirationMask);            // expiration_mode
  w.I32(125, kFillingMask);               // filling_mode
  w.I32(129, kOrderModeMask);             // order_mode
  w.U32(133, kTimeGtc);                   // order_gtc_mode
  w.U32(137, 0);                          // option_mode
  w.U32(141, 0);                          // option_right
  w.F64(145, t.bid);                      // bid
  w.F64(153, d.high);                     // bidhigh
  w.F64(161, d.low);                      // bidlow
  w.F64(169, t.ask);                      // ask
  w.F64(177, d.ask_high);                 // askhigh
  w.F64(185, d.ask_low);                  // asklow
  w.F64(193, t.last);                     // last
  w.F64(201, d.last_high);                // lasthigh
  w.F64(209, d.last_low);                 // lastlow
  w.F64(217, t.volume_real);              // volume_real
  w.F64(225, double(d.volume_high));      // volumehigh_real
  w.F64(233, double(d.volume_low));       // volumelow_real
  w.F64(241, 0);                          // option_strike
  w.F64(249, s.point());                  // point
  w.F64(257, st.tick_value);              // trade_tick_value
  w.F64(265, st.tick_value);              // trade_tick_value_profit
  w.F64(273, st.tick_value);              // trade_tick_value_loss
  w.F64(281, s.point());                  // trade_tick_size
  w.F64(289, s.contract);                 // trade_contract_size
  w.F64(297, 0);                          // trade_accrued_interest
  w.F64(305, 0);                          // trade_face_value
  w.F64(313, 0);                          // trade_liquidity_rate
  w.F64(321, s.volume_min);               // volume_min
  w.F64(329, s.volume_max);               // volume_max
  w.F64(337, s.volume_step);              // volume_step
  w.F64(345, 0);                          // volume_limit
  w.F64(353, 0);                          // swap_long
  w.F64(361, 0);                          // swap_short
  w.F64(369, 0);                          // margin_initial
  w.F64(377, 0);                          // margin_maintenance
  w.F64(385, double(d.volume));           // session_volume
  w.F64(393, 0);                          // session_turnover
  w.F64(401, 0);                          // session_interest
  w.F64(409, 0);                          // session_buy_orders_volume
  w.F64(417, 0);                          // session_sell_orders_volume
  w.F64(425, d.open);                     // session_open
  w.F64(433, st.previous_close);          // session_close
  w.F64(441, 0);                          // session_aw
  w.F64(449, 0);                          // session_price_settlement
  w.F64(457, 0);                          // session_price_limit_min
  w.F64(465, 0);                          // session_price_limit_max
  w.F64(473, s.contract);                 // margin_hedged
  w.F64(481, st.previous_close > 0 ? (t.bid - st.previous_close) / st.previous_close * 100.0 : 0);  // price_change
  w.F64(489, 0);                          // price_volatility
  w.F64(497, 0);                          // price_theoretical
  for (size_t off = 505; off <= 553; off += 8) w.F64(off, 0);  // greeks, sensitivity
  w.Text(561, 32, "");                    // basis
  w.Text(625, 64, s.category);            // category
  w.Text(753, 16, s.base);                // currency_base
  w.Text(785, 16, s.profit);              // currency_profit
  w.Text(817, 16, s.margin);              // currency_margin
  w.Text(849, 256, "Borvane Paper Liquidity");  // bank
  w.Text(1361, 64, s.description);        // description
  w.Text(1489, 64, "PAPER");              // exchange
  w.Text(1617, 256, "");                  // formula
  w.Text(2129, 16, "");                   // isin
  w.Text(2161, 256, "");                  // page
  w.Text(2673, 128, s.path);              // path
  w.Text(2929, 32, s.name);               // name
  return w.bytes();
}

std::string AccountRecord(const Account& a, const Figures& f, bool trade_expert) {
  RecordWriter w(kAccountRecordSize);
  w.U64(0, a.config->login);
  w.U32(8, kAccountDemo);        // trade_mode
  w.U32(12, a.config->leverage);
  w.U32(16, kMaxOrders);         // limit_orders
  w.U32(20, kStopOutPercent);    // margin_so_mode
  w.Flag(24, true);              // trade_allowed
  w.Flag(25, trade_expert);      // trade_expert
  w.U32(26, kMarginHedging);     // margin_mode
  w.U32(30, kCurrencyDigits);    // currency_digits
  w.Flag(34, false);             // fifo_close
  w.F64(35, f.balance);
  w.F64(43, f.credit);
  w.F64(51, f.profit);
  w.F64(59, f.equity);
  w.F64(67, f.margin);
  w.F64(75, f.margin_free);
  w.F64(83, f.margin_level);
  w.F64(91, 50.0);               // margin_so_call (percent)
  w.F64(99, 30.0);               // margin_so_so (percent)
  w.F64(107, 0);                 // margin_initial
  w.F64(115, 0);                 // margin_maintenance
  w.F64(123, 0);                 // assets
  w.F64(131, 0);                 // liabilities
  w.F64(139, 0);                 // commission_blocked
  w.Text(147, 128, a.config->name);
  w.Text(403, 64, kServerName);
  w.Text(531, 32, a.config->currency);
  w.Text(595, 128, kCompanyName);
  return w.bytes();
}

std::string TerminalRecord(const TerminalState& st) {
  RecordWriter w(kTerminalRecordSize);
  w.U32(0, kBuild);
  w.Flag(4, false);              // community_account
  w.Flag(5, false);              // community_connection
  w.Flag(6, true);               // connected
  w.Flag(7, false);              // dlls_allowed
  w.Flag(8, st.trade_allowed);   // trade_allowed
  w.Flag(9, false);              // email_enabled
  w.Flag(10, false);             // ftp_enabled
  w.Flag(11, false);             // notifications_enabled
  w.U32(12, kMaxBars);           // maxbars
  w.Flag(16, false);             // hcid
  w.I32(17, 65001);              // codepage (UTF-8)
  w.I32(21, 0);                  // ping_last
  w.F64(25, 0);                  // community_balance
  w.F64(33, 0);                  // retransmission
  w.Text(41, 260, kCompanyName);
  w.Text(561, 260, u"Borvane Paper Terminal");
  w.Text(1081, 260, u"English");
  w.Text(1601, 260, st.path);
  w.Text(2121, 260, st.data_path);
  w.Text(2641, 260, st.commondata_path);
  w.Flag(3161, !st.trade_allowed);  // tradeapi_disabled
  return w.bytes();
}

std::string PositionRecord(const Position& p, double price_current, double profit) {
  RecordWriter w(kPositionRecordSize);
  w.U64(0, p.ticket);
  w.I64(8, p.time_msc / 1000);
  w.I64(16, p.time_msc);
  w.I64(24, p.update_msc / 1000);
  w.I64(32, p.update_msc);
  w.U32(40, p.type);
  w.U64(44, p.magic);
  w.U64(52, p.ticket);  // identifier: the ticket of the opening order
  w.U32(60, p.reason);
  w.F64(64, p.volume);
  w.F64(72, p.price_open);
  w.F64(80, p.sl);
  w.F64(88, p.tp);
  w.F64(96, price_current);
  w.F64(104, 0);        // not read by the connector
  w.F64(112, 0);        // swap
  w.F64(120, profit);
  w.Text(128, 32, SymbolName(*p.instrument));
  w.Text(192, 32, p.comment);
  w.Text(256, 32, u"");
  return w.bytes();
}

std::string OrderRecord(const Order& o, double price_current) {
  RecordWriter w(kOrderRecordSize);
  w.U64(0, o.ticket);
  w.I64(8, o.setup_msc / 1000);
  w.I64(16, o.setup_msc);
  w.I64(24, o.done_msc / 1000);
  w.I64(32, o.done_msc);
  w.I64(40, o.expiration);
  w.U32(48, o.type);
  w.U32(52, o.type_time);
  w.U32(56, o.type_filling);
  w.U32(60, o.state);
  w.U64(64, o.magic);
  w.U64(72, o.position_id);
  w.U64(80, o.position_by_id);
  w.U32(88, o.reason);
  w.F64(92, o.volume_initial);
  w.F64(100, o.volume_current);
  w.F64(108, o.price_open);
  w.F64(116, o.sl);
  w.F64(124, o.tp);
  w.F64(132, price_current);
  w.F64(140, o.price_stoplimit);
  w.Text(148, 32, SymbolName(*o.instrument));
  w.Text(212, 32, o.comment);
  w.Text(276, 32, u"");
  return w.bytes();
}

std::string DealRecord(const Deal& d) {
  RecordWriter w(kDealRecordSize);
  w.U64(0, d.ticket);
  w.U64(8, d.order);
  w.I64(16, d.time_msc / 1000);
  w.I64(24, d.time_msc);
  w.U32(32, d.type);
  w.U32(36, d.entry);
  w.U64(40, d.magic);
  w.U64(48, d.position_id);
  w.U32(56, d.reason);
  w.F64(60, d.volume);
  w.F64(68, d.price);
  w.F64(76, d.commission);
  w.F64(84, d.swap);
  w.F64(92, d.profit);
  w.F64(100, d.fee);
  w.Text(108, 32, d.instrument ? SymbolName(*d.instrument) : std::u16string());
  w.Text(172, 32, d.comment);
  w.Text(236, 32, u"");
  return w.bytes();
}

std::string CheckResultRecord(const TradeResult& r, const Figures& f) {
  RecordWriter w(kCheckResultSize);
  w.U32(0, r.retcode);
  w.F64(4, f.balance);
  w.F64(12, f.equity);
  w.F64(20, f.profit);
  w.F64(28, f.margin);
  w.F64(36, f.margin_free);
  w.F64(44, f.margin_level);
  w.Text(52, 100, r.comment);
  return w.bytes();
}

std::string SendResultRecord(const TradeResult& r, uint32_t request_id) {
  RecordWriter w(kSendResultSize);
  w.U32(0, r.retcode);
  w.U64(4, r.deal);
  w.U64(12, r.order);
  w.F64(20, r.volume);
  w.F64(28, r.price);
  w.F64(36, r.bid);
  w.F64(44, r.ask);
  w.Text(52, 100, r.comment);
  w.U32(252, request_id);
  w.I32(256, 0);  // retcode_external
  return w.bytes();
}

void AppendBookEntry(std::string* out, uint32_t type, double price, uint64_t volume, double volume_dbl) {
  RecordWriter w(kBookEntrySize);
  w.U32(0, type);
  w.F64(4, price);
  w.U64(12, volume);
  w.F64(20, volume_dbl);
  *out += w.bytes();
}

}  // namespace brv::paper
