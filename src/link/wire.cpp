#include "link/wire.h"

#include <algorithm>
#include <cstring>

namespace brv::link {
namespace {

// A broken pipe, or an exchange cut short by an interrupt (its state on the
// pipe is unknown), closes the client; other errors leave it open.
void AfterFailure(CInterClient& client, uint32_t error) {
  if (error == platform::kErrorBrokenPipe || error == platform::kErrorInterrupted) client.MarkClosed();
}

}  // namespace

bool PipeWriter::WriteToPipe(const void* bytes, size_t n) {
  uint32_t error = 0;
  if (platform::WritePipe(client_.handle(), bytes, n, &error)) return true;
  AfterFailure(client_, error);
  return false;
}

bool PipeWriter::Write(const void* bytes, size_t n) {
  if (n == 0) return true;  // an empty piece may come without storage
  const uint8_t* src = static_cast<const uint8_t*>(bytes);
  if (n <= free_) {
    std::memcpy(buffer_ + used_, src, n);
    used_ += uint32_t(n);
    free_ -= uint32_t(n);
    return true;
  }
  if (free_ > 0) {
    std::memcpy(buffer_ + used_, src, free_);
    src += free_;
    n -= free_;
  }
  used_ = 0;
  free_ = kBufferSize;
  if (!WriteToPipe(buffer_, kBufferSize)) return false;
  if (n <= kBufferSize) {
    std::memcpy(buffer_, src, n);
    used_ = uint32_t(n);
    free_ = kBufferSize - used_;
    return true;
  }
  return WriteToPipe(src, n);
}

bool PipeWriter::Flush() {
  if (used_ == 0) return true;
  bool ok = WriteToPipe(buffer_, used_);
  used_ = 0;
  free_ = kBufferSize;
  return ok;
}

bool PipeReader::ReadFromPipe(void* destination, size_t n) {
  uint32_t error = 0;
  if (platform::ReadPipe(client_.handle(), destination, n, &error)) return true;
  transport_failed_ = true;
  AfterFailure(client_, error);
  return false;
}

bool PipeReader::Begin() {
  remaining_ = 0;
  position_ = 0;
  available_ = 0;
  uint8_t length[4];
  if (!ReadFromPipe(length, 4)) return false;
  remaining_ = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
               uint32_t(length[3]) << 24;
  return true;
}

bool PipeReader::Read(void* destination, size_t n) {
  if (n == 0) return true;  // an empty text has no storage to copy into
  uint8_t* dst = static_cast<uint8_t*>(destination);
  if (n <= available_) {
    std::memcpy(dst, buffer_ + position_, n);
    position_ += uint32_t(n);
    available_ -= uint32_t(n);
    return true;
  }
  if (available_ > 0) {
    std::memcpy(dst, buffer_ + position_, available_);
    dst += available_;
    n -= available_;
  }
  available_ = 0;
  position_ = 0;
  if (n > remaining_) return false;  // the reply is shorter than what is read
  if (n < kDirectReadThreshold && n != remaining_) {
    uint32_t chunk = std::min<uint32_t>(remaining_, kBufferSize);
    if (!ReadFromPipe(buffer_, chunk)) return false;
    std::memcpy(dst, buffer_, n);
    position_ = uint32_t(n);
    available_ = chunk - uint32_t(n);
    remaining_ -= chunk;
    return true;
  }
  if (!ReadFromPipe(dst, n)) return false;
  remaining_ -= uint32_t(n);
  return true;
}

bool PipeReader::Discard() {
  available_ = 0;
  position_ = 0;
  while (remaining_ > 0) {
    uint32_t chunk = std::min<uint32_t>(remaining_, kBufferSize);
    if (!ReadFromPipe(buffer_, chunk)) return false;
    remaining_ -= chunk;
  }
  return true;
}

}  // namespace brv::link
