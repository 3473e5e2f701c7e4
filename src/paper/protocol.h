// Request dispatch: one handler per command of the command table. Each
// handler parses its body completely (a body of the wrong size or with a
// malformed string is answered with -2) and returns the whole reply message.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "paper/clock.h"
#include "paper/data_folder.h"
#include "paper/engine.h"
#include "paper/market.h"

namespace brv::paper {

class BodyReader;

// What the terminal remembers about one connection.
struct Session {
  bool auth_failed = false;  // readiness reports state 3 until a successful login
  std::set<int> books;       // symbols whose depth of market is subscribed
};

class Terminal {
 public:
  Terminal(const Folders& folders, Settings* settings, Clock* clock, const Options& options);

  // `message` is everything after the length word: command, then body.
  std::string Handle(Session& session, const uint8_t* message, size_t size);

 private:
  std::string Dispatch(Session& session, uint32_t command, BodyReader& body);
  std::string Rates(uint32_t command, BodyReader& body);
  std::string TickList(uint32_t command, BodyReader& body);
  std::string SymbolInfo(const SymbolSpec& instrument, int64_t now_ms);
  std::string SymbolList(uint32_t command, BodyReader& body);
  std::string Book(Session& session, uint32_t command, BodyReader& body);
  std::string Trading(uint32_t command, BodyReader& body);
  std::string Lists(uint32_t command, BodyReader& body);

  Folders folders_;
  Settings* settings_;
  Clock* clock_;
  Market market_;
  std::mutex mu_;  // guards the engine, the selection and the request counter
  Engine engine_;
  std::vector<bool> selected_;
  uint32_t request_id_ = 0;
};

}  // namespace brv::paper
