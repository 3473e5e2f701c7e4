// The one pipe client of the process: the open pipe to the terminal, the
// hash its name came from and the client's own description of its last
// failure. Also the terminal build number the last handshake reported.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace brv::link {

// Size of each of the pipe writer's and reader's buffers.
constexpr uint32_t kBufferSize = 16384;

class CInterClient {
 public:
  CInterClient() = default;
  ~CInterClient() { Close(); }
  CInterClient(const CInterClient&) = delete;
  CInterClient& operator=(const CInterClient&) = delete;

  // Connects to the terminal at `path`, starting it when its pipe is absent;
  // without a path, finds an installed terminal. Refuses when already open.
  bool Initialize(const std::u16string& path, bool portable);
  bool Connect(const std::u16string& path, bool portable);
  bool OpenPipe(const std::u16string& name);
  // Closes the pipe and clears the hash and the message.
  void Close();
  // A pipe that broke (or whose exchange was interrupted) is closed; the
  // hash and message stay.
  void MarkClosed();

  bool IsOpen() const { return handle_ != platform::kInvalidHandle; }
  platform::Handle handle() const { return handle_; }

  // The buffers of the writer and reader of the current exchange: one
  // exchange runs at a time (the module refuses a call made while another
  // runs), and 32 KiB stay off the stack of a call that a signal handler may
  // interrupt.
  uint8_t* write_buffer() { return write_buffer_; }
  uint8_t* read_buffer() { return read_buffer_; }

  const std::u16string& message() const { return message_; }
  // Replaces the message, cut to 2047 units.
  void SetMessage(std::u16string text);

 private:
  platform::Handle handle_ = platform::kInvalidHandle;
  uint8_t path_hash_[32] = {};
  std::u16string message_;
  uint8_t write_buffer_[kBufferSize];
  uint8_t read_buffer_[kBufferSize];
};

extern CInterClient g_client;
// 0 until the first successful handshake; survives Close.
extern uint32_t g_terminal_build;

// "%s"-style helpers for client messages.
std::u16string U16(const char* ascii);
std::u16string U16Number(uint32_t value);

}  // namespace brv::link
