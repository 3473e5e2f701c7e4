// Replay terminal for the benchmarks: listens on the socket that the
// connector derives from a terminal executable path and answers every
// request from reply bytes built once at start-up, so that its own cost per
// request is one buffered read of the request and one send of ready bytes,
// the same for every client measured against it.
//
//   replay_terminal --exe PATH [--bars N] [--ticks N] [--positions N] [--passing]
//
// The positions' symbols are drawn from eight symbols, five of which pass
// the group '*USD*,!EUR*'; with --passing only from those five.
// Prints "READY <socket path>" on stdout once it listens. Serves one
// connection at a time, each until the client closes it, until SIGTERM.
//
// Answers (status 0 unless said otherwise):
//   4    handshake        value reply, build 4410
//   5    authorisation    status reply
//   109  readiness        value reply, state 2 (ready)
//   120  positions_total  value reply, the position count
//   121  positions_get    record list of N positions (320 bytes each)
//   172  symbol_info_tick one 60-byte tick record
//   104, 105             record list of N ticks (60 bytes each)
//   106, 107, 108        record list of N bars (60 bytes each)
//   anything else        status -1, bare header
#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/pipe_name.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kBuild = 4410;
constexpr uint32_t kRecordSize60 = 60;
constexpr uint32_t kPositionSize = 320;

using Bytes = std::vector<uint8_t>;

// ---- little-endian record building ----------------------------------------

template <class T>
void Put(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof(T));  // the host is little-endian
}

void PutText(uint8_t* at, const char* text, size_t units) {
  for (size_t i = 0; i < units && text[i] != 0; ++i) Put<uint16_t>(at + 2 * i, uint8_t(text[i]));
}

// Deterministic pseudo-random numbers, so every run serves the same bytes.
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(state >> 33);
  }
  double Unit() { return Next() / 4294967296.0; }
};

// A reply: length, echo, status, then `payload` bytes (left for the caller).
Bytes Reply(uint32_t command, int32_t status, size_t payload) {
  Bytes reply(12 + payload, 0);
  Put<uint32_t>(&reply[0], uint32_t(8 + payload));
  Put<uint32_t>(&reply[4], command);
  Put<int32_t>(&reply[8], status);
  return reply;
}

Bytes ValueReply(uint32_t command, uint32_t value) {
  Bytes reply = Reply(command, 0, 4);
  Put<uint32_t>(&reply[12], value);
  return reply;
}

// A record list reply with room for `count` records after the count field.
Bytes ListReply(uint32_t command, uint32_t count, uint32_t record_size) {
  Bytes reply = Reply(command, 0, 4 + size_t(count) * record_size);
  Put<uint32_t>(&reply[12], count);
  return reply;
}

void FillTick(uint8_t* r, uint64_t i, Random& random) {
  const int64_t msc = 1577836800000ll + int64_t(i) * 137;
  const double bid = 1.1 + 0.01 * random.Unit();
  Put<int64_t>(r + 0, msc / 1000);
  Put<double>(r + 8, bid);
  Put<double>(r + 16, bid + 0.00012);
  Put<double>(r + 24, 0.0);
  Put<uint64_t>(r + 32, 0);
  Put<int64_t>(r + 40, msc);
  Put<uint32_t>(r + 48, 6);
  Put<double>(r + 52, 0.0);
}

void FillBar(uint8_t* r, uint64_t i, Random& random) {
  const double open = 1.1 + 0.01 * random.Unit();
  Put<int64_t>(r + 0, 946684800ll + int64_t(i) * 60);
  Put<double>(r + 8, open);
  Put<double>(r + 16, open + 0.0004 * random.Unit());
  Put<double>(r + 24, open - 0.0004 * random.Unit());
  Put<double>(r + 32, open + 0.0002 * (random.Unit() - 0.5));
  Put<uint64_t>(r + 40, 20 + random.Next() % 500);
  Put<int32_t>(r + 48, int32_t(random.Next() % 20));
  Put<uint64_t>(r + 52, 0);
}

// The first five pass the group '*USD*,!EUR*', the last three do not; with
// --passing only the first five are drawn.
const char* const kSymbolOrder[8] = {"GBPUSD", "USDJPY", "AUDUSD", "USDCHF",
                                     "XAUUSD", "EURUSD", "EURJPY", "GBPJPY"};
uint32_t g_symbol_choices = 8;

void FillPosition(uint8_t* r, uint64_t i, Random& random) {
  const uint64_t ticket = 50000000 + i;
  const int64_t time = 1700000000 + int64_t(i);
  Put<uint64_t>(r + 0, ticket);
  Put<int64_t>(r + 8, time);
  Put<int64_t>(r + 16, time * 1000 + 250);
  Put<int64_t>(r + 24, time + 30);
  Put<int64_t>(r + 32, (time + 30) * 1000);
  Put<uint32_t>(r + 40, uint32_t(i & 1));
  Put<uint64_t>(r + 44, 12345);
  Put<uint64_t>(r + 52, ticket);
  Put<uint32_t>(r + 60, 3);
  Put<double>(r + 64, 0.01 * (1 + random.Next() % 100));
  Put<double>(r + 72, 1.1 + 0.01 * random.Unit());
  Put<double>(r + 80, 1.05);
  Put<double>(r + 88, 1.15);
  Put<double>(r + 96, 1.1 + 0.01 * random.Unit());
  Put<double>(r + 112, -0.5);
  Put<double>(r + 120, 100.0 * (random.Unit() - 0.5));
  PutText(r + 128, kSymbolOrder[random.Next() % g_symbol_choices], 32);
  PutText(r + 192, "bench position", 32);
  PutText(r + 256, "", 32);
}

