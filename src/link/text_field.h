// Fixed UTF-16 text fields: how a text argument travels in a request
// (a string of the units up to the first NUL) or inside a record.
#pragma once

#include <cstddef>

namespace brv {

// A fixed field of F UTF-16 units holding at most F - 3 units of text,
// NUL-terminated, the rest zero.
template <size_t F>
struct TextField {
  static constexpr size_t kUnits = F;
  char16_t units[F] = {};

  // Units up to the first NUL: what goes on the wire.
  size_t Length() const {
    size_t n = 0;
    while (n < F && units[n] != 0) ++n;
    return n;
  }
  bool Empty() const { return units[0] == 0; }
};

using ShortText = TextField<32>;    // symbols, trade request symbol and comment
using NameText = TextField<256>;    // server, password
using PathText = TextField<260>;    // terminal path
using GroupText = TextField<2000>;  // group filters

}  // namespace brv
