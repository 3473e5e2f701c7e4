// brv-bridge: lets native Linux clients reach a terminal that runs under
// Wine. A native process cannot open a Wine program's named pipe (it lives
// inside wineserver), so this Winelib program, running in the terminal's Wine
// prefix, listens on the Unix socket that native clients derive from the
// executable's Linux path and, for each client, opens the terminal's named
// pipe and relays bytes both ways. A close on either side closes the other,
// so a client sees a terminal that goes away exactly as on a direct
// connection.
//
// Usage: wine brv-bridge.exe.so <Linux path of terminal64.exe>
// It waits up to two minutes for the terminal's pipe, serves while the pipe
// exists and removes its socket and exits once the pipe has gone.
// Exit status: 0 after the terminal has gone, 2 when it cannot serve, 3 when
// the terminal's pipe never appeared.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bridge/unix_side.h"
#include "link/pipe_name.h"
#include "platform/platform.h"

namespace {

using brv::bridge::CloseSocket;
using brv::bridge::EndSocket;
using brv::bridge::Receive;
using brv::bridge::SendAll;

constexpr DWORD kWaitForTerminalMs = 120000;
constexpr DWORD kPollMs = 250;
constexpr ULONGLONG kBusyWaitMs = 10000;
constexpr DWORD kGoneChecks = 2;     // consecutive absences that mean the terminal has gone
constexpr DWORD kRelayBytes = 1 << 20;

// Not std::wstring: winegcc's wchar_t has 16 bits, the C++ library's 32.
std::u16string g_pipe_name;
std::string g_socket_path;

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "brv-bridge: %s\n", message.c_str());
  return code;
}