template <class Fill>
Bytes RecordList(uint32_t command, uint32_t count, uint32_t size, Fill fill) {
  Bytes reply = ListReply(command, count, size);
  Random random;
  for (uint32_t i = 0; i < count; ++i) fill(&reply[16 + size_t(i) * size], i, random);
  return reply;
}

struct Replies {
  Bytes handshake, authorize, ready, positions_total, positions, tick, ticks, bars, failure;
  // The bar and tick commands share one reply each; only the echo differs.
  Bytes ticks_from, rates_from, rates_from_pos;

  const Bytes& For(uint32_t command) const {
    switch (command) {
      case 4: return handshake;
      case 5: return authorize;
      case 109: return ready;
      case 120: return positions_total;
      case 121: return positions;
      case 172: return tick;
      case 104: return ticks_from;
      case 105: return ticks;
      case 106: return rates_from;
      case 107: return bars;
      case 108: return rates_from_pos;
      default: return failure;
    }
  }
};

Bytes WithEcho(Bytes reply, uint32_t command) {
  Put<uint32_t>(&reply[4], command);
  return reply;
}

void BuildReplies(Replies* r, uint32_t bars, uint32_t ticks, uint32_t positions) {
  r->handshake = ValueReply(4, kBuild);
  r->authorize = Reply(5, 0, 0);
  r->ready = ValueReply(109, 2);
  r->positions_total = ValueReply(120, positions);
  r->positions = RecordList(121, positions, kPositionSize, FillPosition);
  r->tick = Reply(172, 0, kRecordSize60);
  Random random;
  FillTick(&r->tick[12], 0, random);
  r->ticks = RecordList(105, ticks, kRecordSize60, FillTick);
  r->bars = RecordList(107, bars, kRecordSize60, FillBar);
  r->ticks_from = WithEcho(r->ticks, 104);
  r->rates_from = WithEcho(r->bars, 106);
  r->rates_from_pos = WithEcho(r->bars, 108);
  r->failure = Reply(0, -1, 0);
}

// ---- serving -----------------------------------------------------------------

volatile sig_atomic_t g_stop = 0;
void OnTerm(int) { g_stop = 1; }

bool SendAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += sent;
    n -= size_t(sent);
  }
  return true;
}

// Answers the requests of one connection until the client closes it. The
// requests are small: they are read in large chunks and split here, so one
// request normally costs one recv.
void Serve(int fd, const Replies& replies) {
  std::vector<uint8_t> in(1 << 16);
  size_t have = 0;
  for (;;) {
    // Answer every complete request in the buffer.
    size_t at = 0;
    while (have - at >= 8) {
      uint32_t length, command;
      std::memcpy(&length, &in[at], 4);
      if (length < 4) return;  // not a request of this protocol
      if (have - at < 4 + size_t(length)) break;
      std::memcpy(&command, &in[at + 4], 4);
      const Bytes& reply = replies.For(command);
      if (&reply == &replies.failure) {
        Bytes echoed = WithEcho(reply, command);
        if (!SendAll(fd, echoed.data(), echoed.size())) return;
      } else if (!SendAll(fd, reply.data(), reply.size())) {
        return;
      }
      at += 4 + size_t(length);
    }
    if (at > 0) {
      std::memmove(&in[0], &in[at], have - at);
      have -= at;
    }
    if (have >= 4) {
      uint32_t length;
      std::memcpy(&length, &in[0], 4);
      if (4 + size_t(length) > in.size()) in.resize(4 + size_t(length));
    }
    ssize_t got = recv(fd, &in[have], in.size() - have, 0);
    if (got < 0 && errno == EINTR && !g_stop) continue;
    if (got <= 0) return;
    have += size_t(got);
  }
}

uint32_t Count(const char* text) { return uint32_t(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
  std::string exe;
  uint32_t bars = 1000000, ticks = 1000000, positions = 10000;
  for (int i = 1; i < argc; ++i) {
    std::string key = argv[i];
    if (key == "--passing") {
      g_symbol_choices = 5;
    } else if (i + 1 < argc && (key == "--exe" || key == "--bars" || key == "--ticks" || key == "--positions")) {
      const char* value = argv[++i];
      if (key == "--exe") exe = value;
      else if (key == "--bars") bars = Count(value);
      else if (key == "--ticks") ticks = Count(value);
      else positions = Count(value);
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (exe.empty()) {
    std::fprintf(stderr, "usage: replay_terminal --exe PATH [--bars N] [--ticks N] [--positions N] [--passing]\n");
    return 2;
  }

  Replies replies;
  BuildReplies(&replies, bars, ticks, positions);

  // The socket the connector derives from the executable path.
  using namespace brv;
  std::u16string final_path = platform::FinalPath(platform::FromUtf8(exe), link::kMaxPath);
  uint8_t digest[32];
  if (!link::HashPath(final_path, digest)) return 1;
  std::string path = platform::SocketPath(link::MakePipeName(digest), true);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
    std::fprintf(stderr, "unusable socket path '%s'\n", path.c_str());
    return 1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  unlink(path.c_str());
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listener, 16) != 0) {
    std::perror("listen");
    return 1;
  }

  struct sigaction term{};
  term.sa_handler = OnTerm;  // no SA_RESTART: accept returns on SIGTERM
  sigaction(SIGTERM, &term, nullptr);
  sigaction(SIGINT, &term, nullptr);

  std::printf("READY %s\n", path.c_str());
  std::fflush(stdout);
  while (!g_stop) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Serve(fd, replies);
    close(fd);
  }
  close(listener);
  unlink(path.c_str());
  return 0;
}
