#include "paper/engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "paper/codes.h"
#include "paper/sessions.h"

namespace brv::paper {
namespace {

const std::vector<AccountConfig> kAccounts = {
    {70010001, "paper-demo", "Paper Trader", "USD", 100, 10000.0},
    {70010002, "euro-demo", "Paper Trader EUR", "EUR", 30, 5000.0},
    {70010003, "pro-demo", "Paper Trader Pro", "USD", 500, 100000.0},
};

constexpr double kEps = 1e-9;

std::u16string Ascii(const std::string& s) {
  std::u16string out;
  for (char c : s) out += char16_t(static_cast<unsigned char>(c));
  return out;
}

std::u16string FormatPrice(const char* prefix, double price, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s %.*f", prefix, digits, price);
  return Ascii(buf);
}

std::string FormatNumber(double value, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.*f", digits, value);
  return buf;
}

std::string ReasonText(uint32_t reason) {
  switch (reason) {
    case kReasonSl: return " (stop loss)";
    case kReasonTp: return " (take profit)";
    case kReasonSo: return " (stop out)";
    default: return "";
  }
}

bool IsBuy(uint32_t type) {
  return type == kOrderBuy || type == kOrderBuyLimit || type == kOrderBuyStop || type == kOrderBuyStopLimit;
}

bool IsPendingType(uint32_t type) { return type >= kOrderBuyLimit && type <= kOrderSellStopLimit; }

bool VolumeValid(const SymbolSpec& instrument, double volume) {
  if (!(volume >= instrument.volume_min - kEps) || volume > instrument.volume_max + kEps) return false;
  double steps = volume / instrument.volume_step;
  return std::fabs(steps - std::round(steps)) < 1e-6;
}

// Stops around a reference price, at least the symbol's stops level away:
// below and above for a buy, the other way round for a sell; 0 means no stop.
bool StopsValid(const SymbolSpec& instrument, bool buy, double reference, double sl, double tp) {
  if (sl < 0 || tp < 0) return false;
  const double gap = StopsLevel(instrument) * instrument.point() - kEps;
  if (buy) return (sl == 0 || sl <= reference - gap) && (tp == 0 || tp >= reference + gap);
  return (sl == 0 || sl >= reference + gap) && (tp == 0 || tp <= reference - gap);
}

// A price given with more digits than the symbol has is refused; one that
// differs from a whole number of points only by the binary representation's
// error is rounded to it.
bool Normalize(const SymbolSpec& instrument, double* price) {
  double rounded = RoundPrice(*price, instrument.digits);
  if (std::fabs(rounded - *price) > instrument.point() * 1e-6) return false;
  *price = rounded;
  return true;
}

TradeResult Fail(uint32_t retcode, const char* comment) {
  TradeResult r;
  r.retcode = retcode;
  r.comment = Ascii(comment);
  return r;
}

int64_t EndOfDay(int64_t seconds) { return (FloorDiv(seconds, 86400) + 1) * 86400; }

// Expiration (seconds, 0 = none) of a pending order, or -1 when invalid.
int64_t Expiration(uint32_t type_time, int64_t expiration, int64_t now_ms) {
  int64_t now_s = FloorDiv(now_ms, 1000);
  switch (type_time) {
    case 0:
    case kTimeGtc:
      return 0;
    case kTimeDay:
      return EndOfDay(now_s);
    case kTimeSpecified:
      return expiration * 1000 > now_ms ? expiration : -1;
    case kTimeSpecifiedDay:
      return EndOfDay(expiration) * 1000 > now_ms ? EndOfDay(expiration) : -1;
    default:
      return -1;
  }
}

bool OrderTriggers(const Order& o, const Tick& t) {
  switch (o.type) {
    case kOrderBuyLimit:
      return t.ask <= o.price_open + kEps;
    case kOrderSellLimit:
      return t.bid >= o.price_open - kEps;
    case kOrderBuyStop:
    case kOrderBuyStopLimit:
      return t.ask >= o.price_open - kEps;
    case kOrderSellStop:
    case kOrderSellStopLimit:
      return t.bid <= o.price_open + kEps;
    default:
      return false;
  }
}

// 0 when the stops of the position are not hit by the tick, else the reason.
uint32_t StopHit(const Position& p, const Tick& t) {
  if (p.type == kPositionBuy) {
    if (p.sl > 0 && t.bid <= p.sl + kEps) return kReasonSl;
    if (p.tp > 0 && t.bid >= p.tp - kEps) return kReasonTp;
  } else {
    if (p.sl > 0 && t.ask >= p.sl - kEps) return kReasonSl;
    if (p.tp > 0 && t.ask <= p.tp + kEps) return kReasonTp;
  }
  return 0;
}

}  // namespace

const std::vector<AccountConfig>& AccountConfigs() { return kAccounts; }

Engine::Engine(const Market& market, int64_t start_ms, uint64_t default_login) : market_(market) {
  for (const auto& config : kAccounts) {
    Account a;
    a.config = &config;
    Reset(a, start_ms, 0);
    if (config.login == default_login) current_ = accounts_.size();
    accounts_.push_back(std::move(a));
  }
}

void Engine::Reset(Account& account, int64_t now_ms, uint64_t next_ticket) const {
  const AccountConfig* config = account.config;
  account = Account();
  account.config = config;
  account.balance = config->deposit;
  account.next_ticket = std::max<uint64_t>(1000001, next_ticket);
  account.evaluated_msc = now_ms;
  Deal d{};
  d.ticket = account.next_ticket++;
  d.time_msc = now_ms;
  d.type = kDealBalance;
  d.reason = kReasonDeposit;
  d.profit = config->deposit;
  d.instrument = nullptr;
  d.comment = u"Initial deposit";
  account.deals.push_back(d);
}

void Engine::Log(const Account& account, const std::string& line) const {
  if (hooks_.log) hooks_.log(std::to_string(account.config->login) + ": " + line);
}

bool Engine::Authorize(uint64_t login, const std::u16string& password, const std::u16string& server) {
  if (!server.empty() && server != kServerName) return false;
  if (login == 0) return password.empty();
  for (size_t i = 0; i < accounts_.size(); ++i) {
    if (accounts_[i].config->login == login) {
      if (password != Ascii(accounts_[i].config->password)) return false;
      current_ = i;
      return true;
    }
  }
  return false;
}

// ---- money ---------------------------------------------------------------

double Engine::Conversion(const std::string& from, const std::string& to, int64_t at_ms) const {
  if (from == to) return 1.0;
  for (const auto& instrument : Catalogue()) {
    if (instrument.calc_mode != kCalcForex) continue;
    if (instrument.base == from && instrument.profit == to) {
      Tick t = market_.LastTick(instrument, at_ms);
      return (t.bid + t.ask) / 2;
    }
    if (instrument.base == to && instrument.profit == from) {
      Tick t = market_.LastTick(instrument, at_ms);
      return 2 / (t.bid + t.ask);
    }
  }
  if (from != "USD" && to != "USD") return Conversion(from, "USD", at_ms) * Conversion("USD", to, at_ms);
  return 1.0;
}

// Money is kept in the account currency's cents, as a trade server books it.
static double RoundMoney(double amount) { return RoundPrice(amount, kCurrencyDigits); }

double Engine::Margin(const Account& account, const SymbolSpec& instrument, double volume, double price,
                      int64_t at_ms) const {
  double amount = volume * instrument.contract * price / account.config->leverage * instrument.margin_rate;
  return RoundMoney(amount * Conversion(instrument.profit, account.config->currency, at_ms));
}

double Engine::Profit(const Account& account, const SymbolSpec& instrument, uint32_t position_type, double volume,
                      double open, double close, int64_t at_ms) const {
  double diff = position_type == kPositionBuy ? close - open : open - close;
  return RoundMoney(diff * instrument.contract * volume * Conversion(instrument.profit, account.config->currency, at_ms));
}

double Engine::PositionPriceCurrent(const Position& p, int64_t now_ms) const {
  Tick t = market_.LastTick(*p.instrument, now_ms);
  return p.type == kPositionBuy ? t.bid : t.ask;
}

double Engine::OrderPriceCurrent(const Order& o, int64_t now_ms) const {
  Tick t = market_.LastTick(*o.instrument, now_ms);
  return IsBuy(o.type) ? t.ask : t.bid;
}

double Engine::PositionProfit(const Account& account, const Position& p, int64_t now_ms) const {
  return Profit(account, *p.instrument, p.type, p.volume, p.price_open, PositionPriceCurrent(p, now_ms), now_ms);
}

Figures Engine::ComputeFigures(const Account& account, int64_t now_ms) const {
  Figures f;
  f.balance = account.balance;
  for (const auto& p : account.positions) {
    f.profit += PositionProfit(account, p, now_ms);
    f.margin += Margin(account, *p.instrument, p.volume, p.price_open, now_ms);
  }
  f.equity = f.balance + f.credit + f.profit;
  f.margin_free = f.equity - f.margin;
  f.margin_level = f.margin > 0 ? f.equity / f.margin * 100.0 : 0.0;
  return f;
}

bool Engine::CalcMargin(uint32_t type, const SymbolSpec& instrument, double volume, double price, int64_t now_ms,
                        double* margin) const {
  if (type < kOrderBuy || type > kOrderSellStopLimit) return false;
  *margin = Margin(current(), instrument, volume, price, now_ms);
  return true;
}

bool Engine::CalcProfit(uint32_t type, const SymbolSpec& instrument, double volume, double open, double close,
                        int64_t now_ms, double* profit) const {
  if (type < kOrderBuy || type > kOrderSellStopLimit) return false;
  *profit = Profit(current(), instrument, IsBuy(type) ? kPositionBuy : kPositionSell, volume, open, close, now_ms);
  return true;
}

// ---- positions -------------------------------------------------------------

uint64_t Engine::OpenPosition(Account& account, Order& order, double price, int64_t at_ms) const {
  order.state = kStateFilled;
  order.done_msc = at_ms;
  order.volume_current = 0;
  order.price_current = price;
  order.position_id = order.ticket;
  bool buy = IsBuy(order.type);
  Deal d{};
  d.ticket = account.next_ticket++;
  d.order = order.ticket;
  d.time_msc = at_ms;
  d.type = buy ? kDealBuy : kDealSell;
  d.entry = kEntryIn;
  d.magic = order.magic;
  d.position_id = order.ticket;
  d.reason = order.reason;
  d.volume = order.volume_initial;
  d.price = price;
  d.instrument = order.instrument;
  d.comment = order.comment;
  account.deals.push_back(d);
  Position p{};
  p.ticket = order.ticket;
  p.time_msc = p.update_msc = at_ms;
  p.type = buy ? kPositionBuy : kPositionSell;
  p.magic = order.magic;
  p.reason = order.reason;
  p.volume = order.volume_initial;
  p.price_open = price;
  p.sl = order.sl;
  p.tp = order.tp;
  p.instrument = order.instrument;
  p.comment = order.comment;
  p.watch_msc = at_ms;
  account.positions.push_back(p);
  account.history.push_back(order);
  Log(account, "deal #" + std::to_string(d.ticket) + " " + (buy ? "buy " : "sell ") + FormatNumber(d.volume, 2) + " " +
                   order.instrument->name + " at " + FormatNumber(price, order.instrument->digits) +
                   " opens position #" + std::to_string(p.ticket));
  return d.ticket;
}

uint64_t Engine::ClosePosition(Account& account, size_t i, double volume, double price, int64_t at_ms,
                               uint32_t reason, const std::u16string& comment, uint64_t magic,
                               uint64_t* order_ticket) const {
  Position& p = account.positions[i];
  bool buy = p.type == kPositionBuy;
  Order o{};
  o.ticket = account.next_ticket++;
  o.setup_msc = o.done_msc = at_ms;
  o.type = buy ? kOrderSell : kOrderBuy;
  o.type_time = kTimeGtc;
  o.type_filling = kFillingFok;
  o.state = kStateFilled;
  o.magic = magic;
  o.position_id = p.ticket;
  o.reason = reason;
  o.volume_initial = volume;
  o.price_open = o.price_current = price;
  o.sl = p.sl;
  o.tp = p.tp;
  o.instrument = p.instrument;
  o.comment = comment;
  account.history.push_back(o);
  Deal d{};
  d.ticket = account.next_ticket++;
  d.order = o.ticket;
  d.time_msc = at_ms;
  d.type = buy ? kDealSell : kDealBuy;
  d.entry = kEntryOut;
  d.magic = magic;
  d.position_id = p.ticket;
  d.reason = reason;
  d.volume = volume;
  d.price = price;
  d.profit = Profit(account, *p.instrument, p.type, volume, p.price_open, price, at_ms);
  d.instrument = p.instrument;
  d.comment = comment;
  account.deals.push_back(d);
  account.balance = RoundMoney(account.balance + d.profit);
  Log(account, "deal #" + std::to_string(d.ticket) + " " + (buy ? "sell " : "buy ") + FormatNumber(volume, 2) + " " +
                   p.instrument->name + " at " + FormatNumber(price, p.instrument->digits) + " closes position #" +
                   std::to_string(p.ticket) + ReasonText(reason) + ", profit " + FormatNumber(d.profit, 2));
  if (volume >= p.volume - kEps) {
    account.positions.erase(account.positions.begin() + long(i));
  } else {
    p.volume = RoundPrice(p.volume - volume, 8);
    p.update_msc = at_ms;
  }
  *order_ticket = o.ticket;
  return d.ticket;
}

// ---- requests ------------------------------------------------------------

TradeResult Engine::Send(const TradeRequest& request, int64_t now_ms) {
  Account& account = accounts_[current_];
  if (!hooks_.commit) return Execute(account, request, now_ms);
  Account before = account;
  TradeResult r = Execute(account, request, now_ms);
  if (r.retcode != kRetDone && r.retcode != kRetPlaced) return r;
  // Answered only once committed: a change that cannot be stored is undone.
  if (!hooks_.commit(account)) {
    account = std::move(before);
    return Fail(kRetError, "Cannot store the account");
  }
  account.committed_msc = account.evaluated_msc;
  return r;
}

TradeResult Engine::Check(const TradeRequest& request, int64_t now_ms, Figures* after) const {
  Account copy = accounts_[current_];
  TradeResult r = Execute(copy, request, now_ms);
  *after = ComputeFigures(copy, now_ms);
  if (r.retcode == kRetDone || r.retcode == kRetPlaced) {
    r.retcode = kRetDone;
    r.comment = u"Done";
  }
  return r;
}

TradeResult Engine::Execute(Account& account, const TradeRequest& request, int64_t now_ms) const {
  // Prices and stops in the symbol's digits: the symbol is the request's, or
  // that of the position or order it names.
  const SymbolSpec* instrument = request.symbol.empty() ? nullptr : FindSymbol(request.symbol);
  for (const Position& p : account.positions) {
    if (instrument == nullptr && p.ticket == request.position) instrument = p.instrument;
  }
  for (const Order& o : account.orders) {
    if (instrument == nullptr && o.ticket == request.order) instrument = o.instrument;
  }
  if (instrument != nullptr && !MarketOpen(*instrument, FloorDiv(now_ms, 60000))) {
    return Fail(kRetMarketClosed, "Market closed");
  }
  TradeRequest r = request;
  if (instrument != nullptr) {
    if (!Normalize(*instrument, &r.price) || !Normalize(*instrument, &r.stoplimit)) {
      return Fail(kRetInvalidPrice, "Invalid price");
    }
    if (!Normalize(*instrument, &r.sl) || !Normalize(*instrument, &r.tp)) return Fail(kRetInvalidStops, "Invalid stops");
  }
  switch (r.action) {
    case kActionDeal:
      return Market_(account, r, now_ms);
    case kActionPending:
      return Pending(account, r, now_ms);
    case kActionSltp:
      return Sltp(account, r, now_ms);
    case kActionModify:
      return Modify(account, r, now_ms);
    case kActionRemove:
      return Remove(account, r, now_ms);
    case kActionCloseBy:
      return CloseBy(account, r, now_ms);
    default:
      return Fail(kRetInvalid, "Invalid request: unknown action");
  }
}

TradeResult Engine::Market_(Account& account, const TradeRequest& r, int64_t now_ms) const {
  const SymbolSpec* instrument = r.symbol.empty() ? nullptr : FindSymbol(r.symbol);
  size_t pos_index = account.positions.size();
  if (r.position != 0) {
    for (size_t i = 0; i < account.positions.size(); ++i) {
      if (account.positions[i].ticket == r.position) pos_index = i;
    }
    if (pos_index == account.positions.size()) return Fail(kRetNotFound, "Position not found");
    if (instrument == nullptr && r.symbol.empty()) instrument = account.positions[pos_index].instrument;
    if (instrument != account.positions[pos_index].instrument) return Fail(kRetInvalid, "Symbol differs from the position's");
  }
  if (instrument == nullptr) return Fail(kRetUnknownSymbol, "Unknown symbol");
  if (r.type != kOrderBuy && r.type != kOrderSell) return Fail(kRetInvalidOrder, "Invalid order type");
  if (r.type_filling > kFillingReturn) return Fail(kRetInvalidFill, "Unsupported filling mode");
  if (!VolumeValid(*instrument, r.volume)) return Fail(kRetInvalidVolume, "Invalid volume");
  bool buy = r.type == kOrderBuy;
  Tick tick = market_.LastTick(*instrument, now_ms);
  double price = buy ? tick.ask : tick.bid;
  TradeResult res;
  res.bid = tick.bid;
  res.ask = tick.ask;
  if (r.price > 0 && r.deviation > 0 && std::fabs(r.price - price) > double(r.deviation) * instrument->point() + kEps) {
    res.retcode = kRetRequote;
    res.comment = u"Requote";
    return res;
  }
  if (pos_index < account.positions.size()) {
    const Position& p = account.positions[pos_index];
    if ((p.type == kPositionBuy) == buy) return Fail(kRetInvalid, "Order type must be opposite to the position");
    if (r.volume > p.volume + kEps) return Fail(kRetInvalidVolume, "Volume exceeds the position's");
    uint64_t order = 0;
    res.deal = ClosePosition(account, pos_index, r.volume, price, now_ms, kReasonApi, r.comment, r.magic, &order);
    res.order = order;
  } else {
    if (!StopsValid(*instrument, buy, buy ? tick.bid : tick.ask, r.sl, r.tp)) return Fail(kRetInvalidStops, "Invalid stops");
    Figures f = ComputeFigures(account, now_ms);
    if (f.margin_free - Margin(account, *instrument, r.volume, price, now_ms) < 0) return Fail(kRetNoMoney, "No money");
    Order o{};
    o.ticket = account.next_ticket++;
    o.setup_msc = now_ms;
    o.type = r.type;
    o.type_time = kTimeGtc;
    o.type_filling = r.type_filling == 0 ? kFillingFok : r.type_filling;
    o.magic = r.magic;
    o.reason = kReasonApi;
    o.volume_initial = r.volume;
    o.price_open = price;
    o.sl = r.sl;
    o.tp = r.tp;
    o.instrument = instrument;
    o.comment = r.comment;
    res.deal = OpenPosition(account, o, price, now_ms);
    res.order = o.ticket;
  }
  res.retcode = kRetDone;
  res.volume = r.volume;
  res.price = price;
  res.comment = u"Request executed";
  return res;
}

TradeResult Engine::Pending(Account& account, const TradeRequest& r, int64_t now_ms) const {
  const SymbolSpec* instrument = FindSymbol(r.symbol);
  if (instrument == nullptr) return Fail(kRetUnknownSymbol, "Unknown symbol");
  if (!IsPendingType(r.type)) return Fail(kRetInvalidOrder, "Invalid order type");
  if (r.type_filling > kFillingReturn) return Fail(kRetInvalidFill, "Unsupported filling mode");
  if (!VolumeValid(*instrument, r.volume)) return Fail(kRetInvalidVolume, "Invalid volume");
  int64_t expiration = Expiration(r.type_time, r.expiration, now_ms);
  if (expiration < 0) return Fail(kRetInvalidExpiration, "Invalid expiration");
  Tick tick = market_.LastTick(*instrument, now_ms);
  bool buy = IsBuy(r.type);
  bool price_ok = r.price > 0;
  switch (r.type) {
    case kOrderBuyLimit: price_ok = price_ok && r.price < tick.ask; break;
    case kOrderSellLimit: price_ok = price_ok && r.price > tick.bid; break;
    case kOrderBuyStop: price_ok = price_ok && r.price > tick.ask; break;
    case kOrderSellStop: price_ok = price_ok && r.price < tick.bid; break;
    case kOrderBuyStopLimit:
      price_ok = price_ok && r.price > tick.ask && r.stoplimit > 0 && r.stoplimit < r.price;
      break;
    case kOrderSellStopLimit: price_ok = price_ok && r.price < tick.bid && r.stoplimit > r.price; break;
  }
  TradeResult res;
  res.bid = tick.bid;
  res.ask = tick.ask;
  if (!price_ok) {
    res.retcode = kRetInvalidPrice;
    res.comment = u"Invalid price";
    return res;
  }
  bool stop_limit = r.type == kOrderBuyStopLimit || r.type == kOrderSellStopLimit;
  double entry = stop_limit ? r.stoplimit : r.price;
  if (!StopsValid(*instrument, buy, entry, r.sl, r.tp)) return Fail(kRetInvalidStops, "Invalid stops");
  if (account.orders.size() >= kMaxOrders) return Fail(kRetLimitOrders, "Too many pending orders");
  Figures f = ComputeFigures(account, now_ms);
  if (f.margin_free - Margin(account, *instrument, r.volume, entry, now_ms) < 0) return Fail(kRetNoMoney, "No money");
  Order o{};
  o.ticket = account.next_ticket++;
  o.setup_msc = now_ms;
  o.expiration = expiration;
  o.type = r.type;
  o.type_time = r.type_time == 0 ? kTimeGtc : r.type_time;
  o.type_filling = r.type_filling == 0 ? kFillingFok : r.type_filling;
  o.state = kStatePlaced;
  o.magic = r.magic;
  o.reason = kReasonApi;
  o.volume_initial = o.volume_current = r.volume;
  o.price_open = r.price;
  o.sl = r.sl;
  o.tp = r.tp;
  o.price_stoplimit = stop_limit ? r.stoplimit : 0;
  o.instrument = instrument;
  o.comment = r.comment;
  o.watch_msc = now_ms;
  account.orders.push_back(o);
  res.retcode = kRetPlaced;
  res.order = o.ticket;
  res.volume = r.volume;
  res.price = r.price;
  res.comment = u"Order placed";
  return res;
}

TradeResult Engine::Sltp(Account& account, const TradeRequest& r, int64_t now_ms) const {
  for (auto& p : account.positions) {
    if (p.ticket != r.position) continue;
    Tick tick = market_.LastTick(*p.instrument, now_ms);
    bool buy = p.type == kPositionBuy;
    if (!StopsValid(*p.instrument, buy, buy ? tick.bid : tick.ask, r.sl, r.tp)) return Fail(kRetInvalidStops, "Invalid stops");
    p.sl = r.sl;
    p.tp = r.tp;
    p.update_msc = now_ms;
    p.watch_msc = now_ms;
    TradeResult res;
    res.retcode = kRetDone;
    res.bid = tick.bid;
    res.ask = tick.ask;
    res.volume = p.volume;
    res.comment = u"Stops modified";
    return res;
  }
  return Fail(kRetNotFound, "Position not found");
}

TradeResult Engine::Modify(Account& account, const TradeRequest& r, int64_t now_ms) const {
  for (auto& o : account.orders) {
    if (o.ticket != r.order) continue;
    TradeRequest placed = r;
    placed.symbol = SymbolName(*o.instrument);
    placed.type = o.type;
    placed.volume = o.volume_current;
    placed.type_filling = o.type_filling;
    Account scratch;  // validates like a new order, without keeping it
    scratch.config = account.config;
    scratch.balance = account.balance;
    scratch.positions = account.positions;
    TradeResult check = Pending(scratch, placed, now_ms);
    if (check.retcode != kRetPlaced) return check;
    const Order& fresh = scratch.orders.back();
    o.price_open = fresh.price_open;
    o.price_stoplimit = fresh.price_stoplimit;
    o.sl = fresh.sl;
    o.tp = fresh.tp;
    o.type_time = fresh.type_time;
    o.expiration = fresh.expiration;
    o.watch_msc = now_ms;
    TradeResult res;
    res.retcode = kRetDone;
    res.order = o.ticket;
    res.volume = o.volume_current;
    res.price = o.price_open;
    res.bid = check.bid;
    res.ask = check.ask;
    res.comment = u"Order modified";
    return res;
  }
  return Fail(kRetNotFound, "Order not found");
}

TradeResult Engine::Remove(Account& account, const TradeRequest& r, int64_t now_ms) const {
  for (size_t i = 0; i < account.orders.size(); ++i) {
    Order o = account.orders[i];
    if (o.ticket != r.order) continue;
    o.state = kStateCanceled;
    o.done_msc = now_ms;
    o.price_current = OrderPriceCurrent(o, now_ms);
    account.orders.erase(account.orders.begin() + long(i));
    account.history.push_back(o);
    TradeResult res;
    res.retcode = kRetDone;
    res.order = o.ticket;
    res.volume = o.volume_current;
    res.comment = u"Order removed";
    return res;
  }
  return Fail(kRetNotFound, "Order not found");
}

TradeResult Engine::CloseBy(Account& account, const TradeRequest& r, int64_t now_ms) const {
  size_t a = account.positions.size(), b = a;
  for (size_t i = 0; i < account.positions.size(); ++i) {
    if (account.positions[i].ticket == r.position) a = i;
    if (account.positions[i].ticket == r.position_by) b = i;
  }
  if (a == account.positions.size() || b == account.positions.size()) return Fail(kRetNotFound, "Position not found");
  Position pa = account.positions[a], pb = account.positions[b];
  if (a == b || pa.instrument != pb.instrument || pa.type == pb.type) return Fail(kRetInvalidCloseBy, "Invalid close by");
  double volume = std::min(pa.volume, pb.volume);
  Order o{};
  o.ticket = account.next_ticket++;
  o.setup_msc = o.done_msc = now_ms;
  o.type = kOrderCloseBy;
  o.type_time = kTimeGtc;
  o.type_filling = kFillingFok;
  o.state = kStateFilled;
  o.magic = r.magic;
  o.position_id = pa.ticket;
  o.position_by_id = pb.ticket;
  o.reason = kReasonApi;
  o.volume_initial = volume;
  o.price_open = o.price_current = pb.price_open;
  o.instrument = pa.instrument;
  o.comment = r.comment;
  account.history.push_back(o);
  // The first position closes at the opening price of the second, the second
  // at its own: together they realise the difference of their open prices.
  uint64_t first_deal = 0;
  for (const Position* p : {&pa, &pb}) {
    Deal d{};
    d.ticket = account.next_ticket++;
    d.order = o.ticket;
    d.time_msc = now_ms;
    d.type = p->type == kPositionBuy ? kDealSell : kDealBuy;
    d.entry = kEntryOutBy;
    d.magic = r.magic;
    d.position_id = p->ticket;
    d.reason = kReasonApi;
    d.volume = volume;
    d.price = pb.price_open;
    d.profit = Profit(account, *p->instrument, p->type, volume, p->price_open, pb.price_open, now_ms);
    d.instrument = p->instrument;
    d.comment = r.comment;
    account.deals.push_back(d);
    account.balance = RoundMoney(account.balance + d.profit);
    if (first_deal == 0) first_deal = d.ticket;
  }
  for (uint64_t ticket : {pa.ticket, pb.ticket}) {
    for (size_t i = 0; i < account.positions.size(); ++i) {
      Position& p = account.positions[i];
      if (p.ticket != ticket) continue;
      if (p.volume <= volume + kEps) {
        account.positions.erase(account.positions.begin() + long(i));
      } else {
        p.volume = RoundPrice(p.volume - volume, 8);
        p.update_msc = now_ms;
      }
      break;
    }
  }
  Tick tick = market_.LastTick(*pa.instrument, now_ms);
  TradeResult res;
  res.retcode = kRetDone;
  res.deal = first_deal;
  res.order = o.ticket;
  res.volume = volume;
  res.price = pb.price_open;
  res.bid = tick.bid;
  res.ask = tick.ask;
  res.comment = u"Positions closed by each other";
  return res;
}

// ---- lazy evaluation -------------------------------------------------------

bool Engine::StopOut(Account& account, int64_t now_ms) const {
  bool closed = false;
  for (;;) {
    Figures f = ComputeFigures(account, now_ms);
    bool call = f.margin > 0 && f.margin_level < kMarginCallLevel;
    if (call && !account.margin_call) {
      Log(account, "margin call: margin level " + FormatNumber(f.margin_level, 2) + "%");
    }
    account.margin_call = call;
    if (f.margin <= 0 || f.margin_level >= kStopOutLevel) return closed;
    // The position losing most goes first, until the level is back.
    size_t worst = 0;
    double worst_profit = 0;
    for (size_t i = 0; i < account.positions.size(); ++i) {
      double profit = PositionProfit(account, account.positions[i], now_ms);
      if (i == 0 || profit < worst_profit) {
        worst = i;
        worst_profit = profit;
      }
    }
    const Position& p = account.positions[worst];
    std::u16string comment = Ascii("[so " + FormatNumber(f.margin_level, 2) + "%]");
    uint64_t order = 0;
    ClosePosition(account, worst, p.volume, PositionPriceCurrent(p, now_ms), now_ms, kReasonSo, comment, p.magic,
                  &order);
    closed = true;
  }
}

void Engine::Update(int64_t now_ms) {
  constexpr int64_t kDayMs = 86400000, kCommitEveryMs = 3600000;
  for (auto& account : accounts_) {
    // A long gap (a terminal started again after days) is walked a day at a
    // time, so that the ticks held at once stay bounded.
    bool changed = false;
    while (now_ms - account.evaluated_msc > kDayMs) changed |= Evaluate(account, account.evaluated_msc + kDayMs);
    changed |= Evaluate(account, now_ms);
    changed |= StopOut(account, now_ms);
    bool watched = !account.orders.empty() || !account.positions.empty();
    if (hooks_.commit &&
        (changed || (watched && account.evaluated_msc - account.committed_msc > kCommitEveryMs)) &&
        hooks_.commit(account)) {
      account.committed_msc = account.evaluated_msc;
    }
  }
}

bool Engine::Evaluate(Account& account, int64_t now_ms) const {
  const int64_t from = account.evaluated_msc;
  if (now_ms <= from) return false;
  if (account.orders.empty() && std::none_of(account.positions.begin(), account.positions.end(),
                                             [](const Position& p) { return p.sl > 0 || p.tp > 0; })) {
    account.evaluated_msc = now_ms;
    return false;
  }
  bool changed = false;
  // The ticks of (from, now] per symbol, generated once per evaluation.
  std::vector<std::vector<Tick>> window(Catalogue().size());
  std::vector<bool> loaded(Catalogue().size(), false);
  auto ticks_of = [&](const SymbolSpec* instrument) -> const std::vector<Tick>& {
    if (!loaded[size_t(instrument->index)]) {
      market_.Ticks(*instrument, from + 1, now_ms, kCopyTicksAll, SIZE_MAX, now_ms, &window[size_t(instrument->index)]);
      loaded[size_t(instrument->index)] = true;
    }
    return window[size_t(instrument->index)];
  };
  auto first_after = [](const std::vector<Tick>& ticks, int64_t t) {
    return std::upper_bound(ticks.begin(), ticks.end(), t,
                            [](int64_t v, const Tick& k) { return v < k.time_msc; });
  };

  enum Kind { kNone, kTrigger, kExpire, kStop };
  for (;;) {
    int64_t best = INT64_MAX;
    Kind kind = kNone;
    size_t index = 0;
    Tick at{};
    for (size_t i = 0; i < account.orders.size(); ++i) {
      const Order& o = account.orders[i];
      int64_t expire_ms = o.expiration > 0 ? o.expiration * 1000 : INT64_MAX;
      const auto& ticks = ticks_of(o.instrument);
      for (auto it = first_after(ticks, o.watch_msc); it != ticks.end(); ++it) {
        if (it->time_msc >= best || it->time_msc >= expire_ms) break;
        if (OrderTriggers(o, *it)) {
          best = it->time_msc;
          kind = kTrigger;
          index = i;
          at = *it;
          break;
        }
      }
      if (expire_ms <= now_ms && expire_ms < best) {
        best = expire_ms;
        kind = kExpire;
        index = i;
      }
    }
    for (size_t i = 0; i < account.positions.size(); ++i) {
      const Position& p = account.positions[i];
      if (p.sl <= 0 && p.tp <= 0) continue;
      const auto& ticks = ticks_of(p.instrument);
      for (auto it = first_after(ticks, p.watch_msc); it != ticks.end(); ++it) {
        if (it->time_msc >= best) break;
        if (StopHit(p, *it) != 0) {
          best = it->time_msc;
          kind = kStop;
          index = i;
          at = *it;
          break;
        }
      }
    }
    if (kind == kNone) break;
    changed = true;

    if (kind == kExpire) {
      Order o = account.orders[index];
      Log(account, "order #" + std::to_string(o.ticket) + " expired");
      account.orders.erase(account.orders.begin() + long(index));
      o.state = kStateExpired;
      o.done_msc = best;
      o.price_current = OrderPriceCurrent(o, best);
      account.history.push_back(o);
    } else if (kind == kTrigger) {
      Order& live = account.orders[index];
      if (live.type == kOrderBuyStopLimit || live.type == kOrderSellStopLimit) {
        // The stop level is reached: the order becomes a limit order.
        live.type = live.type == kOrderBuyStopLimit ? kOrderBuyLimit : kOrderSellLimit;
        live.price_open = live.price_stoplimit;
        live.watch_msc = best;
        Log(account, "order #" + std::to_string(live.ticket) + " reached its stop level: limit order at " +
                         FormatNumber(live.price_open, live.instrument->digits));
        continue;
      }
      Order o = live;
      account.orders.erase(account.orders.begin() + long(index));
      double price = IsBuy(o.type) ? at.ask : at.bid;
      Log(account, "order #" + std::to_string(o.ticket) + " triggered at " + FormatNumber(price, o.instrument->digits));
      Figures f = ComputeFigures(account, best);
      if (f.margin_free - Margin(account, *o.instrument, o.volume_initial, price, best) < 0) {
        o.state = kStateRejected;
        o.done_msc = best;
        o.price_current = price;
        account.history.push_back(o);
        Log(account, "order #" + std::to_string(o.ticket) + " rejected: no money");
      } else {
        OpenPosition(account, o, price, best);
      }
    } else {
      const Position& p = account.positions[index];
      uint32_t reason = StopHit(p, at);
      double price = p.type == kPositionBuy ? at.bid : at.ask;
      std::u16string comment = FormatPrice(reason == kReasonSl ? "[sl" : "[tp", price, p.instrument->digits) + u"]";
      uint64_t order = 0;
      ClosePosition(account, index, p.volume, price, best, reason, comment, p.magic, &order);
    }
  }
  account.evaluated_msc = now_ms;
  return changed;
}

}  // namespace brv::paper
