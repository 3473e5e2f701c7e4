// Little-endian byte images for the wire: a reader for request bodies, and a
// fixed-size record writer and reader that take the fields of the record
// tables (link/records.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "link/records.h"

namespace brv::paper {

// Reads the fields of one request body in order; any read past the end marks
// the body malformed. Complete() also requires that nothing is left over.
class BodyReader {
 public:
  BodyReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8() { return uint8_t(Take(1)); }
  uint32_t U32() { return uint32_t(Take(4)); }
  int32_t I32() { return int32_t(U32()); }
  uint64_t U64() { return Take(8); }
  int64_t I64() { return int64_t(Take(8)); }
  double F64() {
    uint64_t bits = Take(8);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
  }
  // A string: u32 count of UTF-16 units, then the units.
  std::u16string Text(size_t max_units) {
    uint32_t n = U32();
    if (!ok_ || n > max_units || size_t(n) * 2 > size_ - pos_) {
      ok_ = false;
      return std::u16string();
    }
    std::u16string s(n, u'\0');
    for (uint32_t i = 0; i < n; ++i) s[i] = char16_t(data_[pos_ + 2 * i] | (data_[pos_ + 2 * i + 1] << 8));
    pos_ += size_t(n) * 2;
    return s;
  }
  // The next `size` bytes as one record, or null when fewer are left.
  const uint8_t* Record(size_t size) {
    if (!ok_ || size > size_ - pos_) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* record = data_ + pos_;
    pos_ += size;
    return record;
  }
  bool ok() const { return ok_; }
  bool Complete() const { return ok_ && pos_ == size_; }

 private:
  uint64_t Take(size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(data_[pos_ + i]) << (8 * i);
    pos_ += n;
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A zero-filled record of fixed size, written field by field at offsets.
class RecordWriter {
 public:
  explicit RecordWriter(size_t size) : bytes_(size, '\0') {}

  void U8(size_t off, uint8_t v) { Put(off, v, 1); }
  void Flag(size_t off, bool v) { Put(off, v ? 1 : 0, 1); }
  void U32(size_t off, uint32_t v) { Put(off, v, 4); }
  void I32(size_t off, int32_t v) { Put(off, uint32_t(v), 4); }
  void U64(size_t off, uint64_t v) { Put(off, v, 8); }
  void I64(size_t off, int64_t v) { Put(off, uint64_t(v), 8); }
  void F64(size_t off, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Put(off, bits, 8);
  }
  // A text field of `units` UTF-16 units: at most units - 1 characters and
  // the terminating NUL (the rest of the field stays zero).
  void Text(size_t off, size_t units, const std::u16string& s) {
    if (!Fits(off, 2 * units)) return;
    size_t n = s.size() < units ? s.size() : units - 1;
    for (size_t i = 0; i < n; ++i) Put(off + 2 * i, s[i], 2);
  }
  void Text(size_t off, size_t units, const char* ascii) {
    std::u16string s;
    for (const char* p = ascii; *p; ++p) s += char16_t(static_cast<unsigned char>(*p));
    Text(off, units, s);
  }

  // One field of a record table. A value of the wrong sort for the field (a
  // fraction into an integer field, a number into a text) is refused like a
  // field past the end.
  template <class T, std::enable_if_t<std::is_arithmetic<T>::value, int> = 0>
  void Put(const WireField& f, T v) {
    if (std::is_floating_point<T>::value && f.type != Wire::F64) {
      ok_ = false;
      return;
    }
    switch (f.type) {
      case Wire::Flag: return Flag(f.offset, v != 0);
      case Wire::U32: return U32(f.offset, uint32_t(v));
      case Wire::I32: return I32(f.offset, int32_t(v));
      case Wire::U64: return U64(f.offset, uint64_t(v));
      case Wire::I64: return I64(f.offset, int64_t(v));
      case Wire::F64: return F64(f.offset, double(v));
      default: ok_ = false;
    }
  }
  void Put(const WireField& f, const std::u16string& s) {
    if (f.type == Wire::Text) return Text(f.offset, f.count, s);
    ok_ = false;
  }
  void Put(const WireField& f, const char16_t* s) { Put(f, std::u16string(s)); }
  void Put(const WireField& f, const char* ascii) {
    if (f.type == Wire::Text) return Text(f.offset, f.count, ascii);
    ok_ = false;
  }

  const std::string& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  // False once a field did not fit the record; such a field is not written.
  bool ok() const { return ok_; }

 private:
  bool Fits(size_t off, size_t n) {
    if (off <= bytes_.size() && n <= bytes_.size() - off) return true;
    ok_ = false;
    return false;
  }
  void Put(size_t off, uint64_t v, size_t n) {
    if (!Fits(off, n)) return;
    for (size_t i = 0; i < n; ++i) bytes_[off + i] = char((v >> (8 * i)) & 0xFF);
  }
  std::string bytes_;
  bool ok_ = true;
};

// Reads the fields of one record by the record's table; `record` holds the
// record's whole size.
class RecordReader {
 public:
  explicit RecordReader(const uint8_t* record) : record_(record) {}

  template <class T, std::enable_if_t<std::is_arithmetic<T>::value, int> = 0>
  void Get(const WireField& f, T* v) const {
    const uint8_t* p = record_ + f.offset;
    switch (f.type) {
      case Wire::Flag: *v = T(*p != 0); return;
      case Wire::U32: *v = T(uint32_t(Load(p, 4))); return;
      case Wire::I32: *v = T(int32_t(uint32_t(Load(p, 4)))); return;
      case Wire::U64: *v = T(Load(p, 8)); return;
      case Wire::I64: *v = T(int64_t(Load(p, 8))); return;
      case Wire::F64: {
        uint64_t bits = Load(p, 8);
        double d;
        std::memcpy(&d, &bits, 8);
        *v = T(d);
        return;
      }
      default: *v = T(0);
    }
  }
  // A text field, up to its first NUL.
  void Get(const WireField& f, std::u16string* s) const {
    s->clear();
    if (f.type != Wire::Text) return;
    const uint8_t* p = record_ + f.offset;
    for (size_t i = 0; i < f.count; ++i) {
      char16_t u = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
      if (u == 0) break;
      *s += u;
    }
  }

 private:
  static uint64_t Load(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
  }
  const uint8_t* record_;
};

// Reply messages: length, echo, status, payload.
inline void AppendU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) *out += char((v >> (8 * i)) & 0xFF);
}

inline std::string Reply(uint32_t command, int32_t status, const std::string& payload = std::string()) {
  std::string out;
  out.reserve(12 + payload.size());
  AppendU32(&out, uint32_t(8 + payload.size()));
  AppendU32(&out, command);
  AppendU32(&out, uint32_t(status));
  out += payload;
  return out;
}

inline std::string ValuePayload(uint32_t v) {
  std::string out;
  AppendU32(&out, v);
  return out;
}

// A record list payload: u32 count, then the records back to back.
inline std::string ListPayload(uint32_t count, const std::string& records) {
  std::string out;
  out.reserve(4 + records.size());
  AppendU32(&out, count);
  out += records;
  return out;
}

}  // namespace brv::paper
