#include "paper/server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "paper/serve.h"

namespace brv::paper {
namespace {

bool ReadAll(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t got = recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= size_t(got);
  }
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  size_t n = data.size();
  while (n > 0) {
    ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    p += sent;
    n -= size_t(sent);
  }
  return true;
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Whether something accepts connections on the socket file.
bool Answers(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

}  // namespace

int ClaimSocket(const std::string& socket_path, int* lock_fd, std::string* error) {
  std::string lock_path = socket_path + ".lock";
  *lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (*lock_fd < 0) {
    *error = "cannot open " + lock_path + ": " + std::strerror(errno);
    return 2;
  }
  if (flock(*lock_fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "another paper terminal serves " + socket_path;
    return 3;
  }
  struct stat st;
  if (lstat(socket_path.c_str(), &st) == 0) {
    if (Answers(socket_path)) {
      *error = "another terminal serves " + socket_path;
      return 3;
    }
    unlink(socket_path.c_str());  // stale: nobody answers on it
  }
  return 0;
}

Server::~Server() {
  Reap(true);
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool Server::Listen(const std::string& socket_path, std::string* error) {
  sockaddr_un addr;
  if (!FillAddress(socket_path, &addr)) {
    *error = "socket path too long: " + socket_path;
    return false;
  }
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  mode_t old = umask(0077);
  int rc = bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  umask(old);
  if (rc != 0 || listen(listen_fd_, 64) != 0) {
    *error = "cannot serve " + socket_path + ": " + std::strerror(errno);
    return false;
  }
  path_ = socket_path;
  return true;
}

void Server::Run(int stop_fd) {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    int rc = poll(fds, 2, 1000);
    if (rc < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    Reap(false);
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      auto done = std::make_shared<std::atomic<bool>>(false);
      clients_.push_back(Client{fd, std::thread(&Server::Serve, this, fd, done), done});
    }
  }
  // Stop taking connections, then end the ones there are.
  close(listen_fd_);
  listen_fd_ = -1;
  unlink(path_.c_str());
  Reap(true);
}

void Server::Reap(bool all) {
  for (size_t i = 0; i < clients_.size();) {
    Client& c = clients_[i];
    if (all && !c.done->load()) shutdown(c.fd, SHUT_RDWR);
    if (all || c.done->load()) {
      c.thread.join();
      close(c.fd);
      clients_.erase(clients_.begin() + long(i));
    } else {
      ++i;
    }
  }
}

void Server::Serve(int fd, std::shared_ptr<std::atomic<bool>> done) {
  ServeClient(
      terminal_, [fd](void* data, size_t n) { return ReadAll(fd, data, n); },
      [fd](const std::string& reply) { return WriteAll(fd, reply); });
  shutdown(fd, SHUT_RDWR);
  done->store(true);
}

}  // namespace brv::paper
