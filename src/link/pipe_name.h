// How a terminal's pipe is named: the SHA-256 of the lower-cased final path
// of its executable, in upper-case hexadecimal after a fixed prefix. Shared by
// the connector and the paper terminal, which serves the same name.
#pragma once

#include <cstdint>
#include <string>

namespace brv::link {

constexpr size_t kMaxPath = 260;         // units of a path, without terminator
constexpr size_t kPipeNameUnits = 86;    // prefix (22) + 64 hex digits

// The 86-unit name for a 32-byte digest.
std::u16string MakePipeName(const uint8_t digest[32]);
// Digest of the UTF-16LE units of `final_path` after lower-casing it.
bool HashPath(std::u16string final_path, uint8_t digest[32]);

}  // namespace brv::link
