#include "paper/store.h"

#include <cstdio>
#include <cstring>

#include "sqlite3.h"

namespace brv::paper {
namespace {

constexpr int kSchemaVersion = 1;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts(login INTEGER PRIMARY KEY, balance REAL NOT NULL,"
    " next_ticket INTEGER NOT NULL, evaluated_msc INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS positions(login INTEGER NOT NULL, ticket INTEGER NOT NULL,"
    " time_msc INTEGER, update_msc INTEGER, type INTEGER, magic INTEGER, reason INTEGER, volume REAL,"
    " price_open REAL, sl REAL, tp REAL, symbol TEXT, comment TEXT, watch_msc INTEGER,"
    " PRIMARY KEY(login, ticket));"
    "CREATE TABLE IF NOT EXISTS orders(login INTEGER NOT NULL, ticket INTEGER NOT NULL, active INTEGER NOT NULL,"
    " setup_msc INTEGER, done_msc INTEGER, expiration INTEGER, type INTEGER, type_time INTEGER,"
    " type_filling INTEGER, state INTEGER, magic INTEGER, position_id INTEGER, position_by_id INTEGER,"
    " reason INTEGER, volume_initial REAL, volume_current REAL, price_open REAL, sl REAL, tp REAL,"
    " price_current REAL, price_stoplimit REAL, symbol TEXT, comment TEXT, watch_msc INTEGER,"
    " seq INTEGER NOT NULL, PRIMARY KEY(login, active, seq));"
    "CREATE TABLE IF NOT EXISTS deals(login INTEGER NOT NULL, ticket INTEGER NOT NULL,"
    " order_ticket INTEGER, time_msc INTEGER, type INTEGER, entry INTEGER, magic INTEGER,"
    " position_id INTEGER, reason INTEGER, volume REAL, price REAL, commission REAL, swap REAL,"
    " profit REAL, fee REAL, symbol TEXT, comment TEXT, PRIMARY KEY(login, ticket));";

// A prepared statement whose parameters are bound in order.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) == SQLITE_OK; }
  ~Stmt() { sqlite3_finalize(s_); }
  bool ok() const { return ok_; }
  Stmt& I(int64_t v) {
    ok_ = ok_ && sqlite3_bind_int64(s_, ++n_, v) == SQLITE_OK;
    return *this;
  }
  Stmt& U(uint64_t v) { return I(int64_t(v)); }
  Stmt& D(double v) {
    ok_ = ok_ && sqlite3_bind_double(s_, ++n_, v) == SQLITE_OK;
    return *this;
  }
  Stmt& T(const std::u16string& v) {
    ok_ = ok_ && sqlite3_bind_text16(s_, ++n_, v.data(), int(v.size() * 2), SQLITE_TRANSIENT) == SQLITE_OK;
    return *this;
  }
  Stmt& Sym(const SymbolSpec* instrument) {
    if (instrument == nullptr) {
      ok_ = ok_ && sqlite3_bind_null(s_, ++n_) == SQLITE_OK;
    } else {
      ok_ = ok_ && sqlite3_bind_text(s_, ++n_, instrument->name, -1, SQLITE_STATIC) == SQLITE_OK;
    }
    return *this;
  }
  // Runs a statement without rows, ready to be bound again.
  bool Run() {
    bool done = ok_ && sqlite3_step(s_) == SQLITE_DONE;
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    n_ = 0;
    return done;
  }
  bool Row() {
    col_ = 0;
    return ok_ && sqlite3_step(s_) == SQLITE_ROW;
  }
  int64_t GI() { return sqlite3_column_int64(s_, col_++); }
  uint64_t GU() { return uint64_t(GI()); }
  uint32_t G32() { return uint32_t(GI()); }
  double GD() { return sqlite3_column_double(s_, col_++); }
  std::u16string GT() {
    const void* p = sqlite3_column_text16(s_, col_);
    int bytes = sqlite3_column_bytes16(s_, col_++);
    if (p == nullptr) return std::u16string();
    std::u16string out(size_t(bytes) / 2, u'\0');
    std::memcpy(&out[0], p, out.size() * 2);
    return out;
  }
  // The symbol of the column: null for none, `unknown` set for a name the
  // catalogue no longer has.
  const SymbolSpec* GSym(bool* unknown) {
    const unsigned char* p = sqlite3_column_text(s_, col_++);
    if (p == nullptr) return nullptr;
    for (const auto& instrument : Catalogue()) {
      if (std::strcmp(instrument.name, reinterpret_cast<const char*>(p)) == 0) return &instrument;
    }
    *unknown = true;
    return nullptr;
  }

 private:
  sqlite3_stmt* s_ = nullptr;
  bool ok_ = false;
  int n_ = 0, col_ = 0;
};

const char kInsertOrder[] =
    "INSERT OR REPLACE INTO orders VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
const char kOrderColumns[] =
    "ticket, setup_msc, done_msc, expiration, type, type_time, type_filling, state, magic, position_id,"
    " position_by_id, reason, volume_initial, volume_current, price_open, sl, tp, price_current,"
    " price_stoplimit, symbol, comment, watch_msc";

bool PutOrder(Stmt& s, uint64_t login, bool active, size_t seq, const Order& o) {
  return s.U(login).U(o.ticket).I(active).I(o.setup_msc).I(o.done_msc).I(o.expiration).I(o.type)
      .I(o.type_time).I(o.type_filling).I(o.state).U(o.magic).U(o.position_id).U(o.position_by_id)
      .I(o.reason).D(o.volume_initial).D(o.volume_current).D(o.price_open).D(o.sl).D(o.tp)
      .D(o.price_current).D(o.price_stoplimit).Sym(o.instrument).T(o.comment).I(o.watch_msc).I(int64_t(seq))
      .Run();
}

Order GetOrder(Stmt& s, bool* unknown) {
  Order o{};
  o.ticket = s.GU();
  o.setup_msc = s.GI();
  o.done_msc = s.GI();
  o.expiration = s.GI();
  o.type = s.G32();
  o.type_time = s.G32();
  o.type_filling = s.G32();
  o.state = s.G32();
  o.magic = s.GU();
  o.position_id = s.GU();
  o.position_by_id = s.GU();
  o.reason = s.G32();
  o.volume_initial = s.GD();
  o.volume_current = s.GD();
  o.price_open = s.GD();
  o.sl = s.GD();
  o.tp = s.GD();
  o.price_current = s.GD();
  o.price_stoplimit = s.GD();
  o.instrument = s.GSym(unknown);
  o.comment = s.GT();
  o.watch_msc = s.GI();
  return o;
}

}  // namespace

Store::~Store() {
  if (db_ != nullptr) sqlite3_close(db_);
}

bool Store::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error_ = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool Store::Open(const std::string& path, std::string* error) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // WAL with synchronous commits: a commit is on disk before the request
  // that made it is answered.
  bool ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") && Exec(kSchema);
  if (ok) {
    Stmt v(db_, "PRAGMA user_version");
    int version = v.Row() ? int(v.GI()) : -1;
    if (version == 0) {
      ok = Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    } else if (version != kSchemaVersion) {
      error_ = "unknown schema version " + std::to_string(version);
      ok = false;
    }
  }
  if (!ok) *error = path + ": " + error_;
  return ok;
}

