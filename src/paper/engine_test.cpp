// The trading engine against the price model: fills at the model's prices,
// account figures, and pending orders and stops that trigger on the first
// crossing tick however the evaluation is split in time.
#include <algorithm>
#include <cmath>
#include <vector>

#include "check.h"
#include "paper/codes.h"
#include "paper/engine.h"
#include "paper/wire.h"

using namespace brv::paper;

namespace {

const int64_t kStart = 1672617600000;  // 2023-01-02 00:00 UTC, in ms
const SymbolSpec& Eur() { return Catalogue()[0]; }

// A pending order when it has a price, else a deal.
TradeRequest Request(uint32_t type, double volume, double price = 0, uint64_t position = 0) {
  TradeRequest r;
  r.action = price != 0 ? kActionPending : kActionDeal;
  r.symbol = u"EURUSD";
  r.type = type;
  r.volume = volume;
  r.price = price;
  r.position = position;
  return r;
}

// The first tick after `after` (up to `until`) for which `hit` holds.
template <typename Hit>
Tick FirstTick(const Market& market, int64_t after, int64_t until, Hit hit) {
  std::vector<Tick> ticks;
  market.Ticks(Eur(), after + 1, until, kCopyTicksAll, SIZE_MAX, until, &ticks);
  for (const Tick& t : ticks) {
    if (hit(t)) return t;
  }
  return Tick{};
}

}  // namespace

TEST(paper_engine_pending_order_fills_on_the_first_crossing_tick_whatever_the_steps) {
  Market market(1);
  int64_t placed = kStart + 1000, end = kStart + 6 * 3600 * 1000;
  double ask = market.LastTick(Eur(), placed).ask;
  // A level half way to the farther extreme of the next six hours: a buy
  // limit below the market or a buy stop above it.
  double low = ask, high = ask;
  FirstTick(market, placed, end, [&](const Tick& t) {
    low = std::min(low, t.ask);
    high = std::max(high, t.ask);
    return false;
  });
  bool limit = ask - low > high - ask;
  double price = RoundPrice(limit ? (ask + low) / 2 : (ask + high) / 2, 5);
  CHECK(price != ask);
  Tick expected = FirstTick(market, placed, end, [&](const Tick& t) { return limit ? t.ask <= price : t.ask >= price; });
  CHECK(expected.time_msc != 0);
  for (int steps : {1, 7, 100}) {
    Engine engine(market, kStart, 70010001);
    CHECK(engine.Send(Request(limit ? kOrderBuyLimit : kOrderBuyStop, 0.1, price), placed).retcode == kRetPlaced);
    for (int i = 1; i <= steps; ++i) engine.Update(placed + (end - placed) * i / steps);
    const Account& a = engine.current();
    CHECK(a.orders.empty() && a.positions.size() == 1);
    if (a.positions.size() != 1) continue;
    CHECK(a.positions[0].time_msc == expected.time_msc && a.positions[0].price_open == expected.ask);
    CHECK(a.history.back().state == kStateFilled && a.history.back().done_msc == expected.time_msc);
  }
}

TEST(paper_engine_stop_limit_then_stop_loss) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  int64_t placed = kStart + 1000, end = kStart + 24 * 3600 * 1000;
  double ask = market.LastTick(Eur(), placed).ask;
  // A stop level half way up to the highest ask of the day, the limit just below it.
  double high = ask;
  FirstTick(market, placed, end, [&](const Tick& t) { return (high = std::max(high, t.ask)), false; });
  TradeRequest r = Request(kOrderBuyStopLimit, 0.1, RoundPrice((ask + high) / 2, 5));
  r.stoplimit = RoundPrice(r.price - 0.0002, 5);
  r.sl = RoundPrice(r.stoplimit - 0.0010, 5);
  CHECK(r.price > ask);
  CHECK(engine.Send(r, placed).retcode == kRetPlaced);
  engine.Update(end);
  Tick stop = FirstTick(market, placed, end, [&](const Tick& t) { return t.ask >= r.price; });
  Tick fill = FirstTick(market, stop.time_msc, end, [&](const Tick& t) { return t.ask <= r.stoplimit; });
  Tick sl = FirstTick(market, fill.time_msc, end, [&](const Tick& t) { return t.bid <= r.sl; });
  CHECK(stop.time_msc != 0 && fill.time_msc != 0);
  const Account& a = engine.current();
  CHECK(a.deals.size() >= 2 && a.deals[1].time_msc == fill.time_msc && a.deals[1].price == fill.ask);
  if (a.deals.size() < 2) return;
  if (sl.time_msc != 0) {
    CHECK(a.positions.empty() && a.deals.size() == 3);
    CHECK(a.deals[2].reason == kReasonSl && a.deals[2].time_msc == sl.time_msc && a.deals[2].price == sl.bid);
  } else {
    CHECK(a.positions.size() == 1);
  }
}

TEST(paper_engine_orders_expire) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  double ask = market.LastTick(Eur(), kStart + 1000).ask;
  TradeRequest r = Request(kOrderBuyLimit, 0.1, RoundPrice(ask * 0.5, 5));
  r.type_time = kTimeSpecified;
  r.expiration = kStart / 1000 + 120;
  TradeResult placed = engine.Send(r, kStart + 1000);
  CHECK(placed.retcode == kRetPlaced);
  engine.Update(kStart + 3600 * 1000);
  CHECK(engine.current().orders.empty());
  CHECK(engine.current().history.back().state == kStateExpired);
  CHECK(engine.current().history.back().done_msc == kStart + 120000);
}

