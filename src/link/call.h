// The call cycle: every client operation writes one request (length,
// command, body fields) and reads one reply (length, echo, status, payload),
// and the outcome becomes one result code:
//   the status when the reply was read completely and echoes the command;
//   -10000 when it echoes another command;
//   the status when it is negative even though the reply was incomplete;
//   -10002 otherwise for a reply that could not be read as laid out;
//   -10001 when the request could not be written; -10004 without a pipe.
// A client operation therefore only states its command, its body fields and
// its reply layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "link/wire.h"

namespace brv::link {

// The body of a request: fields in order. Scalars are copied in; texts and
// blocks are referenced and must outlive the call.
class Body {
 public:
  Body& U8(uint8_t v) { return Scalar(&v, 1); }
  Body& U32(uint32_t v) { return Scalar(&v, 4); }
  Body& I32(int32_t v) { return Scalar(&v, 4); }
  Body& U64(uint64_t v) { return Scalar(&v, 8); }
  Body& I64(int64_t v) { return Scalar(&v, 8); }
  Body& F64(double v) { return Scalar(&v, 8); }
  // A string: u32 count of UTF-16 units up to the first NUL (at most
  // `capacity`), then the units.
  Body& Text(const char16_t* units, size_t capacity);
  template <class Field>
  Body& Text(const Field& field) {
    return Text(field.units, Field::kUnits);
  }
  Body& Bytes(const void* data, size_t n);

  uint32_t Size() const { return size_; }
  bool WriteTo(PipeWriter& writer) const;

 private:
  static constexpr int kMaxPieces = 16;
  static constexpr size_t kScalarBytes = 128;
  struct Piece {
    const void* external;  // null: the bytes are in scalars_ at `offset`
    uint32_t offset;
    uint32_t size;
  };
  Body& Scalar(const void* v, uint32_t n);  // host order is little-endian here
  Body& Add(const void* external, uint32_t offset, uint32_t n);

  Piece pieces_[kMaxPieces];
  int count_ = 0;
  uint8_t scalars_[kScalarBytes];
  uint32_t scalars_used_ = 0;
  uint32_t size_ = 0;
  bool overflow_ = false;
};

// Storage for the records of a list reply, from an allocation function that
// the caller chooses; released on destruction unless taken.
struct Allocator {
  void* (*allocate)(size_t bytes);
  void (*release)(void* data);
};
extern const Allocator kPlainAllocator;  // non-throwing heap allocation

class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { Reset(); }
  uint8_t* data() const { return static_cast<uint8_t*>(data_); }
  uint32_t count() const { return count_; }
  void Reset();
  // Releases the current storage and holds `data` (from `allocator`).
  void Assign(void* data, const Allocator& allocator, uint32_t count);
  // Hands the storage over; the caller releases it.
  void* Take() {
    void* d = data_;
    data_ = nullptr;
    return d;
  }

 private:
  void* data_ = nullptr;
  Allocator allocator_ = {nullptr, nullptr};  // held by value: callers may pass a temporary
  uint32_t count_ = 0;
};

// Reply layouts.
// A u32 count, then `count` records of `record_size` bytes into storage
// from `allocator`. The count must account for exactly the rest of the
// reply, checked before anything is allocated.
bool ReadRecordList(PipeReader& reader, uint32_t record_size, const Allocator& allocator, Block* out);

using PayloadReader = bool (*)(PipeReader& reader, void* context);
int32_t CallCycle(uint32_t command, const Body& body, PayloadReader payload, void* context);

// A reply with a payload read by `read(PipeReader&) -> bool`.
template <class Read>
int32_t Call(uint32_t command, const Body& body, Read&& read) {
  using R = std::remove_reference_t<Read>;
  return CallCycle(
      command, body, [](PipeReader& r, void* c) { return (*static_cast<R*>(c))(r); },
      const_cast<void*>(static_cast<const void*>(&read)));
}
// Status reply: no payload.
int32_t CallStatus(uint32_t command, const Body& body);
// Value reply: one u32.
int32_t CallValue(uint32_t command, const Body& body, uint32_t* value);
// Single record reply.
int32_t CallRecord(uint32_t command, const Body& body, void* record, uint32_t size);
// Record list reply.
int32_t CallList(uint32_t command, const Body& body, uint32_t record_size, const Allocator& allocator,
                 Block* out);

}  // namespace brv::link
