// SHA-256 against the standard test vectors, the lower-case mapping and UTF-8
// conversion (pipe naming as a whole is checked by connecting to the Python
// fake terminal, which names its socket with hashlib).
#include <string>

#include "check.h"
#include "platform/platform.h"

using namespace brv;

namespace {

std::string Hex(const uint8_t* d, size_t n) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += k[d[i] >> 4];
    s += k[d[i] & 15];
  }
  return s;
}

std::string Sha(const std::string& input) {
  uint8_t d[32];
  platform::Sha256(input.data(), input.size(), d);
  return Hex(d, 32);
}

}  // namespace

TEST(sha256_standard_vectors) {
  CHECK(Sha("") == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  CHECK(Sha("abc") == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  CHECK(Sha(std::string(1000000, 'a')) == "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // 55, 56 and 64 bytes straddle the one- and two-block padding cases.
  CHECK(Sha(std::string(55, 'a')) == "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  CHECK(Sha(std::string(56, 'a')) == "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  CHECK(Sha(std::string(64, 'a')) == "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(lower_case_is_simple_and_locale_free) {
  CHECK(platform::LowerUnit(u'A') == u'a');
  CHECK(platform::LowerUnit(u'\u00C0') == u'\u00E0');  // Latin-1 agrees with str.lower()
  CHECK(platform::LowerUnit(u'\u00D7') == u'\u00D7');  // multiplication sign has no case
  CHECK(platform::LowerUnit(u'\u0130') == u'i');       // simple mapping of dotted capital I
  CHECK(platform::LowerUnit(u'\u0410') == u'\u0430');  // Cyrillic
  CHECK(platform::LowerUnit(u'\u03A3') == u'\u03C3');  // Greek
  CHECK(platform::LowerUnit(u'\uFF21') == u'\uFF41');  // full-width
  CHECK(platform::LowerUnit(char16_t(0xD83D)) == char16_t(0xD83D));  // surrogates untouched
}

TEST(utf8_round_trip) {
  std::u16string s = u"C:/Programme/Börse/\u20AC/\U0001F600/terminal64.exe";
  CHECK(platform::FromUtf8(platform::ToUtf8(s)) == s);
  CHECK(platform::ToUtf8(u"\u00e9") == "\xc3\xa9");
  CHECK(platform::FromUtf8("\xff") == std::u16string(1, char16_t(0xFFFD)));
}
