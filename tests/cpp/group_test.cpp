// The group filter on its own: what the Python tests cannot reach (missing
// arguments, a symbol filling its field; the order kept is checked there).
#include <vector>

#include "check.h"
#include "positions/group.h"

using namespace brv::positions;

TEST(MatchMissingArgumentsAndUnitsBeyondAscii) {
  CHECK(!MatchPattern(nullptr, u"EURUSD"));
  CHECK(!MatchPattern(u"*", nullptr));
  CHECK(!MatchGroup(nullptr, u"EURUSD"));
  CHECK(!MatchGroup(u"*", nullptr));
  CHECK(MatchPattern(u"\u00e4*\U0001F600", u"\u00e4x\U0001F600"));
  CHECK(!MatchPattern(u"\u00e4*\U0001F600", u"\u00e4x\U0001F601"));
}

TEST(FilterReadsTheSymbolFieldOnly) {
  constexpr RecordShape kShape = {80, 4};  // a small record with its 64-byte symbol at 4
  // "SSS...SX": 32 units without a NUL, followed by other bytes of the record
  std::vector<uint8_t> record(kShape.size, 0);
  for (size_t u = 0; u < 32; ++u) record[kShape.symbol_offset + 2 * u] = u == 31 ? 'X' : 'S';
  record[kShape.symbol_offset + 64] = 'Y';
  CHECK(FilterByGroup(u"*X", kShape, record.data(), 1) == 1);
}
