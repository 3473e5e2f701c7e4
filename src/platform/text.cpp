// Locale-independent text helpers: the lower-case mapping used to name a
// terminal's pipe, and UTF-8 <-> UTF-16 conversion at the file-system boundary.
#include <algorithm>

#include "platform/platform.h"

namespace brv::platform {
namespace {

struct CasePair {
  char16_t upper;
  char16_t lower;
};

constexpr CasePair kLowerTable[] = {
#include "platform/lower_table.inc"
};

}  // namespace

char16_t LowerUnit(char16_t unit) {
  if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 32) : unit;
  const CasePair* end = kLowerTable + sizeof(kLowerTable) / sizeof(kLowerTable[0]);
  const CasePair* it = std::lower_bound(kLowerTable, end, unit,
                                        [](const CasePair& p, char16_t u) { return p.upper < u; });
  return (it != end && it->upper == unit) ? it->lower : unit;
}

#ifndef _WIN32
// POSIX has no system mapping that is both per-unit and locale-free, so the
// pipe name is lower-cased with the table, which agrees with Python's
// str.lower() for every unit that lowers to one unit. Windows uses the
// system's own call (windows.cpp).
void LowerCase(char16_t* text, size_t n) {
  for (size_t i = 0; i < n; ++i) text[i] = LowerUnit(text[i]);
}
#endif

std::u16string NativePath(std::u16string path) {
  if (kPathSeparator != u'/') std::replace(path.begin(), path.end(), u'/', kPathSeparator);
  return path;
}

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = s[i];
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (extra == 9 || i + extra >= n) {
      if (extra != 0) {
        out += char16_t(0xFFFD);
        ++i;
        continue;
      }
    }
    if (extra > 0) c &= (0x3F >> extra);
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok) {
      out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

}  // namespace brv::platform
