// The pipe writer over a real socket (a named pipe on Windows): a request larger
// than its buffer arrives complete and in order (no request of the module is that
// large; the reader's paths are covered by the Python tests).
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
  HANDLE server = CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 20, 1 << 20, 0,
                                   nullptr);
  link::CInterClient client;

  Loopback() {
    client.OpenPipe(reinterpret_cast<const char16_t*>(kPipe));
    ConnectNamedPipe(server, nullptr);  // fails with "connected": the client came first
  }
  ~Loopback() {
    client.Close();
    CloseHandle(server);
  }
  long ReadSome(uint8_t* to, size_t n) {
    DWORD r = 0;
    return ReadFile(server, to, DWORD(n), &r, nullptr) ? long(r) : -1;
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
  long ReadSome(uint8_t* to, size_t n) { return long(recv(server, to, n, 0)); }
};
#endif

// The first `n` bytes the server end receives (fewer when it is closed first).
std::vector<uint8_t> Receive(Loopback& loop, size_t n) {
  std::vector<uint8_t> out(n);
  size_t got = 0;
  while (got < n) {
    long r = loop.ReadSome(out.data() + got, n - got);
    if (r <= 0) break;
    got += size_t(r);
  }
  out.resize(got);
  return out;
}

}  // namespace

TEST(writer_moves_a_request_larger_than_its_buffer_in_order) {
  Loopback loop;
  CHECK(loop.client.IsOpen());
  std::vector<uint8_t> bytes(49100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 31 + i / 256);
  link::PipeWriter writer(loop.client);
  CHECK(writer.Write(bytes.data(), 100));
  CHECK(writer.Write(bytes.data() + 100, 40000));  // fills the buffer, then goes straight out
  CHECK(writer.Write(bytes.data() + 40100, 9000));
  CHECK(writer.Flush());
  CHECK(Receive(loop, bytes.size()) == bytes);
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
  CHECK(Receive(loop, 4) == std::vector<uint8_t>(request, request + 4));
}
#endif

#ifdef _WIN32
// A missing pipe is error 2, in the message "IPC initialize failed" carries (the
// read and write errors of a closed pipe are checked by the Python tests).
TEST(windows_missing_pipe_message) {
  link::CInterClient absent;
  CHECK(!absent.OpenPipe(u"\\\\.\\pipe\\BRV.Terminal.ABSENT"));
  CHECK(absent.message() == u"CreateFile failed [2]");
}
#endif