bool Store::Load(Account* account) {
  const uint64_t login = account->config->login;
  Stmt a(db_, "SELECT balance, next_ticket, evaluated_msc FROM accounts WHERE login=?");
  a.U(login);
  if (!a.Row()) return false;
  Account loaded;
  loaded.config = account->config;
  loaded.balance = a.GD();
  loaded.next_ticket = a.GU();
  loaded.evaluated_msc = a.GI();
  bool unknown = false;

  Stmt p(db_,
         "SELECT ticket, time_msc, update_msc, type, magic, reason, volume, price_open, sl, tp, symbol, comment,"
         " watch_msc FROM positions WHERE login=? ORDER BY time_msc, ticket");
  p.U(login);
  while (p.Row()) {
    Position x{};
    x.ticket = p.GU();
    x.time_msc = p.GI();
    x.update_msc = p.GI();
    x.type = p.G32();
    x.magic = p.GU();
    x.reason = p.G32();
    x.volume = p.GD();
    x.price_open = p.GD();
    x.sl = p.GD();
    x.tp = p.GD();
    bool gone = false;
    x.instrument = p.GSym(&gone);
    x.comment = p.GT();
    x.watch_msc = p.GI();
    if (x.instrument != nullptr) loaded.positions.push_back(x);
    unknown = unknown || gone;
  }
  for (int active = 1; active >= 0; --active) {
    Stmt o(db_, (std::string("SELECT ") + kOrderColumns + " FROM orders WHERE login=? AND active=? ORDER BY seq").c_str());
    o.U(login).I(active);
    while (o.Row()) {
      bool gone = false;
      Order x = GetOrder(o, &gone);
      if (gone) continue;
      (active ? loaded.orders : loaded.history).push_back(x);
    }
  }
  Stmt d(db_,
         "SELECT ticket, order_ticket, time_msc, type, entry, magic, position_id, reason, volume, price,"
         " commission, swap, profit, fee, symbol, comment FROM deals WHERE login=? ORDER BY ticket");
  d.U(login);
  while (d.Row()) {
    Deal x{};
    x.ticket = d.GU();
    x.order = d.GU();
    x.time_msc = d.GI();
    x.type = d.G32();
    x.entry = d.G32();
    x.magic = d.GU();
    x.position_id = d.GU();
    x.reason = d.G32();
    x.volume = d.GD();
    x.price = d.GD();
    x.commission = d.GD();
    x.swap = d.GD();
    x.profit = d.GD();
    x.fee = d.GD();
    bool gone = false;
    x.instrument = d.GSym(&gone);
    x.comment = d.GT();
    if (!gone) loaded.deals.push_back(x);
  }
  (void)unknown;
  Saved& saved = saved_[login];
  saved.deals = loaded.deals.size();
  saved.history = loaded.history.size();
  saved.evaluated_msc = loaded.evaluated_msc;
  *account = std::move(loaded);
  return true;
}

