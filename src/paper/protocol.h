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
  // Every request handler reads its body, then answers; a body that does
  // not parse gets a bare "invalid parameters" status.
  using Handler = std::string (Terminal::*)(Session& session, uint32_t command, BodyReader& body);
  struct Route {
    uint32_t command;
    Handler handler;
  };
  static const Route kRoutes[];

  std::string Version(Session& session, uint32_t command, BodyReader& body);
  std::string Handshake(Session& session, uint32_t command, BodyReader& body);
  std::string Authorize(Session& session, uint32_t command, BodyReader& body);
  std::string Readiness(Session& session, uint32_t command, BodyReader& body);
  std::string TerminalInfo(Session& session, uint32_t command, BodyReader& body);
  std::string AccountInfo(Session& session, uint32_t command, BodyReader& body);
  std::string Rates(Session& session, uint32_t command, BodyReader& body);
  std::string TickList(Session& session, uint32_t command, BodyReader& body);
  std::string SymbolList(Session& session, uint32_t command, BodyReader& body);
  std::string Book(Session& session, uint32_t command, BodyReader& body);
  std::string Trading(Session& session, uint32_t command, BodyReader& body);
  std::string Lists(Session& session, uint32_t command, BodyReader& body);
  std::string SymbolInfo(const SymbolSpec& instrument, int64_t now_ms);

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
