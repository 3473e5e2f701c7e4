#include "paper/market.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "paper/codes.h"
#include "paper/sessions.h"

namespace brv::paper {
namespace {

uint64_t DayKey(const SymbolSpec& instrument, int64_t day) { return (uint64_t(instrument.index) << 40) ^ uint64_t(day); }

// Below this many missing days one thread does the work.
constexpr size_t kParallelDays = 64;

void AddTick(PointBar* bar, const DrawnTicks& drawn, int i) {
  PointBar one;
  one.ticks = 1;
  one.open = one.high = one.low = one.close = drawn.bid[i];
  one.trades = (drawn.flags[i] & kTickVolume) != 0 ? 1 : 0;
  one.volume = drawn.volume[i];
  one.spread = one.close_spread = drawn.spread[i];
  bar->Merge(one);
}

}  // namespace

void Market::MinuteTicks(const SymbolSpec& instrument, int64_t minute, std::vector<Tick>* out) const {
  PriceModel model(seed_, instrument);
  DrawnTicks drawn;
  model.Ticks(minute, &drawn);
  out->clear();
  for (int i = 0; i < drawn.count; ++i) out->push_back(model.Priced(drawn, i));
}

Tick Market::LastTick(const SymbolSpec& instrument, int64_t now_ms) const {
  PriceModel model(seed_, instrument);
  DrawnTicks drawn;
  int64_t minute = FloorDiv(now_ms, 60000);
  if (!MarketOpen(instrument, minute)) {
    // Closed: the last tick before the close.
    model.Ticks(LastOpenMinute(instrument, minute), &drawn);
    return model.Priced(drawn, drawn.count - 1);
  }
  model.Ticks(minute, &drawn);
  int last = 0;  // the first tick, at :00.000, is never after now
  while (last + 1 < drawn.count && drawn.minute * 60000 + drawn.offset[last + 1] <= now_ms) ++last;
  return model.Priced(drawn, last);
}

Aggregate Market::Range(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms) const {
  Aggregate agg;
  PriceModel model(seed_, instrument);
  DrawnTicks drawn;
  for (int64_t minute = FloorDiv(std::max(from_ms, kHistoryStart * 1000), 60000); minute * 60000 < to_ms; ++minute) {
    model.Ticks(minute, &drawn);
    for (int i = 0; i < drawn.count; ++i) {
      Tick t = model.Priced(drawn, i);
      if (t.time_msc >= from_ms && t.time_msc < to_ms) agg.Add(t);
    }
  }
  return agg;
}

PointBar Market::Day(PriceModel& model, int64_t day) const {
  uint64_t key = DayKey(model.instrument(), day);
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = days_.find(key);
    if (it != days_.end()) return it->second;
  }
  PointBar bar = model.Day(day);
  std::lock_guard<std::mutex> lock(mu_);
  days_[key] = bar;
  return bar;
}

void Market::CacheDays(const SymbolSpec& instrument, int64_t first_day, int64_t end_day) const {
  std::vector<int64_t> missing;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (int64_t day = first_day; day < end_day; ++day) {
      if (days_.count(DayKey(instrument, day)) == 0) missing.push_back(day);
    }
  }
  if (missing.empty()) return;
  // The days are independent: the caller and one helper thread take them in
  // turn, each with its own model, and the results enter the cache at the end.
  std::vector<PointBar> found(missing.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    PriceModel model(seed_, instrument);
    for (size_t i = next++; i < missing.size(); i = next++) found[i] = model.Day(missing[i]);
  };
  std::thread helper;
  if (missing.size() >= kParallelDays && std::thread::hardware_concurrency() > 1) {
    try {
      helper = std::thread(work);
    } catch (const std::system_error&) {
      // No thread to spare: the caller does every day.
    }
  }
  work();
  if (helper.joinable()) helper.join();
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < missing.size(); ++i) days_.emplace(DayKey(instrument, missing[i]), found[i]);
}

PointBar Market::Span(PriceModel& model, int64_t from_ms, int64_t to_ms) const {
  PointBar bar;
  int64_t minute = std::max(from_ms, kHistoryStart * 1000) / 60000;
  while (minute * 60000 < to_ms) {
    if (minute % 1440 == 0 && (minute + 1440) * 60000 <= to_ms) {  // a whole day
      bar.Merge(Day(model, minute / 1440));
      minute += 1440;
    } else if ((minute + 1) * 60000 <= to_ms) {  // a whole minute
      bar.Merge(model.Minute(minute));
      ++minute;
    } else {  // the minute that holds now: its ticks so far
      DrawnTicks drawn;
      model.Ticks(minute, &drawn);
      for (int i = 0; i < drawn.count && minute * 60000 + drawn.offset[i] < to_ms; ++i) AddTick(&bar, drawn, i);
      break;
    }
  }
  return bar;
}

void Market::Bars(const SymbolSpec& instrument, int32_t timeframe, int64_t first, int64_t last, int64_t now_ms,
                  std::vector<Bar>* out) const {
  if (timeframe >= 1440 && first <= last) {
    // Bars of whole days: the past days they span are drawn up front, in parallel.
    int64_t from_ms = std::max(BarStart(timeframe, first), kHistoryStart) * 1000;
    int64_t to_ms = std::min(BarStart(timeframe, last + 1) * 1000, now_ms + 1);
    CacheDays(instrument, FloorDiv(from_ms + 86399999, 86400000), FloorDiv(to_ms, 86400000));
  }
  PriceModel model(seed_, instrument);
  for (int64_t i = first; i <= last; ++i) {
    int64_t start = BarStart(timeframe, i);
    if (start * 1000 > now_ms) break;
    int64_t end_ms = std::min(BarStart(timeframe, i + 1) * 1000, now_ms + 1);
    PointBar bar = Span(model, start * 1000, end_ms);
    if (bar.ticks == 0) continue;
    out->push_back(Bar{start, model.Price(bar.open), model.Price(bar.high), model.Price(bar.low),
                       model.Price(bar.close), bar.ticks, bar.spread, bar.volume});
  }
}

void Market::Ticks(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms, int32_t selection, size_t limit,
                   int64_t now_ms, std::vector<Tick>* out) const {
  int64_t from = std::max(from_ms, kHistoryStart * 1000);
  int64_t to = std::min(to_ms, now_ms);
  PriceModel model(seed_, instrument);
  DrawnTicks drawn;
  for (int64_t minute = FloorDiv(from, 60000); minute * 60000 <= to && out->size() < limit; ++minute) {
    model.Ticks(minute, &drawn);
    for (int i = 0; i < drawn.count; ++i) {
      Tick t = model.Priced(drawn, i);
      if (t.time_msc < from || t.time_msc > to) continue;
      if (selection == kCopyTicksQuotes && !(t.flags & (kTickBid | kTickAsk))) continue;
      if (selection == kCopyTicksTrades && !(t.flags & kTickLast)) continue;
      out->push_back(t);
      if (out->size() >= limit) break;
    }
  }
}

}  // namespace brv::paper