bool Store::Save(const Account& account) {
  const uint64_t login = account.config->login;
  Saved saved = saved_[login];
  if (saved.deals > account.deals.size() || saved.history > account.history.size()) saved = Saved();
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok = true;
  {
    Stmt a(db_, "INSERT OR REPLACE INTO accounts VALUES(?,?,?,?)");
    ok = a.U(login).D(account.balance).U(account.next_ticket).I(account.evaluated_msc).Run();
    Stmt clear_p(db_, "DELETE FROM positions WHERE login=?");
    Stmt clear_o(db_, "DELETE FROM orders WHERE login=? AND active=1");
    ok = ok && clear_p.U(login).Run() && clear_o.U(login).Run();
    Stmt p(db_, "INSERT INTO positions VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const Position& x : account.positions) {
      ok = ok && p.U(login).U(x.ticket).I(x.time_msc).I(x.update_msc).I(x.type).U(x.magic).I(x.reason)
                     .D(x.volume).D(x.price_open).D(x.sl).D(x.tp).Sym(x.instrument).T(x.comment).I(x.watch_msc)
                     .Run();
    }
    Stmt o(db_, kInsertOrder);
    for (size_t i = 0; i < account.orders.size(); ++i) ok = ok && PutOrder(o, login, true, i, account.orders[i]);
    for (size_t i = saved.history; i < account.history.size(); ++i) {
      ok = ok && PutOrder(o, login, false, i, account.history[i]);
    }
    Stmt d(db_, "INSERT OR REPLACE INTO deals VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (size_t i = saved.deals; i < account.deals.size(); ++i) {
      const Deal& x = account.deals[i];
      ok = ok && d.U(login).U(x.ticket).U(x.order).I(x.time_msc).I(x.type).I(x.entry).U(x.magic)
                     .U(x.position_id).I(x.reason).D(x.volume).D(x.price).D(x.commission).D(x.swap).D(x.profit)
                     .D(x.fee).Sym(x.instrument).T(x.comment).Run();
    }
  }
  if (!ok) error_ = sqlite3_errmsg(db_);
  if (!ok || !Exec("COMMIT")) {
    Exec("ROLLBACK");
    return false;
  }
  Saved& now = saved_[login];
  now.deals = account.deals.size();
  now.history = account.history.size();
  now.evaluated_msc = account.evaluated_msc;
  return true;
}

