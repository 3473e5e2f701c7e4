#include "link/call.h"

#include <cstdlib>

#include "link/result.h"
#include "platform/platform.h"

namespace brv::link {
namespace {

// A reply that failed its checks is read to its end when what is left is of
// a plausible size, so the next exchange starts in step; beyond that the
// connection is closed rather than reading without end.
constexpr uint32_t kMaxDrain = 16u << 20;

void* PlainAllocate(size_t bytes) {
  void* data = std::malloc(bytes == 0 ? 1 : bytes);
  platform::AdviseLargeBlock(data, bytes);
  return data;
}
void PlainRelease(void* data) { std::free(data); }

}  // namespace

const Allocator kPlainAllocator = {PlainAllocate, PlainRelease};

Body& Body::Add(const void* external, uint32_t offset, uint32_t n) {
  if (count_ == kMaxPieces) {
    overflow_ = true;
    return *this;
  }
  pieces_[count_++] = Piece{external, offset, n};
  size_ += n;
  return *this;
}

Body& Body::Scalar(const void* v, uint32_t n) {
  if (scalars_used_ + n > kScalarBytes) {
    overflow_ = true;
    return *this;
  }
  std::memcpy(scalars_ + scalars_used_, v, n);
  scalars_used_ += n;
  return Add(nullptr, scalars_used_ - n, n);
}

Body& Body::Text(const char16_t* units, size_t capacity) {
  uint32_t n = 0;
  if (units != nullptr) {
    while (n < capacity && units[n] != 0) ++n;
  }
  U32(n);
  return n == 0 ? *this : Add(units, 0, n * 2);
}

Body& Body::Bytes(const void* data, size_t n) { return Add(data, 0, uint32_t(n)); }

bool Body::WriteTo(PipeWriter& writer) const {
  if (overflow_) return false;
  for (int i = 0; i < count_; ++i) {
    const Piece& p = pieces_[i];
    const void* bytes = p.external != nullptr ? p.external : scalars_ + p.offset;
    if (!writer.Write(bytes, p.size)) return false;
  }
  return true;
}

void Block::Reset() {
  if (data_ != nullptr && allocator_.release != nullptr) allocator_.release(data_);
  data_ = nullptr;
  count_ = 0;
}

void Block::Assign(void* data, const Allocator& allocator, uint32_t count) {
  Reset();
  data_ = data;
  allocator_ = allocator;
  count_ = count;
}

bool ReadRecordList(PipeReader& reader, uint32_t record_size, const Allocator& allocator, Block* out) {
  out->Reset();
  uint32_t count = 0;
  if (!reader.Read(&count, 4)) return false;
  uint64_t bytes = uint64_t(count) * record_size;
  // A hostile count must not cause an allocation the reply cannot fill.
  if (bytes != reader.Left() || bytes > uint64_t(SIZE_MAX)) return false;  // SIZE_MAX: 32-bit hosts
  void* data = allocator.allocate(size_t(bytes));
  if (data == nullptr) return false;
  // Held by the block at once, so that a failed read releases it.
  out->Assign(data, allocator, 0);
  if (!reader.Read(data, size_t(bytes))) {
    out->Reset();
    return false;
  }
  out->Assign(out->Take(), allocator, count);
  return true;
}

int32_t CallCycle(uint32_t command, const Body& body, PayloadReader payload, void* context) {
  CInterClient& client = g_client;
  if (!client.IsOpen()) return kNoIpcConnection;
  {
    PipeWriter writer(client);
    uint32_t header[2] = {4 + body.Size(), command};
    if (!writer.Write(header, sizeof(header)) || !body.WriteTo(writer) || !writer.Flush()) {
      return kIpcSendFailed;
    }
  }
  uint32_t echo = 0;
  int32_t status = 0;
  PipeReader reader(client);
  bool ok = reader.Begin() && reader.Read(&echo, 4) && reader.Read(&status, 4) &&
            payload(reader, context) && reader.AtEnd();
  if (!ok) {
    if (client.IsOpen() && !reader.TransportFailed()) {
      if (reader.Remaining() > kMaxDrain || !reader.Discard()) client.MarkClosed();
    }
    return status < 0 ? status : kIpcRecvFailed;
  }
  return echo == command ? status : kIpcCallFailed;
}

int32_t CallStatus(uint32_t command, const Body& body) {
  return CallCycle(command, body, [](PipeReader&, void*) { return true; }, nullptr);
}

int32_t CallValue(uint32_t command, const Body& body, uint32_t* value) {
  *value = 0;
  return Call(command, body, [value](PipeReader& r) { return r.Read(value, 4); });
}

int32_t CallRecord(uint32_t command, const Body& body, void* record, uint32_t size) {
  return Call(command, body, [record, size](PipeReader& r) { return r.Read(record, size); });
}

int32_t CallList(uint32_t command, const Body& body, uint32_t record_size, const Allocator& allocator,
                 Block* out) {
  return Call(command, body, [&](PipeReader& r) { return ReadRecordList(r, record_size, allocator, out); });
}

}  // namespace brv::link
