// Floor client for the benchmarks: sends the same request bytes as the
// connector and reads the same reply over the same socket, with nothing
// decoded, so its times are the least any client can take.
//
//   floor_client SOCKET tick  BATCHES PER_BATCH WARMUP
//   floor_client SOCKET CASE  CALLS WARMUP ALLOC      CASE: rates | ticks | positions
//
// ALLOC says where a record list goes, since the connector hands each reply
// a new buffer of its own:
//   huge   a new block per call, advised into transparent huge pages when it
//          is 4 MiB or more (what numpy does for its own large arrays)
//   plain  a new block per call in ordinary pages
//   reuse  one block for all calls, already touched (the transfer alone)
//
// Prints one line of JSON: the per-call times in seconds, and for record
// lists the time of the first (warm-up) call and the peak memory growth of
// one more call measured after the others.
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_fd = -1;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "floor_client: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void SendAll(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t sent = send(g_fd, p, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) Fail("send");
    p += sent;
    n -= size_t(sent);
  }
}

void RecvAll(void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t got = recv(g_fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) Fail("recv");
    p += got;
    n -= size_t(got);
  }
}

// ---- requests, byte for byte what the connector sends ----------------------

struct Request {
  std::vector<uint8_t> bytes;
  template <class T>
  Request& Put(T value) {
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
    return *this;
  }
  Request& Text(const char* text) {
    Put<uint32_t>(uint32_t(std::strlen(text)));
    for (const char* c = text; *c; ++c) Put<uint16_t>(uint8_t(*c));
    return *this;
  }
  // Fills in the length field once the body is complete.
  Request& Done() {
    uint32_t length = uint32_t(bytes.size() - 4);
    std::memcpy(bytes.data(), &length, 4);
    return *this;
  }
};

Request Command(uint32_t command) { return Request().Put<uint32_t>(0).Put<uint32_t>(command); }

// The arguments every client of the benchmark uses.
constexpr int64_t kFrom = 946684800;  // 2000-01-01
constexpr int64_t kTo = 2000000000;
Request TickRequest() { return Command(172).Text("EURUSD").Done(); }
Request RatesRequest() {
  return Command(107).Text("EURUSD").Put<int32_t>(1).Put<int64_t>(kFrom).Put<int64_t>(kTo).Done();
}
Request TicksRequest() {
  return Command(105).Text("EURUSD").Put<int64_t>(kFrom * 1000).Put<int64_t>(kTo * 1000).Put<int32_t>(-1).Done();
}
Request PositionsRequest() { return Command(121).Done(); }

// ---- record lists ------------------------------------------------------------

enum class Alloc { kHuge, kPlain, kReuse };

void* NewBlock(size_t bytes, Alloc alloc) {
  void* data = std::malloc(bytes == 0 ? 1 : bytes);
  if (data == nullptr) Fail("malloc");
  if (alloc == Alloc::kHuge && bytes >= (size_t(4) << 20)) {
    const uintptr_t page = 4096;
    uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
  return data;
}

struct Lister {
  Request request;
  Alloc alloc;
  void* kept = nullptr;  // the reused block
  size_t kept_size = 0;
  size_t payload = 0;    // bytes of records of the last reply

  // One call: the request, the header, then the records straight into their block.
  void Call() {
    SendAll(request.bytes.data(), request.bytes.size());
    uint32_t length;
    RecvAll(&length, 4);
    uint8_t head[12];  // echo, status, count
    RecvAll(head, 12);
    uint32_t count;
    std::memcpy(&count, head + 8, 4);
    size_t bytes = size_t(length) - 12;
    (void)count;
    void* block;
    if (alloc == Alloc::kReuse) {
      if (kept_size < bytes) {
        std::free(kept);
        kept = NewBlock(bytes, Alloc::kHuge);
        std::memset(kept, 0, bytes);
        kept_size = bytes;
      }
      block = kept;
    } else {
      block = NewBlock(bytes, alloc);
    }
    RecvAll(block, bytes);
    if (alloc != Alloc::kReuse) std::free(block);
    payload = bytes;
  }
};

long StatusKb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long value = -1;
  size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      value = std::strtol(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return value;
}

// Resets the peak resident size (VmHWM) to the current one.
bool ResetPeak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

void PrintTimes(const char* name, const std::vector<double>& times) {
  std::printf("\"%s\": [", name);
  for (size_t i = 0; i < times.size(); ++i) std::printf("%s%.9g", i ? ", " : "", times[i]);
  std::printf("]");
}

void Connect(const char* path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof(addr.sun_path)) Fail("socket path too long");
  std::strcpy(addr.sun_path, path);
  g_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (g_fd < 0 || connect(g_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) Fail("connect");
}

int Usage() {
  std::fprintf(stderr,
               "usage: floor_client SOCKET tick BATCHES PER_BATCH WARMUP\n"
               "       floor_client SOCKET rates|ticks|positions CALLS WARMUP huge|plain|reuse\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Usage();
  Connect(argv[1]);
  std::string what = argv[2];

  if (what == "tick") {
    int batches = std::atoi(argv[3]), per_batch = std::atoi(argv[4]), warmup = std::atoi(argv[5]);
    Request request = TickRequest();
    uint8_t reply[256];
    auto call = [&] {
      SendAll(request.bytes.data(), request.bytes.size());
      uint32_t length;
      RecvAll(&length, 4);
      if (length > sizeof reply) Fail("unexpected reply");
      RecvAll(reply, length);
    };
    for (int i = 0; i < warmup; ++i) call();
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
      double start = Now();
      for (int i = 0; i < per_batch; ++i) call();
      times.push_back((Now() - start) / per_batch);
    }
    std::printf("{");
    PrintTimes("times", times);
    std::printf("}\n");
    return 0;
  }

  int calls = std::atoi(argv[3]), warmup = std::atoi(argv[4]);
  std::string alloc_name = argv[5];
  Lister lister;
  if (what == "rates") lister.request = RatesRequest();
  else if (what == "ticks") lister.request = TicksRequest();
  else if (what == "positions") lister.request = PositionsRequest();
  else return Usage();
  if (alloc_name == "huge") lister.alloc = Alloc::kHuge;
  else if (alloc_name == "plain") lister.alloc = Alloc::kPlain;
  else if (alloc_name == "reuse") lister.alloc = Alloc::kReuse;
  else return Usage();

  double first = -1;
  for (int i = 0; i < warmup; ++i) {
    double start = Now();
    lister.Call();
    if (i == 0) first = Now() - start;
  }
  std::vector<double> times;
  for (int i = 0; i < calls; ++i) {
    double start = Now();
    lister.Call();
    times.push_back(Now() - start);
  }
  // Peak memory of one more call, from the resident size before it.
  long before = StatusKb("VmRSS");
  long growth = -1;
  if (ResetPeak()) {
    lister.Call();
    growth = (StatusKb("VmHWM") - before) * 1024;
  }
  std::printf("{");
  PrintTimes("times", times);
  std::printf(", \"first\": %.9g, \"payload\": %zu, \"peak_growth\": %ld}\n", first, lister.payload, growth);
  return 0;
}
