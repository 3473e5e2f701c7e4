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
#include <system_error>

#include "paper/limits.h"
#include "paper/serve.h"
#include "platform/platform.h"

namespace brv::paper {
namespace {

// Waits until the descriptor is ready for `events`; false after the idle
// timeout or on an error.
bool Wait(int fd, short events) {
  pollfd p = {fd, events, 0};
  for (;;) {
    int rc = poll(&p, 1, kIdleTimeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0;
  }
}

bool ReadAll(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    if (!Wait(fd, POLLIN)) return false;
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
    if (!Wait(fd, POLLOUT)) return false;
    ssize_t sent = send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    p += sent;
    n -= size_t(sent);
  }
  return true;
}

}  // namespace

int ClaimSocket(const std::string& socket_path, int* lock_fd, std::string* error) {
  // The folder of the socket is trusted only if it is the user's and closed
  // to others: anyone else who could write there could take the name.
  std::string folder = socket_path.substr(0, socket_path.find_last_of('/'));
  struct stat dir;
  if (lstat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode) || dir.st_uid != geteuid() ||
      (dir.st_mode & 077) != 0) {
    *error = "the socket folder " + folder + " must be a folder of this user closed to others (mode 0700)";
    return 2;
  }
  std::string lock_path = socket_path + ".lock";
  *lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
    if (platform::SocketAnswers(socket_path)) {
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
  if (!platform::SocketAddress(socket_path, &addr)) {
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
  // A descriptor kept in reserve: when none is left, it is given up to take
  // the waiting connection off the queue and close it, instead of polling a
  // listening socket that stays readable (a loop at full speed).
  int spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
  bool backoff = false;
  for (;;) {
    pollfd fds[2] = {{listen_fd_, short(backoff ? 0 : POLLIN), 0}, {stop_fd, POLLIN, 0}};
    int rc = poll(fds, 2, backoff ? kAcceptBackoffMs : 1000);
    if (rc < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    backoff = false;
    Reap(false);
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          std::string why = std::strerror(errno);
          if (spare >= 0) {
            close(spare);
            spare = -1;
            int dropped = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (dropped >= 0) close(dropped);
          }
          terminal_.Log("connection refused: " + why);  // the log needs a descriptor too
          if (spare < 0) spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
          backoff = true;
        }
        continue;
      }
      Admit(fd);
    }
  }
  if (spare >= 0) close(spare);
  // Stop taking connections, then end the ones there are.
  close(listen_fd_);
  listen_fd_ = -1;
  unlink(path_.c_str());
  Reap(true);
}

void Server::Admit(int fd) {
  // Only clients of this user: another user's is refused before anything is read.
  struct ucred cred{};
  socklen_t len = sizeof(cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
    terminal_.Log("connection refused: client of user " + std::to_string(cred.uid) + ", pid " +
                  std::to_string(cred.pid));
    close(fd);
    return;
  }
  if (clients_.size() >= kMaxConnections) {
    terminal_.Log("connection refused: " + std::to_string(kMaxConnections) + " connections already");
    close(fd);
    return;
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    clients_.push_back(Client{fd, std::thread(&Server::Serve, this, fd, done), done});
  } catch (const std::exception& e) {  // no thread (or no memory) for it: this connection only
    terminal_.Log(std::string("connection refused: ") + e.what());
    close(fd);
  }
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
