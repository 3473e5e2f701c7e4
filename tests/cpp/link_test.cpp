// The pipe writer over a real socket (a named pipe on Windows): a request larger than its buffer
// arrives complete and in order (no request of the module is that large;
// the reader's buffered and direct paths are covered by the Python tests).
#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "link/client.h"
#include "link/wire.h"
#include "platform/platform.h"

using namespace brv;

#ifndef _WIN32
namespace {
// How many of the next connects report EINTR after the kernel took them up:
// what POSIX allows, where the connection then completes in the background
// and a second connect reports EISCONN or EALREADY.
int g_connects_interrupted = 0;
}  // namespace

// Stands in for the C library's connect in this test program.
extern "C" int connect(int fd, const sockaddr* addr, socklen_t len) {
  long rc = syscall(SYS_connect, fd, addr, len);
  if (rc == 0 && g_connects_interrupted > 0) {
    --g_connects_interrupted;
    errno = EINTR;
    return -1;
  }
  return int(rc);
}
#endif

namespace {

#ifdef _WIN32
const wchar_t kPipe[] = L"\\\\.\\pipe\\BRV.Terminal.UNIT";

// A pipe instance at a test name, and the client connected to it. The
// buffers hold the largest test message, so the writer never waits for a
// reader.
struct Loopback {
  HANDLE server = INVALID_HANDLE_VALUE;
  link::CInterClient client;

  Loopback() {
    server = CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 20, 1 << 20, 0,
                              nullptr);
    client.OpenPipe(reinterpret_cast<const char16_t*>(kPipe));
    ConnectNamedPipe(server, nullptr);  // fails with "connected": the client came first
  }
  ~Loopback() {
    client.Close();
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  }
  std::vector<uint8_t> Receive(size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
      DWORD r = 0;
      if (!ReadFile(server, out.data() + got, DWORD(n - got), &r, nullptr) || r == 0) break;
      got += r;
    }
    out.resize(got);
    return out;
  }
  void Send(const std::vector<uint8_t>& bytes) {
    DWORD sent = 0;
    WriteFile(server, bytes.data(), DWORD(bytes.size()), &sent, nullptr);
  }
};
#else
// A listening socket at the name derived for `name`, and the module's
// client connected to it.
struct Loopback {
  int listener = -1;
  int server = -1;
  link::CInterClient& client = link::g_client;

  Loopback() {
    char folder[] = "/tmp/brv-unit-XXXXXX";
    setenv("XDG_RUNTIME_DIR", mkdtemp(folder), 1);
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
    client.Close();
    if (server >= 0) close(server);
    close(listener);
    // The socket and its private folder go with the test.
    std::string path = platform::SocketPath(u"\\\\.\\pipe\\BRV.Terminal.UNIT", false);
    unlink(path.c_str());
    rmdir(getenv("XDG_RUNTIME_DIR"));
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
};
#endif

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed);
  return v;
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

#ifndef _WIN32
TEST(an_interrupted_connect_is_waited_for_not_repeated) {
  g_connects_interrupted = 1;
  Loopback loop;
  g_connects_interrupted = 0;
  CHECK(loop.client.IsOpen());
  const uint8_t request[4] = {1, 2, 3, 4};
  link::PipeWriter writer(loop.client);
  CHECK(writer.Write(request, 4) && writer.Flush());
  CHECK(loop.Receive(4) == std::vector<uint8_t>(request, request + 4));
}
#endif

#ifdef _WIN32
// The pipe's own error codes: a missing pipe is error 2; a read on a pipe
// whose server closed its end fails with 109, which closes the client,
// while a write there fails with 232 and leaves the handle to the caller.
TEST(windows_pipe_error_codes) {
  link::CInterClient absent;
  CHECK(!absent.OpenPipe(u"\\\\.\\pipe\\BRV.Terminal.ABSENT"));
  CHECK(absent.message() == u"CreateFile failed [2]");

  Loopback loop;
  CHECK(loop.client.IsOpen());
  loop.Send({4, 0, 0, 0, 1, 2, 3, 4});
  CloseHandle(loop.server);
  loop.server = INVALID_HANDLE_VALUE;
  uint32_t error = 0;
  uint8_t byte = 0;
  CHECK(!platform::WritePipe(loop.client.handle(), &byte, 1, &error));
  CHECK(error == 232);
  CHECK(loop.client.IsOpen());
  link::PipeReader reader(loop.client);
  CHECK(reader.Begin());  // what the server sent before it left is still read
  uint8_t body[4];
  CHECK(reader.Read(body, 4) && body[3] == 4);
  link::PipeReader after(loop.client);
  CHECK(!after.Begin());
  CHECK(!loop.client.IsOpen());
}
#endif
