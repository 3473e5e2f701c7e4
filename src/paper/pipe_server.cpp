#include "paper/pipe_server.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "paper/serve.h"

namespace brv::paper {
namespace {

constexpr DWORD kBufferBytes = 64 * 1024;

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

// One overlapped transfer, waited for together with the stop event: a
// server that stops does not wait for a client that sends nothing.
bool Transfer(HANDLE pipe, HANDLE stop, bool write, void* data, DWORD n, DWORD* moved) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return false;
  BOOL ok = write ? WriteFile(pipe, data, n, nullptr, &ov) : ReadFile(pipe, data, n, nullptr, &ov);
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    HANDLE events[2] = {ov.hEvent, stop};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) CancelIoEx(pipe, &ov);
    ok = GetOverlappedResult(pipe, &ov, moved, TRUE);
  } else if (ok) {
    ok = GetOverlappedResult(pipe, &ov, moved, FALSE);
  }
  CloseHandle(ov.hEvent);
  return ok && *moved > 0;
}

bool ReadAll(HANDLE pipe, HANDLE stop, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    DWORD got = 0;
    if (!Transfer(pipe, stop, false, p, DWORD(n), &got)) return false;
    p += got;
    n -= got;
  }
  return true;
}

bool WriteAll(HANDLE pipe, HANDLE stop, const std::string& data) {
  const char* p = data.data();
  size_t n = data.size();
  while (n > 0) {
    DWORD sent = 0;
    if (!Transfer(pipe, stop, true, const_cast<char*>(p), DWORD(n), &sent)) return false;
    p += sent;
    n -= sent;
  }
  return true;
}

}  // namespace

PipeServer::~PipeServer() {
  Reap(true);
  if (listening_ != nullptr) CloseHandle(H(listening_));
}

void* PipeServer::NewInstance(bool first) {
  // Byte mode both ways; local clients only. The first instance claims the
  // name: it fails when another server already serves it.
  DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  HANDLE pipe = CreateNamedPipeW(reinterpret_cast<const wchar_t*>(name_.c_str()), open_mode,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, kBufferBytes, kBufferBytes, 0, nullptr);
  return pipe == INVALID_HANDLE_VALUE ? nullptr : pipe;
}

int PipeServer::Listen(const std::u16string& name, std::string* error) {
  name_ = name;
  listening_ = NewInstance(true);
  if (listening_ != nullptr) return 0;
  DWORD err = GetLastError();
  if (err == ERROR_ACCESS_DENIED || err == ERROR_PIPE_BUSY) {
    *error = "another terminal serves its pipe";
    return 3;
  }
  *error = "cannot create the pipe [" + std::to_string(err) + "]";
  return 2;
}

void PipeServer::Run() {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  while (listening_ != nullptr && ov.hEvent != nullptr) {
    ResetEvent(ov.hEvent);
    bool connected = ConnectNamedPipe(H(listening_), &ov) != FALSE;
    DWORD err = connected ? ERROR_SUCCESS : GetLastError();
    if (err == ERROR_PIPE_CONNECTED) {
      connected = true;  // the client came between creation and this call
    } else if (err == ERROR_IO_PENDING) {
      // Wake up now and then to join the threads of clients that left.
      HANDLE events[2] = {ov.hEvent, H(stop_)};
      DWORD woke;
      while ((woke = WaitForMultipleObjects(2, events, FALSE, 1000)) == WAIT_TIMEOUT) Reap(false);
      if (woke != WAIT_OBJECT_0) {
        CancelIoEx(H(listening_), &ov);
        DWORD ignored;
        GetOverlappedResult(H(listening_), &ov, &ignored, TRUE);
        break;
      }
      DWORD ignored;
      connected = GetOverlappedResult(H(listening_), &ov, &ignored, FALSE) != FALSE;
    }
    if (WaitForSingleObject(H(stop_), 0) == WAIT_OBJECT_0) break;
    Reap(false);
    if (connected) {
      // This instance now belongs to its client; the next one waits.
      void* pipe = listening_;
      auto done = std::make_shared<std::atomic<bool>>(false);
      clients_.push_back(Client{pipe, std::thread(&PipeServer::Serve, this, pipe, done), done});
      listening_ = NewInstance(false);
    } else {
      DisconnectNamedPipe(H(listening_));
    }
  }
  if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  // Stop taking connections, then end the ones there are.
  if (listening_ != nullptr) CloseHandle(H(listening_));
  listening_ = nullptr;
  Reap(true);
}

void PipeServer::Reap(bool all) {
  for (size_t i = 0; i < clients_.size();) {
    Client& c = clients_[i];
    if (all || c.done->load()) {
      // A client thread notices the stop event itself.
      c.thread.join();
      clients_.erase(clients_.begin() + long(i));
    } else {
      ++i;
    }
  }
}

void PipeServer::Serve(void* pipe, std::shared_ptr<std::atomic<bool>> done) {
  HANDLE h = H(pipe), stop = H(stop_);
  ServeClient(
      terminal_, [h, stop](void* data, size_t n) { return ReadAll(h, stop, data, n); },
      [h, stop](const std::string& reply) { return WriteAll(h, stop, reply); });
  // Closing the instance ends the pipe for the client (error 109).
  CloseHandle(h);
  done->store(true);
}

}  // namespace brv::paper