// The pipe the terminal serves, named as the Windows connector names it: the
// SHA-256 of the system's final path of the executable, lower-cased by the
// system.
bool TerminalPipeName(const std::string& unix_path, std::u16string* name) {
  WCHAR* dos = wine_get_dos_file_name(unix_path.c_str());
  if (dos == nullptr) return false;
  std::u16string final_path(reinterpret_cast<const char16_t*>(dos));
  HeapFree(GetProcessHeap(), 0, dos);
  HANDLE file = CreateFileW(W(final_path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    std::u16string resolved(brv::link::kMaxPath, u'\0');
    DWORD n = GetFinalPathNameByHandleW(file, reinterpret_cast<wchar_t*>(&resolved[0]), DWORD(resolved.size()), 0);
    CloseHandle(file);
    if (n > 0 && n < resolved.size()) final_path = resolved.substr(0, n);
  }
  if (final_path.size() > brv::link::kMaxPath) final_path.resize(brv::link::kMaxPath);
  if (!final_path.empty()) CharLowerBuffW(reinterpret_cast<wchar_t*>(&final_path[0]), DWORD(final_path.size()));
  std::string bytes;
  for (char16_t u : final_path) {
    bytes += char(u & 0xFF);
    bytes += char(u >> 8);
  }
  uint8_t digest[32];
  if (!brv::platform::Sha256(bytes.data(), bytes.size(), digest)) return false;
  *name = brv::link::MakePipeName(digest);
  return true;
}

// Whether the terminal serves its pipe, without taking an instance: the wait
// fails with "file not found" only when no instance exists at all.
bool PipeExists() {
  if (WaitNamedPipeW(W(g_pipe_name), 1)) return true;
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Opens an instance of the terminal's pipe for one client. While every
// instance is taken (the terminal offers the next one a moment after a
// client took the last), it waits, as the connector would, up to a bound.
HANDLE OpenTerminalPipe() {
  const ULONGLONG deadline = GetTickCount64() + kBusyWaitMs;
  for (;;) {
    HANDLE pipe = CreateFileW(W(g_pipe_name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() > deadline) return INVALID_HANDLE_VALUE;
    // The wait may return at once when no instance listens yet.
    if (!WaitNamedPipeW(W(g_pipe_name), kPollMs)) Sleep(5);
  }
}

// One overlapped transfer on the pipe, with its own buffer. Wine hands pipe
// transfers only buffers of the Windows address space, not those of the
// Linux allocator.
struct Transfer {
  char* data = static_cast<char*>(VirtualAlloc(nullptr, kRelayBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  OVERLAPPED ov{};
  bool pending = false;

  Transfer() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~Transfer() {
    if (data != nullptr) VirtualFree(data, 0, MEM_RELEASE);
    if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool usable() const { return data != nullptr && ov.hEvent != nullptr; }
  // Start reading up to a buffer's worth, or writing n bytes; false when the
  // pipe failed at once.
  bool StartRead(HANDLE pipe) { return Started(ReadFile(pipe, data, kRelayBytes, nullptr, Reset())); }
  bool StartWrite(HANDLE pipe, DWORD n) { return Started(WriteFile(pipe, data, n, nullptr, Reset())); }
  // Waits for the started transfer and gives its byte count; -1 when the pipe
  // failed, or when `stop` was set first (the transfer is then cancelled).
  long Finish(HANDLE pipe, HANDLE stop) {
    pending = false;
    DWORD moved = 0;
    if (stop != nullptr) {
      HANDLE events[2] = {ov.hEvent, stop};
      if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &ov);
        GetOverlappedResult(pipe, &ov, &moved, TRUE);
        return -1;
      }
    }
    return GetOverlappedResult(pipe, &ov, &moved, TRUE) ? long(moved) : -1;
  }
  void Cancel(HANDLE pipe) {
    if (!pending) return;
    CancelIoEx(pipe, &ov);
    DWORD moved = 0;
    GetOverlappedResult(pipe, &ov, &moved, TRUE);
    pending = false;
  }

 private:
  OVERLAPPED* Reset() {
    ResetEvent(ov.hEvent);
    return &ov;
  }
  bool Started(BOOL done) {
    pending = done || GetLastError() == ERROR_IO_PENDING;
    return pending;
  }
};

struct Relay {
  int client = -1;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE stop = nullptr;  // set when the client side has ended
};

// Terminal to client, reading the next chunk from the pipe while the last
// one goes to the socket. Ends the client's socket when the pipe ends, which
// also wakes the other direction.
DWORD WINAPI PipeToClient(void* arg) {
  Relay* relay = static_cast<Relay*>(arg);
  Transfer chunks[2];
  int current = 0;
  bool reading = chunks[0].usable() && chunks[1].usable() && chunks[0].StartRead(relay->pipe);
  while (reading) {
    long got = chunks[current].Finish(relay->pipe, relay->stop);
    if (got <= 0) break;
    reading = chunks[current ^ 1].StartRead(relay->pipe);
    if (!SendAll(relay->client, chunks[current].data, size_t(got))) break;
    current ^= 1;
  }
  chunks[0].Cancel(relay->pipe);
  chunks[1].Cancel(relay->pipe);
  EndSocket(relay->client);
  return 0;
}

// Client to terminal, on the client's own thread; closes both ends when
// either has ended.
DWORD WINAPI ServeClient(void* arg) {
  std::unique_ptr<Relay> relay(static_cast<Relay*>(arg));
  relay->pipe = OpenTerminalPipe();
  if (relay->pipe == INVALID_HANDLE_VALUE) {
    CloseSocket(relay->client);
    return 0;
  }
  relay->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE reader = relay->stop != nullptr ? CreateThread(nullptr, 0, PipeToClient, relay.get(), 0, nullptr) : nullptr;
  if (reader != nullptr) {
    Transfer chunk;
    while (chunk.usable()) {
      long got = Receive(relay->client, chunk.data, kRelayBytes);
      if (got <= 0 || !chunk.StartWrite(relay->pipe, DWORD(got)) || chunk.Finish(relay->pipe, nullptr) != got) break;
    }
    SetEvent(relay->stop);
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
  }
  CloseHandle(relay->pipe);
  if (relay->stop != nullptr) CloseHandle(relay->stop);
  CloseSocket(relay->client);
  return 0;
}

// Once the terminal's pipe has gone, no client can be served any more: the
// socket goes with it, so that the next connect finds no socket and starts
// the terminal again.
DWORD WINAPI WatchTerminal(void*) {
  DWORD absent = 0;
  for (;;) {
    Sleep(kPollMs);
    absent = PipeExists() ? 0 : absent + 1;
    if (absent >= kGoneChecks) {
      brv::bridge::RemoveSocket(g_socket_path);
      ExitProcess(0);
    }
  }
}

}  // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return Fail(2, "usage: brv-bridge <Linux path of terminal64.exe>");
  // Back to the bytes of the Linux path as it was given.
  int n = WideCharToMultiByte(CP_UNIXCP, 0, argv[1], -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return Fail(2, "bad path argument");
  std::string exe(size_t(n), '\0');
  WideCharToMultiByte(CP_UNIXCP, 0, argv[1], -1, &exe[0], n, nullptr, nullptr);
  exe.resize(size_t(n - 1));

  g_socket_path = brv::bridge::SocketFor(exe);
  if (g_socket_path.empty()) return Fail(2, "no usable socket for " + exe);
  if (!TerminalPipeName(exe, &g_pipe_name)) return Fail(2, "cannot name the pipe of " + exe);

  // Serve only once the terminal does, so that a client finding the socket
  // finds the terminal behind it. A bridge that is still leaving (its
  // terminal gone) holds the claim for a moment: wait for it.
  int listen_fd = -1;
  std::string error;
  DWORD waited = 0;
  for (;;) {
    int claimed = PipeExists() ? brv::bridge::Listen(g_socket_path, &listen_fd, &error) : 3;
    if (claimed == 0) break;
    if (claimed == 2) return Fail(2, error);
    if (waited >= kWaitForTerminalMs) {
      return Fail(3, error.empty() ? "the terminal's pipe did not appear" : error);
    }
    Sleep(kPollMs);
    waited += kPollMs;
  }

  HANDLE watcher = CreateThread(nullptr, 0, WatchTerminal, nullptr, 0, nullptr);
  if (watcher == nullptr) {
    brv::bridge::RemoveSocket(g_socket_path);
    return Fail(2, "cannot watch the terminal");
  }
  for (;;) {
    int client = brv::bridge::AcceptClient(listen_fd);
    if (client < 0) break;
    Relay* relay = new Relay;
    relay->client = client;
    HANDLE thread = CreateThread(nullptr, 0, ServeClient, relay, 0, nullptr);
    if (thread == nullptr) {
      CloseSocket(client);
      delete relay;
      continue;
    }
    CloseHandle(thread);
  }
  brv::bridge::RemoveSocket(g_socket_path);
  return Fail(2, "the socket failed");
}
