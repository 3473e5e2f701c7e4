#include "bridge/unix_side.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "link/pipe_name.h"
#include "platform/platform.h"

namespace brv::bridge {
std::string SocketFor(const std::string& exe) {
  std::u16string path = platform::FromUtf8(exe);
  if (path.empty() || path.size() > link::kMaxPath) return std::string();
  uint8_t digest[32];
  if (!link::HashPath(platform::FinalPath(path, link::kMaxPath), digest)) return std::string();
  return platform::SocketPath(link::MakePipeName(digest), true);
}

int Listen(const std::string& socket_path, int* listen_fd, std::string* error) {
  *listen_fd = -1;
  sockaddr_un addr;
  if (!platform::SocketAddress(socket_path, &addr)) {
    *error = "socket path too long: " + socket_path;
    return 2;
  }
  // Held until the process ends: the lock is the claim.
  std::string lock_path = socket_path + ".lock";
  int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd < 0) {
    *error = "cannot open " + lock_path + ": " + std::strerror(errno);
    return 2;
  }
  struct stat st;
  if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0 ||
      (lstat(socket_path.c_str(), &st) == 0 && platform::SocketAnswers(socket_path))) {
    close(lock_fd);
    *error = "another process serves " + socket_path;
    return 3;
  }
  unlink(socket_path.c_str());  // stale, if there: nobody answers on it
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    close(lock_fd);
    return 2;
  }
  mode_t old = umask(0077);
  int rc = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  umask(old);
  if (rc != 0 || listen(fd, 64) != 0) {
    *error = "cannot serve " + socket_path + ": " + std::strerror(errno);
    close(fd);
    close(lock_fd);
    return 2;
  }
  *listen_fd = fd;
  return 0;
}

void RemoveSocket(const std::string& socket_path) { unlink(socket_path.c_str()); }

int AcceptClient(int listen_fd) {
  for (;;) {
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
        if (errno == EMFILE || errno == ENFILE) usleep(100000);
        continue;
      }
      return -1;
    }
    struct ucred cred {};
    socklen_t len = sizeof(cred);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid()) return fd;
    close(fd);  // another user's process: not one of ours to serve
  }
}

long Receive(int fd, void* data, size_t n) {
  for (;;) {
    ssize_t got = recv(fd, data, n, 0);
    if (got >= 0) return long(got);
    if (errno != EINTR) return -1;
  }
}

bool SendAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
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

void EndSocket(int fd) { shutdown(fd, SHUT_RDWR); }

void CloseSocket(int fd) { close(fd); }

}  // namespace brv::bridge
