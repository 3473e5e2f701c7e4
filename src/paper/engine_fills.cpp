// Fills: a filled order opens a position, or closes (part of) one, and
// books its deal.
#include "paper/codes.h"
#include "paper/engine_parts.h"

namespace brv::paper {

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

}  // namespace brv::paper
