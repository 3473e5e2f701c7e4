// The engine's accounts and their authorisation, and the entry of trade
// requests (sent, with their commit, or checked on a copy) and of the lazy
// evaluation. The rules, trade actions, fills, figures and triggers are in
// the engine_*.cpp files beside this one.
#include "paper/engine.h"

#include <algorithm>

#include "paper/codes.h"
#include "paper/engine_parts.h"

namespace brv::paper {
namespace {

const std::vector<AccountConfig> kAccounts = {
    {70010001, "paper-demo", "Paper Trader", "USD", 100, 10000.0},
    {70010002, "euro-demo", "Paper Trader EUR", "EUR", 30, 5000.0},
    {70010003, "pro-demo", "Paper Trader Pro", "USD", 500, 100000.0},
};

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

// ---- lazy evaluation -------------------------------------------------------

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

}  // namespace brv::paper
