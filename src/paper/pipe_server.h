// The named-pipe server of the paper terminal on Windows: a byte-mode pipe
// at the name the connector derives from this executable's path, one pipe
// instance and one thread per connected client.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "paper/protocol.h"

namespace brv::paper {

class PipeServer {
 public:
  // `stop` is a manual-reset event (a HANDLE); once set, Run returns.
  PipeServer(Terminal& terminal, void* stop) : terminal_(terminal), stop_(stop) {}
  ~PipeServer();

  // Creates the first instance; fails with 3 when another server already
  // has the name, 2 on any other failure, 0 on success.
  int Listen(const std::u16string& name, std::string* error);
  // Serves clients until the stop event is set; then ends every connection.
  void Run();

 private:
  struct Client {
    void* pipe;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void* NewInstance(bool first);
  void Serve(void* pipe, std::shared_ptr<std::atomic<bool>> done);
  void Reap(bool all);

  Terminal& terminal_;
  void* stop_;
  std::u16string name_;
  void* listening_ = nullptr;  // the instance waiting for the next client
  std::vector<Client> clients_;
};

}  // namespace brv::paper