bool Store::Erase(uint64_t login, uint64_t* next_ticket) {
  *next_ticket = 0;
  {
    Stmt a(db_, "SELECT next_ticket FROM accounts WHERE login=?");
    a.U(login);
    if (a.Row()) *next_ticket = a.GU();
  }
  std::string id = std::to_string(login);
  bool ok = Exec("BEGIN IMMEDIATE") && Exec(("DELETE FROM positions WHERE login=" + id).c_str()) &&
            Exec(("DELETE FROM orders WHERE login=" + id).c_str()) &&
            Exec(("DELETE FROM deals WHERE login=" + id).c_str()) &&
            Exec("COMMIT");
  if (!ok) Exec("ROLLBACK");
  saved_.erase(login);
  return ok;
}

int64_t Store::SavedEvaluation(uint64_t login) const {
  auto it = saved_.find(login);
  return it == saved_.end() ? 0 : it->second.evaluated_msc;
}

bool AttachStore(Store* store, Engine* engine, const std::string& path,
                 std::function<void(const std::string&)> log, std::string* error) {
  if (!store->Open(path, error)) return false;
  for (Account& account : engine->accounts()) {
    if (!store->Load(&account) && !store->Save(account)) {
      *error = path + ": " + store->error();
      return false;
    }
    account.committed_msc = account.evaluated_msc;
  }
  EngineHooks hooks;
  hooks.commit = [store](const Account& account) { return store->Save(account); };
  hooks.log = std::move(log);
  engine->SetHooks(std::move(hooks));
  return true;
}

int ResetAccount(const std::string& path, uint64_t login, int64_t now_ms, const Market& market, std::string* out) {
  Engine engine(market, now_ms, login);
  for (Account& account : engine.accounts()) {
    if (account.config->login != login) continue;
    Store store;
    uint64_t next_ticket = 0;
    if (!store.Open(path, out)) return 2;
    if (!store.Erase(login, &next_ticket)) {
      *out = path + ": " + store.error();
      return 2;
    }
    engine.Reset(account, now_ms, next_ticket);
    if (!store.Save(account)) {
      *out = path + ": " + store.error();
      return 2;
    }
    char line[160];
    std::snprintf(line, sizeof(line), "account %llu reset to its deposit of %.2f %s\n",
                  static_cast<unsigned long long>(login), account.config->deposit, account.config->currency);
    *out = line;
    return 0;
  }
  *out = "no account " + std::to_string(login);
  return 2;
}

int ListAccounts(const std::string& path, std::string* out) {
  Store store;
  if (!store.Open(path, out)) return 2;
  char line[256];
  std::snprintf(line, sizeof(line), "%-10s %-18s %-8s %14s %9s %7s %7s\n", "login", "name", "currency", "balance",
                "positions", "orders", "deals");
  *out = line;
  for (const AccountConfig& config : AccountConfigs()) {
    Account account;
    account.config = &config;
    account.balance = config.deposit;
    bool saved = store.Load(&account);
    std::snprintf(line, sizeof(line), "%-10llu %-18s %-8s %14.2f %9zu %7zu %7zu%s\n",
                  static_cast<unsigned long long>(config.login), config.name, config.currency, account.balance,
                  account.positions.size(), account.orders.size(), account.deals.size(),
                  saved ? "" : "  (never started)");
    *out += line;
  }
  return 0;
}

}  // namespace brv::paper
