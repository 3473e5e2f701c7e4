// The pipe writer and reader over a real socket: a request larger than the
// buffer arrives complete and in order, and replies are taken in the
// buffered and direct paths exactly as laid out.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "link/client.h"
#include "link/wire.h"
#include "platform/platform.h"

using namespace brv;

namespace {

// A listening socket at the name derived for `name`, and the client
// connected to it.
struct Loopback {
  int listener = -1;
  int server = -1;
  link::CInterClient client;

  Loopback() {
    static std::string dir;
    if (dir.empty()) {
      char tmpl[] = "/tmp/brv-unit-XXXXXX";
      dir = mkdtemp(tmpl);
      setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    const std::u16string name = u"\\\\.\\pipe\\BRV.Terminal.UNIT";
    std::string path = platform::SocketPath(name, true);
    unlink(path.c_str());
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(listener, 4);
    client.OpenPipe(name);
    server = accept(listener, nullptr, nullptr);
  }
  ~Loopback() {
    close(server);
    close(listener);
  }
  std::vector<uint8_t> Receive(size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = recv(server, out.data() + got, n - got, 0);
      if (r <= 0) break;
      got += size_t(r);
    }
    out.resize(got);
    return out;
  }
  void Send(const std::vector<uint8_t>& bytes) { send(server, bytes.data(), bytes.size(), 0); }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed);
  return v;
}

std::vector<uint8_t> Reply(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(4);
  uint32_t n = uint32_t(body.size());
  std::memcpy(out.data(), &n, 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

TEST(writer_moves_a_request_larger_than_its_buffer_in_order) {
  Loopback loop;
  CHECK(loop.client.IsOpen());
  std::vector<uint8_t> small = Pattern(100, 1), huge = Pattern(40000, 2), tail = Pattern(9000, 3);
  link::PipeWriter writer(loop.client);
  CHECK(writer.Write(small.data(), small.size()));
  CHECK(writer.Write(huge.data(), huge.size()));  // fills the buffer, then goes straight out
  CHECK(writer.Write(tail.data(), tail.size()));
  CHECK(writer.Flush());
  std::vector<uint8_t> expected = small;
  expected.insert(expected.end(), huge.begin(), huge.end());
  expected.insert(expected.end(), tail.begin(), tail.end());
  CHECK(loop.Receive(expected.size()) == expected);
}

TEST(reader_takes_small_fields_and_large_blocks) {
  Loopback loop;
  std::vector<uint8_t> body = Pattern(8 + 30000 + 5, 7);
  loop.Send(Reply(body));
  link::PipeReader reader(loop.client);
  CHECK(reader.Begin());
  uint8_t head[8];
  std::vector<uint8_t> block(30000);
  uint8_t rest[5];
  CHECK(reader.Read(head, 8));
  CHECK(reader.Read(block.data(), block.size()));  // past the buffered part, then direct
  CHECK(reader.Read(rest, 5));
  CHECK(reader.AtEnd());
  CHECK(std::memcmp(head, body.data(), 8) == 0);
  CHECK(std::memcmp(block.data(), body.data() + 8, 30000) == 0);
  CHECK(std::memcmp(rest, body.data() + 30008, 5) == 0);
}

TEST(reader_refuses_more_than_the_reply_holds_without_reading) {
  Loopback loop;
  loop.Send(Reply(Pattern(6, 9)));
  link::PipeReader reader(loop.client);
  CHECK(reader.Begin());
  uint8_t buf[16];
  CHECK(reader.Read(buf, 4));
  CHECK(!reader.Read(buf, 8));  // only 2 bytes are left
  CHECK(!reader.TransportFailed());
  CHECK(loop.client.IsOpen());
}

TEST(a_closed_peer_marks_the_client_closed) {
  Loopback loop;
  close(loop.server);
  loop.server = -1;
  link::PipeReader reader(loop.client);
  CHECK(!reader.Begin());
  CHECK(reader.TransportFailed());
  CHECK(!loop.client.IsOpen());
}
