// Request dispatch: one handler per command of the command table. Each
// handler parses its body completely (a body of the wrong size or with a
// malformed string is answered with -2) and returns the whole reply message.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "paper/clock.h"
#include "paper/data_folder.h"
#include "paper/engine.h"
#include "paper/market.h"
#include "paper/store.h"

namespace brv::paper {

class BodyReader;

// Sends one piece of a reply; false when the client is gone.
using Sink = std::function<bool(const std::string&)>;

// What the terminal remembers about one connection.
struct Session {
  bool auth_failed = false;  // readiness reports state 3 until a successful login
  std::set<int> books;       // symbols whose depth of market is subscribed
  // While a request is handled: where long replies go piece by piece.
  const Sink* sink = nullptr;
  bool streamed = false, stream_ok = true;
};

class Terminal {
 public:
  Terminal(const Folders& folders, Settings* settings, Clock* clock, const Options& options);
  // Brings the accounts back from the data folder's database and commits
  // every change there from now on; false with a message when it cannot.
  bool OpenStore(std::string* error);

  // `message` is everything after the length word: command, then body.
  std::string Handle(Session& session, const uint8_t* message, size_t size);
  // The same, with the reply sent through `send`: long lists of bars or ticks
  // are produced and sent in pieces, so that memory stays bounded whatever
  // the client asks and however slowly it reads. False when sending failed.
  bool Handle(Session& session, const uint8_t* message, size_t size, const Sink& send);
  void Log(const std::string& line) { AppendLog(folders_.log_file, line); }

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
  Store store_;
  std::vector<bool> selected_;
  uint32_t request_id_ = 0;
};

}  // namespace brv::paper
