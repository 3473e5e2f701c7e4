// The socket server: one listening Unix socket at the name the connector
// derives from this executable's path, one thread per connected client.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "paper/protocol.h"

namespace brv::paper {

// Takes the instance lock beside the socket and clears a stale socket file.
// Returns 0 on success, 3 when another instance serves (or is starting to
// serve) the socket, 2 on any other failure; `lock_fd` stays open for the
// life of the process.
int ClaimSocket(const std::string& socket_path, int* lock_fd, std::string* error);

class Server {
 public:
  explicit Server(Terminal& terminal) : terminal_(terminal) {}
  ~Server();

  bool Listen(const std::string& socket_path, std::string* error);
  // Serves until `stop_fd` becomes readable; then closes every connection.
  void Run(int stop_fd);

 private:
  struct Client {
    int fd;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  // Starts serving an accepted connection, or refuses it.
  void Admit(int fd);
  void Serve(int fd, std::shared_ptr<std::atomic<bool>> done);
  void Reap(bool all);

  Terminal& terminal_;
  int listen_fd_ = -1;
  std::string path_;
  std::vector<Client> clients_;
};

}  // namespace brv::paper
