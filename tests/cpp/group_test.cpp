// The group filter on its own: what the Python tests cannot reach (missing
// arguments) and the filter's storage handling.
#include <cstring>
#include <vector>

#include "check.h"
#include "positions/group.h"

using namespace brv::positions;

namespace {

constexpr RecordShape kShape = {80, 4};  // a small record with its 64-byte symbol at 4

// `symbols` (ASCII, at most 32 units) as records whose first byte is their place.
std::vector<uint8_t> MakeRecords(const std::vector<const char*>& symbols) {
  std::vector<uint8_t> records(kShape.size * symbols.size() + 1, 0);
  for (size_t i = 0; i < symbols.size(); ++i) {
    uint8_t* r = records.data() + kShape.size * i;
    r[0] = uint8_t(i);
    for (size_t u = 0; symbols[i][u] != 0; ++u) r[kShape.symbol_offset + 2 * u] = uint8_t(symbols[i][u]);
  }
  return records;
}

}  // namespace

TEST(MatchMissingArgumentsAndUnitsBeyondAscii) {
  CHECK(!MatchPattern(nullptr, u"EURUSD"));
  CHECK(!MatchPattern(u"*", nullptr));
  CHECK(!MatchGroup(nullptr, u"EURUSD"));
  CHECK(!MatchGroup(u"*", nullptr));
  CHECK(MatchPattern(u"\u00e4*\U0001F600", u"\u00e4x\U0001F600"));
  CHECK(!MatchPattern(u"\u00e4*\U0001F600", u"\u00e4x\U0001F601"));
}

TEST(FilterKeepsPassingRecordsInOrderInPlace) {
  std::vector<uint8_t> records = MakeRecords({"EURUSD", "GBPJPY", "EURGBP", "USDJPY"});
  CHECK(FilterByGroup(u"EUR*, *JPY, !GBPJPY", kShape, records.data(), 4) == 3);
  CHECK(records[0] == 0 && records[kShape.size] == 2 && records[2 * kShape.size] == 3);
}

TEST(FilterReadsTheSymbolFieldOnly) {
  // 32 units without a NUL, followed by other bytes of the record
  std::vector<uint8_t> records = MakeRecords({"SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSX"});
  records[kShape.symbol_offset + 64] = 'Y';
  CHECK(FilterByGroup(u"*X", kShape, records.data(), 1) == 1);
}
