#include "paper/protocol.h"

#include <algorithm>
#include <cmath>

#include "paper/codes.h"
#include "paper/limits.h"
#include "paper/records.h"
#include "paper/sessions.h"
#include "paper/wire.h"
#include "platform/platform.h"
#include "positions/group.h"

namespace brv::paper {
namespace {

constexpr size_t kMaxName = 256;    // units of a symbol, password or server text
constexpr size_t kMaxGroup = 4096;  // units of a group text

std::string Status(uint32_t command, int32_t status) { return Reply(command, status); }

std::string Value(uint32_t command, uint32_t value) { return Reply(command, kStatusOk, ValuePayload(value)); }

std::string Double(uint32_t command, double value) {
  RecordWriter w(8);
  w.F64(0, value);
  return Reply(command, kStatusOk, w.bytes());
}

std::string List(uint32_t command, uint32_t count, const std::string& records) {
  return Reply(command, kStatusOk, ListPayload(count, records));
}

uint64_t MixBits(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  return x ^ (x >> 33);
}

bool InRange(int64_t t, int64_t from, int64_t to) { return t >= from && t <= to; }

}  // namespace

Terminal::Terminal(const Folders& folders, Settings* settings, Clock* clock, const Options& options)
    : folders_(folders),
      settings_(settings),
      clock_(clock),
      market_(options.seed),
      engine_(market_, clock->start_ms(), options.login) {
  for (const auto& instrument : Catalogue()) selected_.push_back(instrument.selected);
}

bool Terminal::OpenStore(std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string log_file = folders_.log_file;
  auto log = [log_file](const std::string& line) { AppendLog(log_file, line); };
  if (!AttachStore(&store_, &engine_, folders_.store_file, log, error)) return false;
  engine_.Update(clock_->NowMs());  // what happened while the terminal was away
  return true;
}

// The requests this terminal answers, and who answers each; any other
// command gets "unsupported".
const Terminal::Route Terminal::kRoutes[] = {
    {1, &Terminal::Version},         {4, &Terminal::Handshake},      {5, &Terminal::Authorize},
    {109, &Terminal::Readiness},     {104, &Terminal::TickList},     {105, &Terminal::TickList},
    {106, &Terminal::Rates},         {107, &Terminal::Rates},        {108, &Terminal::Rates},
    {120, &Terminal::Lists},         {121, &Terminal::Lists},        {122, &Terminal::Lists},
    {123, &Terminal::Lists},         {130, &Terminal::Lists},        {131, &Terminal::Lists},
    {132, &Terminal::Lists},         {133, &Terminal::Lists},        {140, &Terminal::Lists},
    {141, &Terminal::Lists},         {142, &Terminal::Lists},        {143, &Terminal::Lists},
    {150, &Terminal::Lists},         {151, &Terminal::Lists},        {152, &Terminal::Lists},
    {153, &Terminal::Lists},         {160, &Terminal::Trading},      {161, &Terminal::Trading},
    {162, &Terminal::Trading},       {163, &Terminal::Trading},      {170, &Terminal::SymbolList},
    {171, &Terminal::SymbolList},    {172, &Terminal::SymbolList},   {173, &Terminal::SymbolList},
    {174, &Terminal::SymbolList},    {175, &Terminal::SymbolList},   {180, &Terminal::TerminalInfo},
    {190, &Terminal::AccountInfo},   {191, &Terminal::Book},         {192, &Terminal::Book},
    {193, &Terminal::Book},
};

std::string Terminal::Handle(Session& session, const uint8_t* message, size_t size) {
  if (size < 4) return std::string();
  uint32_t command = uint32_t(message[0]) | uint32_t(message[1]) << 8 | uint32_t(message[2]) << 16 |
                     uint32_t(message[3]) << 24;
  BodyReader body(message + 4, size - 4);
  try {
    for (const Route& route : kRoutes) {
      if (route.command == command) return (this->*route.handler)(session, command, body);
    }
    return Status(command, kStatusUnsupported);
  } catch (const std::bad_alloc&) {
    return Status(command, -3);
  } catch (const std::exception&) {
    return Status(command, kStatusCallFailed);
  }
}

bool Terminal::Handle(Session& session, const uint8_t* message, size_t size, const Sink& send) {
  session.sink = &send;
  session.streamed = false;
  session.stream_ok = true;
  std::string reply = Handle(session, message, size);
  session.sink = nullptr;
  if (session.streamed) return session.stream_ok;
  return !reply.empty() && send(reply);
}

namespace {

// Sends a list reply of `count` records in pieces: `produce` appends the next
// records to its argument and returns false when there are none left. The
// count is announced first, so a producer that makes a different number of
// records ends the connection rather than the framing.
bool StreamList(const Sink& send, uint32_t command, uint64_t count, size_t record_size,
                const std::function<bool(std::string*)>& produce) {
  std::string piece;
  AppendU32(&piece, uint32_t(12 + count * record_size));
  AppendU32(&piece, command);
  AppendU32(&piece, uint32_t(kStatusOk));
  AppendU32(&piece, uint32_t(count));
  uint64_t bytes = 0;
  bool more = true;
  while (more) {
    more = produce(&piece);
    bytes += piece.size();
    if (!piece.empty() && !send(piece)) return false;
    piece.clear();
  }
  return bytes == 16 + count * record_size;
}

}  // namespace

// ---- session -------------------------------------------------------------

std::string Terminal::Version(Session&, uint32_t command, BodyReader& body) {
  body.U32();
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  std::u16string text = kVersionText;
  std::string payload = ValuePayload(kVersion) + ValuePayload(kBuild) + ValuePayload(uint32_t(text.size()));
  for (char16_t u : text) {
    payload += char(u & 0xFF);
    payload += char(u >> 8);
  }
  return Reply(command, kStatusOk, payload);
}

std::string Terminal::Handshake(Session&, uint32_t command, BodyReader& body) {
  uint32_t mode = body.U32();
  body.Text(kMaxName);
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  if (mode != 3) return Status(command, kStatusIncompatible);
  return Value(command, kBuild);
}

std::string Terminal::Authorize(Session& session, uint32_t command, BodyReader& body) {
  body.U32();
  uint64_t login = body.U64();
  std::u16string password = body.Text(kMaxName);
  std::u16string server = body.Text(kMaxName);
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  std::lock_guard<std::mutex> lock(mu_);
  bool ok = engine_.Authorize(login, password, server);
  session.auth_failed = !ok;
  AppendLog(folders_.log_file, ok ? "authorized " + std::to_string(engine_.current().config->login)
                                  : "authorization failed for " + std::to_string(login));
  return Status(command, ok ? kStatusOk : kStatusAuthFailed);
}

std::string Terminal::Readiness(Session& session, uint32_t command, BodyReader& body) {
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  return Value(command, session.auth_failed ? kAuthFailedState : kReadyState);
}

std::string Terminal::TerminalInfo(Session&, uint32_t command, BodyReader& body) {
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  TerminalState st;
  st.trade_allowed = settings_->AutoTrading();
  st.path = platform::FromUtf8(folders_.install);
  st.data_path = platform::FromUtf8(folders_.data);
  st.commondata_path = platform::FromUtf8(folders_.common);
  return Reply(command, kStatusOk, TerminalRecord(st));
}

std::string Terminal::AccountInfo(Session&, uint32_t command, BodyReader& body) {
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  bool expert = settings_->AutoTrading();
  int64_t now = clock_->NowMs();
  std::lock_guard<std::mutex> lock(mu_);
  engine_.Update(now);
  const Account& a = engine_.current();
  return Reply(command, kStatusOk, AccountRecord(a, engine_.ComputeFigures(a, now), expert));
}

// ---- bars and ticks ------------------------------------------------------

std::string Terminal::Rates(Session& session, uint32_t command, BodyReader& body) {
  std::u16string name = body.Text(kMaxName);
  int32_t timeframe = body.I32();
  int64_t a = 0, b = 0;
  int32_t count = 0;
  if (command == 106) {
    a = body.I64();
    count = body.I32();
  } else if (command == 107) {
    a = body.I64();
    b = body.I64();
  } else {
    a = body.I32();
    count = body.I32();
  }
  if (!body.Complete() || !ValidTimeframe(timeframe) || count < 0 || (command == 108 && a < 0)) {
    return Status(command, kStatusInvalidParams);
  }
  const SymbolSpec* instrument = FindSymbol(name);
  if (instrument == nullptr) return Status(command, kStatusNotFound);
  int64_t now_ms = clock_->NowMs();
  int64_t now_s = FloorDiv(now_ms, 1000);
  int64_t oldest = BarIndex(timeframe, kHistoryStart);
  int64_t first, last;
  // Counts and positions go over the bars that exist: those of a closed
  // market (weekends) are skipped.
  const int64_t span = std::min<int64_t>(count, kMaxBars);
  if (command == 106) {  // the `count` bars up to the one holding date_from
    last = LastOpenBar(*instrument, timeframe, BarIndex(timeframe, std::min(a, now_s)));
    first = span == 0 ? last + 1 : OpenBarsBack(*instrument, timeframe, last, span - 1);
  } else if (command == 108) {  // position 0 is the current bar
    last = OpenBarsBack(*instrument, timeframe, LastOpenBar(*instrument, timeframe, BarIndex(timeframe, now_s)), a);
    first = span == 0 ? last + 1 : OpenBarsBack(*instrument, timeframe, last, span - 1);
  } else {  // bars opening in [date_from, date_to]
    first = BarIndex(timeframe, a);
    if (BarStart(timeframe, first) < a) ++first;
    last = BarIndex(timeframe, std::min(b, now_s));
    first = std::max(first, oldest);
    last = std::min(last, first + int64_t(kMaxBars) - 1);
  }
  first = std::max(first, oldest);
  const int64_t piece_bars = int64_t(kReplyPiece / records::Rate::kSize);
  if (session.sink != nullptr && last - first + 1 > piece_bars) {
    // Counted first (every bar of an open market up to now holds ticks; the
    // last one is made to know), then made and sent a piece at a time.
    std::vector<Bar> bars;
    market_.Bars(*instrument, timeframe, last, last, now_ms, &bars);
    uint64_t count = bars.size();
    for (int64_t i = first; i < last && BarStart(timeframe, i) * 1000 <= now_ms; ++i) {
      count += BarOpen(*instrument, timeframe, i);
    }
    int64_t next = first;
    session.streamed = true;
    session.stream_ok = StreamList(*session.sink, command, count, records::Rate::kSize, [&](std::string* out) {
      bars.clear();
      int64_t end = std::min(last, next + piece_bars - 1);
      market_.Bars(*instrument, timeframe, next, end, now_ms, &bars);
      for (const Bar& bar : bars) AppendBar(out, bar);
      next = end + 1;
      return next <= last;
    });
    return std::string();
  }
  std::vector<Bar> bars;
  if (first <= last) market_.Bars(*instrument, timeframe, first, last, now_ms, &bars);
  std::string records;
  records.reserve(bars.size() * records::Rate::kSize);
  for (const Bar& bar : bars) AppendBar(&records, bar);
  return List(command, uint32_t(bars.size()), records);
}

std::string Terminal::TickList(Session& session, uint32_t command, BodyReader& body) {
  std::u16string name = body.Text(kMaxName);
  int64_t from = body.I64();
  int64_t to = INT64_MAX;
  int32_t count = int32_t(kMaxTicks);
  if (command == 104) {
    count = body.I32();
  } else {
    to = body.I64();
  }
  int32_t selection = body.I32();
  if (!body.Complete() || count < 0 || selection < kCopyTicksAll || selection > kCopyTicksTrades) {
    return Status(command, kStatusInvalidParams);
  }
  const SymbolSpec* instrument = FindSymbol(name);
  if (instrument == nullptr) return Status(command, kStatusNotFound);
  std::vector<Tick> ticks;
  size_t limit = std::min<size_t>(size_t(count), kMaxTicks);
  const int64_t now_ms = clock_->NowMs();
  const size_t piece_ticks = kReplyPiece / records::Tick::kSize;
  if (session.sink != nullptr && limit > piece_ticks) {
    // Two walks over the same ticks, a piece at a time: the first counts
    // them, the second sends them (tick times are distinct, so each piece
    // goes on after the last tick of the one before).
    auto walk = [&](const std::function<bool(const std::vector<Tick>&)>& each) {
      int64_t at = from;
      size_t done = 0;
      while (done < limit) {
        ticks.clear();
        market_.Ticks(*instrument, at, to, selection, std::min(piece_ticks, limit - done), now_ms, &ticks);
        if (ticks.empty()) return;
        done += ticks.size();
        at = ticks.back().time_msc + 1;
        if (!each(ticks)) return;
      }
    };
    uint64_t total = 0;
    walk([&](const std::vector<Tick>& part) { return (total += part.size()), true; });
    session.streamed = true;
    bool ok = true;
    std::string head;
    AppendU32(&head, uint32_t(12 + total * records::Tick::kSize));
    AppendU32(&head, command);
    AppendU32(&head, uint32_t(kStatusOk));
    AppendU32(&head, uint32_t(total));
    uint64_t sent = 0;
    ok = (*session.sink)(head);
    walk([&](const std::vector<Tick>& part) {
      std::string records;
      records.reserve(part.size() * records::Tick::kSize);
      for (const Tick& t : part) AppendTick(&records, t);
      sent += part.size();
      return ok = ok && (*session.sink)(records);
    });
    session.stream_ok = ok && sent == total;
    return std::string();
  }
  if (limit > 0) market_.Ticks(*instrument, from, to, selection, limit, now_ms, &ticks);
  std::string records;
  records.reserve(ticks.size() * records::Tick::kSize);
  for (const Tick& t : ticks) AppendTick(&records, t);
  return List(command, uint32_t(ticks.size()), records);
}

// ---- symbols -------------------------------------------------------------

std::string Terminal::SymbolInfo(const SymbolSpec& instrument, int64_t now_ms) {
  SymbolState st;
  {
    std::lock_guard<std::mutex> lock(mu_);
    st.selected = selected_[size_t(instrument.index)];
  }
  st.tick = market_.LastTick(instrument, now_ms);
  int64_t day_ms = FloorDiv(now_ms, 86400000) * 86400000;
  st.today = market_.Range(instrument, day_ms, now_ms + 1);
  std::vector<Bar> yesterday;
  market_.Bars(instrument, 1440, day_ms / 86400000 - 1, day_ms / 86400000 - 1, now_ms, &yesterday);
  st.previous_close = yesterday.empty() ? 0 : yesterday[0].close;
  std::string currency;
  {
    std::lock_guard<std::mutex> lock(mu_);
    currency = engine_.current().config->currency;
  }
  st.tick_value = instrument.point() * instrument.contract * engine_.Conversion(instrument.profit, currency, now_ms);
  return SymbolRecord(instrument, st);
}

std::string Terminal::SymbolList(Session&, uint32_t command, BodyReader& body) {
  int64_t now = clock_->NowMs();
  switch (command) {
    case 170:
    case 172: {
      std::u16string name = body.Text(kMaxName);
      if (!body.Complete()) break;
      const SymbolSpec* instrument = FindSymbol(name);
      if (instrument == nullptr) return Status(command, kStatusNotFound);
      if (command == 170) return Reply(command, kStatusOk, SymbolInfo(*instrument, now));
      std::string record;
      AppendTick(&record, market_.LastTick(*instrument, now));
      return Reply(command, kStatusOk, record);
    }
    case 171: {
      std::u16string name = body.Text(kMaxName);
      bool enable = body.U8() != 0;
      if (!body.Complete()) break;
      const SymbolSpec* instrument = FindSymbol(name);
      if (instrument == nullptr) return Status(command, kStatusNotFound);
      std::lock_guard<std::mutex> lock(mu_);
      if (!enable) {
        // A symbol with open positions or orders stays in the watch list.
        const Account& a = engine_.current();
        for (const auto& p : a.positions) {
          if (p.instrument == instrument) return Status(command, kStatusCallFailed);
        }
        for (const auto& o : a.orders) {
          if (o.instrument == instrument) return Status(command, kStatusCallFailed);
        }
      }
      selected_[size_t(instrument->index)] = enable;
      return Status(command, kStatusOk);
    }
    case 173:
      if (!body.Complete()) break;
      return Value(command, uint32_t(Catalogue().size()));
    case 174:
    case 175: {
      std::u16string group;
      if (command == 175) group = body.Text(kMaxGroup);
      if (!body.Complete()) break;
      std::string records;
      uint32_t count = 0;
      for (const auto& instrument : Catalogue()) {
        // The module's own group filter: both sides select alike.
        if (command == 175 && !positions::MatchGroup(group.c_str(), SymbolName(instrument).c_str())) continue;
        records += SymbolInfo(instrument, now);
        ++count;
      }
      return List(command, count, records);
    }
  }
  return Status(command, kStatusInvalidParams);
}

// ---- depth of market -----------------------------------------------------

std::string Terminal::Book(Session& session, uint32_t command, BodyReader& body) {
  std::u16string name = body.Text(kMaxName);
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  const SymbolSpec* instrument = FindSymbol(name);
  if (instrument == nullptr) return Status(command, kStatusNotFound);
  if (command == 191) {
    session.books.insert(instrument->index);
    return Status(command, kStatusOk);
  }
  if (session.books.count(instrument->index) == 0) return Status(command, kStatusNotFound);
  if (command == 192) {
    session.books.erase(instrument->index);
    return Status(command, kStatusOk);
  }
  // Ten levels a side around the last tick: asks from the highest down,
  // then bids from the highest down; sizes grow away from the top.
  Tick t = market_.LastTick(*instrument, clock_->NowMs());
  double step = instrument->point() * std::max(1.0, std::round(instrument->spread / 3.0));
  auto size = [&](uint32_t side, uint32_t level) {
    uint64_t h = MixBits(uint64_t(t.time_msc) * 131 + uint64_t(instrument->index) * 7919 + side * 31 + level);
    return 1 + level * 2 + h % 20;
  };
  std::string records;
  for (uint32_t i = kBookDepth; i-- > 0;) {
    uint64_t v = size(kBookSell, i);
    AppendBookEntry(&records, kBookSell, RoundPrice(t.ask + step * i, instrument->digits), v, double(v));
  }
  for (uint32_t i = 0; i < kBookDepth; ++i) {
    uint64_t v = size(kBookBuy, i);
    AppendBookEntry(&records, kBookBuy, RoundPrice(t.bid - step * i, instrument->digits), v, double(v));
  }
  return List(command, 2 * kBookDepth, records);
}

// ---- trading -------------------------------------------------------------

std::string Terminal::Trading(Session&, uint32_t command, BodyReader& body) {
  if (command == 160 || command == 161) {
    // The body is one trade request record.
    using F = records::TradeRequest;
    const uint8_t* record = body.Record(F::kSize);
    if (!body.Complete()) return Status(command, kStatusInvalidParams);
    const RecordReader in(record);
    TradeRequest r;
    in.Get(F::action, &r.action);
    in.Get(F::magic, &r.magic);
    in.Get(F::order, &r.order);
    in.Get(F::symbol, &r.symbol);
    in.Get(F::volume, &r.volume);
    in.Get(F::price, &r.price);
    in.Get(F::stoplimit, &r.stoplimit);
    in.Get(F::sl, &r.sl);
    in.Get(F::tp, &r.tp);
    in.Get(F::deviation, &r.deviation);
    in.Get(F::type, &r.type);
    in.Get(F::type_filling, &r.type_filling);
    in.Get(F::type_time, &r.type_time);
    in.Get(F::expiration, &r.expiration);
    in.Get(F::comment, &r.comment);
    in.Get(F::position, &r.position);
    in.Get(F::position_by, &r.position_by);
    if (command == 161 && !settings_->AutoTrading()) return Status(command, kStatusAutoTradingDisabled);
    int64_t now = clock_->NowMs();
    std::lock_guard<std::mutex> lock(mu_);
    engine_.Update(now);
    if (command == 160) {
      Figures after;
      TradeResult res = engine_.Check(r, now, &after);
      return Reply(command, kStatusOk, CheckResultRecord(res, after));
    }
    TradeResult res = engine_.Send(r, now);
    AppendLog(folders_.log_file, "order_send action " + std::to_string(r.action) + " type " +
                                     std::to_string(r.type) + ": retcode " + std::to_string(res.retcode));
    return Reply(command, kStatusOk, SendResultRecord(res, ++request_id_));
  }
  uint32_t type = body.U32();
  std::u16string name = body.Text(kMaxName);
  double volume = body.F64();
  double p1 = body.F64();
  double p2 = command == 163 ? body.F64() : 0;
  if (!body.Complete()) return Status(command, kStatusInvalidParams);
  const SymbolSpec* instrument = FindSymbol(name);
  if (instrument == nullptr) return Status(command, kStatusNotFound);
  int64_t now = clock_->NowMs();
  std::lock_guard<std::mutex> lock(mu_);
  double amount = 0;
  bool ok = command == 162 ? engine_.CalcMargin(type, *instrument, volume, p1, now, &amount)
                           : engine_.CalcProfit(type, *instrument, volume, p1, p2, now, &amount);
  if (!ok) return Status(command, kStatusInvalidParams);
  return Double(command, amount);
}

// ---- positions, orders and history ----------------------------------------

std::string Terminal::Lists(Session&, uint32_t command, BodyReader& body) {
  uint32_t family = command / 10 * 10;
  uint32_t kind = command % 10;  // 0 total, 1 all or range, 2 symbol or position, 3 ticket
  std::u16string symbol;
  uint64_t id = 0;
  int64_t from = 0, to = 0;
  bool history = family == 140 || family == 150;
  if (history && kind <= 1) {
    from = body.I64();
    to = body.I64();
  } else if (kind == 2 && !history) {
    symbol = body.Text(kMaxName);
  } else if (kind >= 2) {
    id = body.U64();
  }
  if (!body.Complete()) return Status(command, kStatusInvalidParams);

  int64_t now = clock_->NowMs();
  std::lock_guard<std::mutex> lock(mu_);
  engine_.Update(now);
  const Account& a = engine_.current();
  std::string records;
  uint32_t count = 0;

  if (family == 120) {
    for (const Position& p : a.positions) {
      bool take = kind <= 1 || (kind == 2 && SymbolName(*p.instrument) == symbol) || (kind == 3 && p.ticket == id);
      if (!take) continue;
      ++count;
      if (kind != 0) {
        records += PositionRecord(p, engine_.PositionPriceCurrent(p, now), engine_.PositionProfit(a, p, now));
      }
    }
  } else if (family == 130) {
    for (const Order& o : a.orders) {
      bool take = kind <= 1 || (kind == 2 && SymbolName(*o.instrument) == symbol) || (kind == 3 && o.ticket == id);
      if (!take) continue;
      ++count;
      if (kind != 0) records += OrderRecord(o, engine_.OrderPriceCurrent(o, now));
    }
  } else if (family == 140) {
    // History orders: by the time they were done, by position, by ticket.
    for (const Order& o : a.history) {
      bool take = (kind <= 1 && InRange(FloorDiv(o.done_msc, 1000), from, to)) ||
                  (kind == 2 && (o.position_id == id || o.position_by_id == id)) || (kind == 3 && o.ticket == id);
      if (!take) continue;
      ++count;
      if (kind != 0) records += OrderRecord(o, o.price_current);
    }
  } else {
    for (const Deal& d : a.deals) {
      bool take = (kind <= 1 && InRange(FloorDiv(d.time_msc, 1000), from, to)) ||
                  (kind == 2 && d.position_id == id && d.instrument != nullptr) || (kind == 3 && d.ticket == id);
      if (!take) continue;
      ++count;
      if (kind != 0) records += DealRecord(d);
    }
  }
  if (kind == 0) return Value(command, count);
  if (kind == 3) {
    if (count == 0) return Status(command, kStatusNotFound);
    return Reply(command, kStatusOk, records);
  }
  return List(command, count, records);
}

}  // namespace brv::paper
