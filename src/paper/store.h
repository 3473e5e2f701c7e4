// The accounts on disk: an SQLite database in the data folder (WAL journal,
// synchronous commits) holding every account's balance, ticket counter,
// positions, pending orders, deals and history orders. The engine commits an
// account after every change, before the request that made it is answered,
// so a terminal killed at any moment comes back with everything it reported.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "paper/engine.h"

struct sqlite3;

namespace brv::paper {

class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Opens (creating when missing) the database at `path`.
  bool Open(const std::string& path, std::string* error);
  // Replaces the account's state (its config is kept) by the saved one;
  // false when the account was never saved.
  bool Load(Account* account);
  // Commits the account in one transaction: the account row, its positions
  // and pending orders as they are, and the deals and history orders added
  // since the last commit (both only ever grow, until `Erase`).
  bool Save(const Account& account);
  // Removes everything of the account except its ticket counter, which is
  // returned through `next_ticket` (0 when the account was never saved).
  bool Erase(uint64_t login, uint64_t* next_ticket);
  // Evaluation time last committed for the account (0 if none).
  int64_t SavedEvaluation(uint64_t login) const;
  const std::string& error() const { return error_; }

 private:
  bool Exec(const char* sql);
  struct Saved {
    size_t deals = 0, history = 0;
    int64_t evaluated_msc = 0;
  };
  sqlite3* db_ = nullptr;
  std::map<uint64_t, Saved> saved_;
  std::string error_;
};

// Opens the database, brings every account of the engine back from it
// (accounts never saved are saved as they are) and makes the engine commit
// through it and log through `log`. False with a message when the database cannot be used.
bool AttachStore(Store* store, Engine* engine, const std::string& path,
                 std::function<void(const std::string&)> log, std::string* error);

// The command-line tools: `reset` puts an account back at its deposit with an
// empty history (tickets go on where they were); `list` writes one line per
// account. Both return an exit status.
int ResetAccount(const std::string& path, uint64_t login, int64_t now_ms, const Market& market, std::string* out);
int ListAccounts(const std::string& path, std::string* out);

}  // namespace brv::paper
