// Lazy evaluation of an account: pending orders that trigger or expire and
// stops that are hit, in the order of the model's ticks, and the stop-out.
#include <algorithm>
#include <climits>
#include <vector>

#include "paper/codes.h"
#include "paper/engine_parts.h"

namespace brv::paper {

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
