// Buffered writer and reader of one request and one reply on the client's
// pipe. Small fields pass through a 16384-byte buffer; blocks of 8192 bytes
// or more move straight between the pipe and their final storage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/client.h"

namespace brv::link {

constexpr uint32_t kDirectReadThreshold = 8192;

class PipeWriter {
 public:
  explicit PipeWriter(CInterClient& client) : client_(client), buffer_(client.write_buffer()) {}
  bool Write(const void* bytes, size_t n);
  bool Flush();

 private:
  bool WriteToPipe(const void* bytes, size_t n);

  CInterClient& client_;
  uint8_t* buffer_;
  uint32_t used_ = 0;
  uint32_t free_ = kBufferSize;
};

class PipeReader {
 public:
  explicit PipeReader(CInterClient& client) : client_(client), buffer_(client.read_buffer()) {}
  // Reads the reply's length field.
  bool Begin();
  bool Read(void* destination, size_t n);
  bool AtEnd() const { return available_ == 0 && remaining_ == 0; }
  // Bytes of the reply not consumed yet (buffered or still in the pipe).
  uint64_t Left() const { return uint64_t(available_) + remaining_; }
  // Still in the pipe, not yet read.
  uint32_t Remaining() const { return remaining_; }
  // True when a platform read failed (as opposed to a reply of the wrong size).
  bool TransportFailed() const { return transport_failed_; }
  // Reads and discards the rest of the reply.
  bool Discard();

 private:
  bool ReadFromPipe(void* destination, size_t n);

  CInterClient& client_;
  uint8_t* buffer_;
  uint32_t remaining_ = 0;
  uint32_t position_ = 0;
  uint32_t available_ = 0;
  bool transport_failed_ = false;
};

}  // namespace brv::link
