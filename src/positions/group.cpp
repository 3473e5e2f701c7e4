#include "positions/group.h"

#include <cstring>

namespace brv::positions {
namespace {

constexpr char16_t kStar = u'*';
constexpr char16_t kBang = u'!';
constexpr char16_t kSpace = u' ';
constexpr char16_t kComma = u',';

// Units up to the next "*" or the end.
size_t SegmentLength(const char16_t* s) {
  size_t n = 0;
  while (s[n] != 0 && s[n] != kStar) ++n;
  return n;
}

bool OnlyStars(const char16_t* s) {
  while (*s == kStar) ++s;
  return *s == 0;
}

bool Equal(const char16_t* a, const char16_t* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

}  // namespace

bool MatchPattern(const char16_t* pattern, const char16_t* name) {
  if (pattern == nullptr || name == nullptr) return false;
  const char16_t* p = pattern;
  while (*p == kBang) ++p;
  if (OnlyStars(p)) return true;  // "", "*", "**": every name, the empty one too
  const size_t head = SegmentLength(p);
  if (p[head] == 0) return Equal(p, name);  // no "*": the exact name only
  if (*name == 0) return false;
  // The head must begin the name (a shorter name differs at its NUL).
  for (size_t i = 0; i < head; ++i) {
    if (name[i] != p[i]) return false;
  }
  const char16_t* n = name + head;
  const char16_t* segment = p + head;  // at the "*" before the next segment
  for (;;) {
    while (*segment == kStar) ++segment;  // runs of "*" give empty segments
    // Only "*" left: whatever remains of the name matches, nothing included.
    if (*segment == 0) return true;
    if (*n == 0) return false;
    const size_t length = SegmentLength(segment);
    const bool tail = segment[length] == 0;
    for (;;) {
      // Search for the segment's first unit, then attempt the rest. A failed
      // attempt resumes at the unit that differed, never further back.
      while (*n != segment[0]) {
        if (*n == 0) return false;
        ++n;
      }
      size_t k = 1;
      while (k < length && n[k] == segment[k]) ++k;
      if (k == length) {
        if (!tail) {
          n += length;  // the leftmost occurrence stands
          break;
        }
        if (n[length] == 0) return true;
        n += length;  // the tail must end the name: look again after this one
        continue;
      }
      if (n[k] == 0) return false;
      n += k;
    }
    segment += length;
  }
}

bool MatchGroup(const char16_t* group, const char16_t* name) {
  if (group == nullptr || name == nullptr || *group == 0) return false;
  char16_t pattern[kPatternUnits + 1] = {};
  bool selected = false;
  const char16_t* s = group;
  for (;;) {
    while (*s == kSpace || *s == kComma) ++s;
    if (*s == 0) return selected;
    size_t n = 0;
    while (*s != 0 && *s != kComma && n < kPatternUnits) pattern[n++] = *s++;
    while (n > 0 && (pattern[n - 1] == kSpace || pattern[n - 1] == kComma)) --n;
    pattern[n] = 0;
    if (pattern[0] == kBang) {
      // An exclusion rejects the name whatever the other patterns say.
      if (MatchPattern(pattern, name)) return false;
    } else if (MatchPattern(pattern, name)) {
      selected = true;
    }
    if (*s == 0) return selected;
    // Past the comma; after an overlong item, past the unit that did not fit.
    ++s;
  }
}

namespace {

// The records of one reply share few symbols: remembering the verdict of
// each symbol field seen matches the group once per symbol rather than once
// per record. The table is indexed by the field's first eight units, so a
// record costs one lookup and one comparison that nearly always succeeds,
// whatever order the symbols come in. A fixed table: nothing is allocated.
class VerdictMemo {
 public:
  // The verdict for a symbol field seen before, or null.
  const bool* Find(const uint8_t* field) const {
    const Slot& slot = slots_[Index(field)];
    if (slot.used && std::memcmp(slot.field, field, kFieldBytes) == 0) return &slot.verdict;
    return nullptr;
  }
  // Remembers a verdict, in place of any other symbol at the same index.
  void Add(const uint8_t* field, bool verdict) {
    Slot& slot = slots_[Index(field)];
    std::memcpy(slot.field, field, kFieldBytes);
    slot.verdict = verdict;
    slot.used = true;
  }

 private:
  static constexpr size_t kFieldBytes = kSymbolUnits * 2;
  static constexpr unsigned kSlots = 64;
  struct Slot {
    uint8_t field[kFieldBytes];
    bool verdict;
    bool used;
  };
  static unsigned Index(const uint8_t* field) {
    uint64_t head = 0;
    std::memcpy(&head, field, 8);
    uint64_t tail = 0;
    std::memcpy(&tail, field + 8, 8);
    const uint64_t mixed = (head ^ (tail * 0x9E3779B97F4A7C15ull)) * 0xC2B2AE3D27D4EB4Full;
    return unsigned(mixed >> 58);  // the top six bits: one of 64 slots
  }
  Slot slots_[kSlots] = {};
};

}  // namespace

uint32_t FilterByGroup(const char16_t* group, const RecordShape& shape, uint8_t* records, uint32_t count) {
  const size_t size = shape.size;
  uint32_t n = 0;
  char16_t name[kSymbolUnits + 1];
  name[kSymbolUnits] = 0;  // a symbol filling its field still ends here
  VerdictMemo memo;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* record = records + size * i;
    const uint8_t* field = record + shape.symbol_offset;
    const bool* known = memo.Find(field);
    bool pass;
    if (known != nullptr) {
      pass = *known;
    } else {
      for (size_t u = 0; u < kSymbolUnits; ++u) name[u] = char16_t(field[2 * u] | field[2 * u + 1] << 8);
      pass = MatchGroup(group, name);
      memo.Add(field, pass);
    }
    if (!pass) continue;
    // A kept record moves down over the dropped ones; the two never overlap.
    if (n != i) std::memcpy(records + size * n, record, size);
    ++n;
  }
  return n;
}

}  // namespace brv::positions