TEST(paper_record_writer_refuses_fields_past_its_end) {
  RecordWriter w(8);
  w.U64(0, ~uint64_t(0));
  w.U32(6, 0);             // crosses the end
  w.Text(4, 4, u"abcdef");  // four units from byte 4 end at byte 12
  CHECK(!w.ok());
  CHECK(w.bytes() == std::string(8, '\xff'));
}

TEST(paper_engine_sell_stop_loss_triggers_on_the_ask) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  int64_t opened = kStart + 1000, end = kStart + 24 * 3600 * 1000;
  double ask = market.LastTick(Eur(), opened).ask;
  double high = ask;
  FirstTick(market, opened, end, [&](const Tick& t) { return (high = std::max(high, t.ask)), false; });
  TradeRequest r = Request(kOrderSell, 0.1);
  r.sl = RoundPrice((ask + high) / 2, 5);
  CHECK(engine.Send(r, opened).retcode == kRetDone);
  engine.Update(end);
  Tick on_ask = FirstTick(market, opened, end, [&](const Tick& t) { return t.ask >= r.sl; });
  Tick on_bid = FirstTick(market, opened, end, [&](const Tick& t) { return t.bid >= r.sl; });
  CHECK(on_ask.time_msc != 0 && on_ask.time_msc != on_bid.time_msc);
  const Account& a = engine.current();
  CHECK(a.positions.empty() && a.deals.size() == 3);
  if (a.deals.size() != 3) return;
  CHECK(a.deals[2].reason == kReasonSl && a.deals[2].time_msc == on_ask.time_msc && a.deals[2].price == on_ask.ask);
}

TEST(paper_engine_books_money_in_whole_cents) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  int64_t cents = 1000000;
  for (int i = 0; i < 6; ++i) {
    int64_t t = kStart + 60000 * (i + 1);
    TradeResult open = engine.Send(Request(kOrderBuy, 0.01), t);
    TradeResult close = engine.Send(Request(kOrderSell, 0.01, 0, open.order), t + 500);
    CHECK(close.retcode == kRetDone);
    cents += std::llround(engine.current().deals.back().profit * 100);
  }
  // Exactly the sum in cents, not a sum of binary fractions drifting off it.
  CHECK(engine.current().balance == double(cents) / 100);
}

TEST(paper_engine_refuses_volumes_prices_and_stops_as_a_trade_server) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  const int64_t t = kStart + 5000;
  const Tick tick = market.LastTick(Eur(), t);
  const double point = Eur().point(), level = StopsLevel(Eur()) * point;
  struct Case {
    TradeRequest request;
    uint32_t retcode;
  };
  auto with = [](TradeRequest r, double TradeRequest::*field, double value) {
    r.*field = value;
    return r;
  };
  TradeRequest buy = Request(kOrderBuy, 0.1);
  const Case cases[] = {
      {Request(kOrderBuy, 100.01), kRetInvalidVolume},  // above the maximum
      {Request(kOrderBuyLimit, 0.1, tick.ask - 100.5 * point), kRetInvalidPrice},  // more digits than the symbol
      {with(buy, &TradeRequest::sl, tick.bid - level + point), kRetInvalidStops},  // closer than the stops level
      {with(buy, &TradeRequest::tp, tick.bid + level - point), kRetInvalidStops},
      {with(buy, &TradeRequest::sl, tick.bid - 0.5 * point - level), kRetInvalidStops},
      {with(buy, &TradeRequest::sl, tick.bid - level), kRetDone},                    // exactly at the level
      {with(buy, &TradeRequest::tp, tick.bid + 0.1 + 0.2 - 0.3 + level), kRetDone},  // binary noise is rounded
  };
  for (const Case& c : cases) {
    TradeResult r = engine.Send(c.request, t);
    CHECK(r.retcode == c.retcode);
  }
  const std::vector<Position>& positions = engine.current().positions;
  CHECK(!positions.empty() && positions.back().tp == RoundPrice(tick.bid + level, 5));
}

TEST(paper_engine_stop_out_closes_the_most_losing_position_first) {
  Market market(1);
  Engine engine(market, kStart, 70010001);
  const int64_t t = kStart + 5000;
  TradeResult big = engine.Send(Request(kOrderBuy, 5), t);
  TradeResult small = engine.Send(Request(kOrderBuy, 0.1), t);
  CHECK(big.retcode == kRetDone && small.retcode == kRetDone);
  if (engine.current().positions.size() != 2) return;  // no crash below
  // The big position bought 0.018 above the market: equity about 1,000, margin
  // about 5,500, a margin level near 18 %.
  Account& account = engine.accounts()[0];
  account.positions[0].price_open = market.LastTick(Eur(), t).ask + 0.018;
  engine.Update(t + 1000);
  CHECK(account.positions.size() == 1 && account.positions[0].ticket == small.order);
  const Deal& out = account.deals.back();
  CHECK(out.position_id == big.order && out.reason == kReasonSo && out.entry == kEntryOut);
  CHECK(out.comment.compare(0, 4, u"[so ") == 0);
  Figures f = engine.ComputeFigures(account, t + 1000);
  CHECK(f.margin_level >= kStopOutLevel);
}
