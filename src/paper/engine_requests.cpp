// The trade actions: a market deal (opening or closing), a pending order,
// stops of a position, modifying and removing an order, and close-by. Each
// checks the request against the rules, then changes the account.
#include <algorithm>
#include <cmath>

#include "paper/codes.h"
#include "paper/engine_parts.h"
#include "paper/sessions.h"

namespace brv::paper {

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
  bool price_ok = PendingPriceValid(r.type, r.price, r.stoplimit, tick);
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

}  // namespace brv::paper
