// SHA-256 against the standard test vectors, the lower-case mapping, UTF-8
// conversion and pipe naming.
#include <cstring>
#include <string>

#include "check.h"
#include "link/pipe_name.h"
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
  CHECK(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq") ==
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  CHECK(Sha("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu") ==
        "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  CHECK(Sha(std::string(1000000, 'a')) == "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(sha256_padding_boundaries) {
  // 55, 56 and 64 bytes straddle the one- and two-block padding cases.
  CHECK(Sha(std::string(55, 'a')) == "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  CHECK(Sha(std::string(56, 'a')) == "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  CHECK(Sha(std::string(64, 'a')) == "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(lower_case_is_simple_and_locale_free) {
  CHECK(platform::LowerUnit(u'A') == u'a');
  CHECK(platform::LowerUnit(u'z') == u'z');
  CHECK(platform::LowerUnit(u'\u00C0') == u'\u00E0');  // Latin-1 agrees with str.lower()
  CHECK(platform::LowerUnit(u'\u00D7') == u'\u00D7');  // multiplication sign has no case
  CHECK(platform::LowerUnit(u'\u00DE') == u'\u00FE');
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

TEST(pipe_name_is_prefix_and_upper_case_hex) {
  uint8_t digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = uint8_t(i * 8 + 10);
  std::u16string name = link::MakePipeName(digest);
  CHECK(name.size() == link::kPipeNameUnits);
  CHECK(name.substr(0, 22) == u"\\\\.\\pipe\\BRV.Terminal.");
  CHECK(name.substr(22, 4) == u"0A12");
}

TEST(hash_path_lower_cases_before_hashing) {
  uint8_t a[32], b[32];
  link::HashPath(u"/Opt/Terminal/TERMINAL64.EXE", a);
  link::HashPath(u"/opt/terminal/terminal64.exe", b);
  CHECK(std::memcmp(a, b, 32) == 0);
  // UTF-16LE bytes of "ab": 61 00 62 00
  uint8_t c[32], d[32];
  link::HashPath(u"AB", c);
  platform::Sha256("a\0b\0", 4, d);
  CHECK(std::memcmp(c, d, 32) == 0);
}
