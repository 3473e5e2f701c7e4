#include "paper/records.h"

#include <stdexcept>

#include "paper/codes.h"
#include "paper/wire.h"

namespace brv::paper {
namespace {

// The bytes of a finished record; a field the writer refused is a fault of
// this program, and fails the request rather than sending a wrong record.
const std::string& Done(const RecordWriter& w) {
  if (!w.ok()) throw std::logic_error("record field refused");
  return w.bytes();
}

}  // namespace

void AppendTick(std::string* out, const Tick& t) {
  using F = records::Tick;
  RecordWriter w(F::kSize);
  w.Put(F::time, t.time_msc / 1000);
  w.Put(F::bid, t.bid);
  w.Put(F::ask, t.ask);
  w.Put(F::last, t.last);
  w.Put(F::volume, t.volume);
  w.Put(F::time_msc, t.time_msc);
  w.Put(F::flags, t.flags);
  w.Put(F::volume_real, t.volume_real);
  *out += Done(w);
}

void AppendBar(std::string* out, const Bar& b) {
  using F = records::Rate;
  RecordWriter w(F::kSize);
  w.Put(F::time, b.time);
  w.Put(F::open, b.open);
  w.Put(F::high, b.high);
  w.Put(F::low, b.low);
  w.Put(F::close, b.close);
  w.Put(F::tick_volume, b.tick_volume);
  w.Put(F::spread, b.spread);
  w.Put(F::real_volume, b.real_volume);
  *out += Done(w);
}

std::string SymbolRecord(const SymbolSpec& s, const SymbolState& st) {
  using F = records::Symbol;
  RecordWriter w(F::kSize);
  const Tick& t = st.tick;
  const Aggregate& d = st.today;
  w.Put(F::custom, false);
  w.Put(F::chart_mode, kChartModeBid);
  w.Put(F::select, st.selected);
  w.Put(F::visible, st.selected);
  w.Put(F::session_deals, d.trades);
  w.Put(F::session_buy_orders, 0);
  w.Put(F::session_sell_orders, 0);
  w.Put(F::volume, t.volume);
  w.Put(F::volumehigh, d.volume_high);
  w.Put(F::volumelow, d.volume_low);
  w.Put(F::time, t.time_msc / 1000);
  w.Put(F::digits, uint32_t(s.digits));
  w.Put(F::spread, t.spread);
  w.Put(F::spread_float, true);
  w.Put(F::ticks_bookdepth, kBookDepth);
  w.Put(F::trade_calc_mode, s.calc_mode);
  w.Put(F::trade_mode, kSymbolTradeFull);
  w.Put(F::start_time, 0);
  w.Put(F::expiration_time, 0);
  w.Put(F::trade_stops_level, StopsLevel(s));
  w.Put(F::trade_freeze_level, 0);
  w.Put(F::trade_exemode, kExecutionMarket);
  w.Put(F::swap_mode, kSwapDisabled);
  w.Put(F::swap_rollover3days, 3);  // Wednesday
  w.Put(F::margin_hedged_use_leg, false);
  w.Put(F::expiration_mode, kExpirationMask);
  w.Put(F::filling_mode, kFillingMask);
  w.Put(F::order_mode, kOrderModeMask);
  w.Put(F::order_gtc_mode, kTimeGtc);
  w.Put(F::option_mode, 0);
  w.Put(F::option_right, 0);
  w.Put(F::bid, t.bid);
  w.Put(F::bidhigh, d.high);
  w.Put(F::bidlow, d.low);
  w.Put(F::ask, t.ask);
  w.Put(F::askhigh, d.ask_high);
  w.Put(F::asklow, d.ask_low);
  w.Put(F::last, t.last);
  w.Put(F::lasthigh, d.last_high);
  w.Put(F::lastlow, d.last_low);
  w.Put(F::volume_real, t.volume_real);
  w.Put(F::volumehigh_real, double(d.volume_high));
  w.Put(F::volumelow_real, double(d.volume_low));
  w.Put(F::option_strike, 0);
  w.Put(F::point, s.point());
  w.Put(F::trade_tick_value, st.tick_value);
  w.Put(F::trade_tick_value_profit, st.tick_value);
  w.Put(F::trade_tick_value_loss, st.tick_value);
  w.Put(F::trade_tick_size, s.point());
  w.Put(F::trade_contract_size, s.contract);
  w.Put(F::trade_accrued_interest, 0);
  w.Put(F::trade_face_value, 0);
  w.Put(F::trade_liquidity_rate, 0);
  w.Put(F::volume_min, s.volume_min);
  w.Put(F::volume_max, s.volume_max);
  w.Put(F::volume_step, s.volume_step);
  w.Put(F::volume_limit, 0);
  w.Put(F::swap_long, 0);
  w.Put(F::swap_short, 0);
  w.Put(F::margin_initial, 0);
  w.Put(F::margin_maintenance, 0);
  w.Put(F::session_volume, double(d.volume));
  w.Put(F::session_turnover, 0);
  w.Put(F::session_interest, 0);
  w.Put(F::session_buy_orders_volume, 0);
  w.Put(F::session_sell_orders_volume, 0);
  w.Put(F::session_open, d.open);
  w.Put(F::session_close, st.previous_close);
  w.Put(F::session_aw, 0);
  w.Put(F::session_price_settlement, 0);
  w.Put(F::session_price_limit_min, 0);
  w.Put(F::session_price_limit_max, 0);
  w.Put(F::margin_hedged, s.contract);
  w.Put(F::price_change, st.previous_close > 0 ? (t.bid - st.previous_close) / st.previous_close * 100.0 : 0);
  w.Put(F::price_volatility, 0);
  w.Put(F::price_theoretical, 0);
  // the greeks and the sensitivity stay 0
  w.Put(F::basis, "");
  w.Put(F::category, s.category);
  w.Put(F::currency_base, s.base);
  w.Put(F::currency_profit, s.profit);
  w.Put(F::currency_margin, s.margin);
  w.Put(F::bank, "Borvane Paper Liquidity");
  w.Put(F::description, s.description);
  w.Put(F::exchange, "PAPER");
  w.Put(F::formula, "");
  w.Put(F::isin, "");
  w.Put(F::page, "");
  w.Put(F::path, s.path);
  w.Put(F::name, s.name);
  return Done(w);
}

std::string AccountRecord(const Account& a, const Figures& f, bool trade_expert) {
  using F = records::Account;
  RecordWriter w(F::kSize);
  w.Put(F::login, a.config->login);
  w.Put(F::trade_mode, kAccountDemo);
  w.Put(F::leverage, a.config->leverage);
  w.Put(F::limit_orders, kMaxOrders);
  w.Put(F::margin_so_mode, kStopOutPercent);
  w.Put(F::trade_allowed, true);
  w.Put(F::trade_expert, trade_expert);
  w.Put(F::margin_mode, kMarginHedging);
  w.Put(F::currency_digits, kCurrencyDigits);
  w.Put(F::fifo_close, false);
  w.Put(F::balance, f.balance);
  w.Put(F::credit, f.credit);
  w.Put(F::profit, f.profit);
  w.Put(F::equity, f.equity);
  w.Put(F::margin, f.margin);
  w.Put(F::margin_free, f.margin_free);
  w.Put(F::margin_level, f.margin_level);
  w.Put(F::margin_so_call, 50.0);  // percent
  w.Put(F::margin_so_so, 30.0);  // percent
  w.Put(F::margin_initial, 0);
  w.Put(F::margin_maintenance, 0);
  w.Put(F::assets, 0);
  w.Put(F::liabilities, 0);
  w.Put(F::commission_blocked, 0);
  w.Put(F::name, a.config->name);
  w.Put(F::server, kServerName);
  w.Put(F::currency, a.config->currency);
  w.Put(F::company, kCompanyName);
  return Done(w);
}

std::string TerminalRecord(const TerminalState& st) {
  using F = records::Terminal;
  RecordWriter w(F::kSize);
  w.Put(F::build, kBuild);
  w.Put(F::community_account, false);
  w.Put(F::community_connection, false);
  w.Put(F::connected, true);
  w.Put(F::dlls_allowed, false);
  w.Put(F::trade_allowed, st.trade_allowed);
  w.Put(F::email_enabled, false);
  w.Put(F::ftp_enabled, false);
  w.Put(F::notifications_enabled, false);
  w.Put(F::maxbars, kMaxBars);
  w.Put(F::hcid, false);
  w.Put(F::codepage, 65001);  // UTF-8
  w.Put(F::ping_last, 0);
  w.Put(F::community_balance, 0);
  w.Put(F::retransmission, 0);
  w.Put(F::company, kCompanyName);
  w.Put(F::name, u"Borvane Paper Terminal");
  w.Put(F::language, u"English");
  w.Put(F::path, st.path);
  w.Put(F::data_path, st.data_path);
  w.Put(F::commondata_path, st.commondata_path);
  w.Put(F::tradeapi_disabled, !st.trade_allowed);
  return Done(w);
}

std::string PositionRecord(const Position& p, double price_current, double profit) {
  using F = records::Position;
  RecordWriter w(F::kSize);
  w.Put(F::ticket, p.ticket);
  w.Put(F::time, p.time_msc / 1000);
  w.Put(F::time_msc, p.time_msc);
  w.Put(F::time_update, p.update_msc / 1000);
  w.Put(F::time_update_msc, p.update_msc);
  w.Put(F::type, p.type);
  w.Put(F::magic, p.magic);
  w.Put(F::identifier, p.ticket);  // the ticket of the opening order
  w.Put(F::reason, p.reason);
  w.Put(F::volume, p.volume);
  w.Put(F::price_open, p.price_open);
  w.Put(F::sl, p.sl);
  w.Put(F::tp, p.tp);
  w.Put(F::price_current, price_current);
  w.Put(F::swap, 0);
  w.Put(F::profit, profit);
  w.Put(F::symbol, SymbolName(*p.instrument));
  w.Put(F::comment, p.comment);
  w.Put(F::external_id, u"");
  return Done(w);
}

std::string OrderRecord(const Order& o, double price_current) {
  using F = records::Order;
  RecordWriter w(F::kSize);
  w.Put(F::ticket, o.ticket);
  w.Put(F::time_setup, o.setup_msc / 1000);
  w.Put(F::time_setup_msc, o.setup_msc);
  w.Put(F::time_done, o.done_msc / 1000);
  w.Put(F::time_done_msc, o.done_msc);
  w.Put(F::time_expiration, o.expiration);
  w.Put(F::type, o.type);
  w.Put(F::type_time, o.type_time);
  w.Put(F::type_filling, o.type_filling);
  w.Put(F::state, o.state);
  w.Put(F::magic, o.magic);
  w.Put(F::position_id, o.position_id);
  w.Put(F::position_by_id, o.position_by_id);
  w.Put(F::reason, o.reason);
  w.Put(F::volume_initial, o.volume_initial);
  w.Put(F::volume_current, o.volume_current);
  w.Put(F::price_open, o.price_open);
  w.Put(F::sl, o.sl);
  w.Put(F::tp, o.tp);
  w.Put(F::price_current, price_current);
  w.Put(F::price_stoplimit, o.price_stoplimit);
  w.Put(F::symbol, SymbolName(*o.instrument));
  w.Put(F::comment, o.comment);
  w.Put(F::external_id, u"");
  return Done(w);
}

std::string DealRecord(const Deal& d) {
  using F = records::Deal;
  RecordWriter w(F::kSize);
  w.Put(F::ticket, d.ticket);
  w.Put(F::order, d.order);
  w.Put(F::time, d.time_msc / 1000);
  w.Put(F::time_msc, d.time_msc);
  w.Put(F::type, d.type);
  w.Put(F::entry, d.entry);
  w.Put(F::magic, d.magic);
  w.Put(F::position_id, d.position_id);
  w.Put(F::reason, d.reason);
  w.Put(F::volume, d.volume);
  w.Put(F::price, d.price);
  w.Put(F::commission, d.commission);
  w.Put(F::swap, d.swap);
  w.Put(F::profit, d.profit);
  w.Put(F::fee, d.fee);
  w.Put(F::symbol, d.instrument ? SymbolName(*d.instrument) : std::u16string());
  w.Put(F::comment, d.comment);
  w.Put(F::external_id, u"");
  return Done(w);
}

std::string CheckResultRecord(const TradeResult& r, const Figures& f) {
  using F = records::CheckResult;
  RecordWriter w(F::kSize);
  w.Put(F::retcode, r.retcode);
  w.Put(F::balance, f.balance);
  w.Put(F::equity, f.equity);
  w.Put(F::profit, f.profit);
  w.Put(F::margin, f.margin);
  w.Put(F::margin_free, f.margin_free);
  w.Put(F::margin_level, f.margin_level);
  w.Put(F::comment, r.comment);
  return Done(w);
}

std::string SendResultRecord(const TradeResult& r, uint32_t request_id) {
  using F = records::SendResult;
  RecordWriter w(F::kSize);
  w.Put(F::retcode, r.retcode);
  w.Put(F::deal, r.deal);
  w.Put(F::order, r.order);
  w.Put(F::volume, r.volume);
  w.Put(F::price, r.price);
  w.Put(F::bid, r.bid);
  w.Put(F::ask, r.ask);
  w.Put(F::comment, r.comment);
  w.Put(F::request_id, request_id);
  w.Put(F::retcode_external, 0);
  return Done(w);
}

void AppendBookEntry(std::string* out, uint32_t type, double price, uint64_t volume, double volume_dbl) {
  using F = records::BookEntry;
  RecordWriter w(F::kSize);
  w.Put(F::type, type);
  w.Put(F::price, price);
  w.Put(F::volume, volume);
  w.Put(F::volume_dbl, volume_dbl);
  *out += Done(w);
}

}  // namespace brv::paper
