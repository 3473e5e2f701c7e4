#include "link/pipe_name.h"

#include "platform/platform.h"

namespace brv::link {

std::u16string MakePipeName(const uint8_t digest[32]) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string name = u"\\\\.\\pipe\\BRV.Terminal.";
  for (int i = 0; i < 32; ++i) {
    name += kHex[digest[i] >> 4];
    name += kHex[digest[i] & 15];
  }
  return name;
}

bool HashPath(std::u16string final_path, uint8_t digest[32]) {
  platform::LowerCase(&final_path[0], final_path.size());
  // Hash the little-endian bytes of each unit, whatever the host's order.
  std::string bytes;
  bytes.reserve(final_path.size() * 2);
  for (char16_t u : final_path) {
    bytes += char(u & 0xFF);
    bytes += char(u >> 8);
  }
  return platform::Sha256(bytes.data(), bytes.size(), digest);
}

}  // namespace brv::link
