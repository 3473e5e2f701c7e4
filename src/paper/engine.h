// The trading engine of the paper terminal: demo accounts on a hedging
// basis, market and pending orders, stop loss and take profit, and the trade
// history. Prices come from the market model; pending orders and stops are
// evaluated lazily, on each request, by walking the model's ticks from the
// previous evaluation up to now, so that what triggers (and at which tick)
// depends only on the model and on the requests, never on timing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "paper/market.h"

namespace brv::paper {

constexpr const char16_t* kServerName = u"BorvanePaper-Demo";
constexpr const char16_t* kCompanyName = u"Borvane Paper Markets";

// Digits of every account currency: money amounts are rounded to cents.
constexpr int kCurrencyDigits = 2;
// Margin levels (equity / margin, percent) of the margin call (logged) and of
// the stop-out (the terminal closes positions, the most losing first).
constexpr double kMarginCallLevel = 50.0;
constexpr double kStopOutLevel = 30.0;

struct AccountConfig {
  uint64_t login;
  const char* password;
  const char* name;
  const char* currency;
  uint32_t leverage;
  double deposit;
};
const std::vector<AccountConfig>& AccountConfigs();

struct TradeRequest {
  uint32_t action = 0;
  uint64_t magic = 0;
  uint64_t order = 0;
  std::u16string symbol;
  double volume = 0, price = 0, stoplimit = 0, sl = 0, tp = 0;
  uint64_t deviation = 0;
  uint32_t type = 0, type_filling = 0, type_time = 0;
  int64_t expiration = 0;
  std::u16string comment;
  uint64_t position = 0, position_by = 0;
};

struct Position {
  uint64_t ticket;
  int64_t time_msc, update_msc;
  uint32_t type;
  uint64_t magic;
  uint32_t reason;
  double volume, price_open, sl, tp;
  const SymbolSpec* instrument;
  std::u16string comment;
  int64_t watch_msc;  // stops are watched on ticks after this time
};

struct Order {
  uint64_t ticket;
  int64_t setup_msc, done_msc;
  int64_t expiration;  // seconds; 0 = none
  uint32_t type, type_time, type_filling, state;
  uint64_t magic, position_id, position_by_id;
  uint32_t reason;
  double volume_initial, volume_current, price_open, sl, tp, price_current, price_stoplimit;
  const SymbolSpec* instrument;  // null only for none
  std::u16string comment;
  int64_t watch_msc;  // triggers are watched on ticks after this time
};

struct Deal {
  uint64_t ticket, order;
  int64_t time_msc;
  uint32_t type, entry;
  uint64_t magic, position_id;
  uint32_t reason;
  double volume, price, commission, swap, profit, fee;
  const SymbolSpec* instrument;  // null for balance deals
  std::u16string comment;
};

struct Account {
  const AccountConfig* config;
  double balance = 0;
  std::vector<Position> positions;
  std::vector<Order> orders;   // active pending orders
  std::vector<Order> history;  // finished orders
  std::vector<Deal> deals;
  uint64_t next_ticket = 0;
  int64_t evaluated_msc = 0;
  int64_t committed_msc = 0;  // evaluation time of the last commit to disk
  bool margin_call = false;   // below the margin call level at the last update
};

// What the engine tells the terminal: `commit` makes an account's state
// durable (false when it could not), `log` records fills, triggers, expiries
// and stop-outs. Either may be empty.
struct EngineHooks {
  std::function<bool(const Account&)> commit;
  std::function<void(const std::string&)> log;
};

struct Figures {
  double balance = 0, credit = 0, profit = 0, equity = 0, margin = 0, margin_free = 0, margin_level = 0;
};

struct TradeResult {
  uint32_t retcode = 0;
  uint64_t deal = 0, order = 0;
  double volume = 0, price = 0, bid = 0, ask = 0;
  std::u16string comment;
};

class Engine {
 public:
  Engine(const Market& market, int64_t start_ms, uint64_t default_login);

  // Switches to the account when the credentials fit; login 0 with an empty
  // password keeps the current account.
  bool Authorize(uint64_t login, const std::u16string& password, const std::u16string& server);
  const Account& current() const { return accounts_[current_]; }
  std::vector<Account>& accounts() { return accounts_; }
  void SetHooks(EngineHooks hooks) { hooks_ = std::move(hooks); }
  // The account back at its deposit with an empty history; its ticket
  // counter goes on from `next_ticket` (when above its own).
  void Reset(Account& account, int64_t now_ms, uint64_t next_ticket) const;

  // Processes pending orders, expirations and stops of every account up to now.
  void Update(int64_t now_ms);

  Figures ComputeFigures(const Account& account, int64_t now_ms) const;
  TradeResult Send(const TradeRequest& request, int64_t now_ms);
  // Runs the request on a copy of the account; `after` is that copy's state.
  TradeResult Check(const TradeRequest& request, int64_t now_ms, Figures* after) const;

  // Margin and profit in the account currency; false for an unknown type.
  bool CalcMargin(uint32_t type, const SymbolSpec& instrument, double volume, double price, int64_t now_ms,
                  double* margin) const;
  bool CalcProfit(uint32_t type, const SymbolSpec& instrument, double volume, double open, double close,
                  int64_t now_ms, double* profit) const;

  double PositionProfit(const Account& account, const Position& p, int64_t now_ms) const;
  double PositionPriceCurrent(const Position& p, int64_t now_ms) const;
  double OrderPriceCurrent(const Order& o, int64_t now_ms) const;
  // Value of one unit of `from` in `to`, at mid prices.
  double Conversion(const std::string& from, const std::string& to, int64_t at_ms) const;

  const Market& market() const { return market_; }

 private:
  // A line of the account for the terminal's log (through the hooks).
  void Log(const Account& account, const std::string& line) const;

  // The trade actions (engine_requests.cpp).
  TradeResult Execute(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult Market_(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult Pending(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult Sltp(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult Modify(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult Remove(Account& account, const TradeRequest& r, int64_t now_ms) const;
  TradeResult CloseBy(Account& account, const TradeRequest& r, int64_t now_ms) const;
  // Triggers, expiries and stops (engine_triggers.cpp); whether anything
  // triggered, expired or closed.
  bool Evaluate(Account& account, int64_t now_ms) const;
  // Closes positions while the margin level is below the stop-out level;
  // whether any was closed.
  bool StopOut(Account& account, int64_t now_ms) const;

  // Account figures (engine_figures.cpp).
  double Margin(const Account& account, const SymbolSpec& instrument, double volume, double price,
                int64_t at_ms) const;
  double Profit(const Account& account, const SymbolSpec& instrument, uint32_t position_type, double volume,
                double open, double close, int64_t at_ms) const;
  // Fills (engine_fills.cpp). Opens a position filled at `price`; the order
  // is the filled order.
  uint64_t OpenPosition(Account& account, Order& order, double price, int64_t at_ms) const;
  // Closes `volume` of position i at `price` with a new filled order.
  uint64_t ClosePosition(Account& account, size_t i, double volume, double price, int64_t at_ms,
                         uint32_t reason, const std::u16string& comment, uint64_t magic,
                         uint64_t* order_ticket) const;

  const Market& market_;
  std::vector<Account> accounts_;
  size_t current_ = 0;
  EngineHooks hooks_;
};

}  // namespace brv::paper
