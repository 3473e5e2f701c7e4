// The group filter on its own: what the Python tests cannot reach (missing
// arguments, a failed allocation) and the filter's storage handling.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "check.h"
#include "positions/group.h"

using namespace brv::positions;

namespace {

constexpr RecordShape kShape = {80, 4};  // a small record with its 64-byte symbol at 4

int g_allocations = 0;
int g_releases = 0;
bool g_fail_allocation = false;

void* CountingAllocate(size_t bytes) {
  if (g_fail_allocation) return nullptr;
  ++g_allocations;
  return std::malloc(bytes);
}

void CountingRelease(void* data) {
  ++g_releases;
  std::free(data);
}

// `symbols` (ASCII, at most 32 units) as records whose first byte is their place.
uint8_t* MakeRecords(const std::vector<const char*>& symbols) {
  auto* records = static_cast<uint8_t*>(CountingAllocate(kShape.size * symbols.size() + 1));
  std::memset(records, 0, kShape.size * symbols.size());
  for (size_t i = 0; i < symbols.size(); ++i) {
    uint8_t* r = records + kShape.size * i;
    r[0] = uint8_t(i);
    for (size_t u = 0; symbols[i][u] != 0; ++u) r[kShape.symbol_offset + 2 * u] = uint8_t(symbols[i][u]);
  }
  return records;
}

void ResetCounts() {
  g_allocations = g_releases = 0;
  g_fail_allocation = false;
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

TEST(FilterKeepsPassingRecordsInOrderWithOneAllocation) {
  ResetCounts();
  uint8_t* records = MakeRecords({"EURUSD", "GBPJPY", "EURGBP", "USDJPY"});
  uint8_t* original = records;
  uint32_t count = 4;
  CHECK(FilterByGroup(u"EUR*, *JPY, !GBPJPY", kShape, CountingAllocate, CountingRelease, &records, &count) ==
        kFilterDone);
  CHECK(count == 3);
  CHECK(records != original);
  CHECK(records[0] == 0 && records[kShape.size] == 2 && records[2 * kShape.size] == 3);
  CHECK(g_allocations == 2 && g_releases == 1);  // the input, then the output once
  CountingRelease(records);
}

TEST(FilterAllocationFailureEmptiesTheList) {
  ResetCounts();
  uint8_t* records = MakeRecords({"EURUSD", "GBPJPY"});
  uint32_t count = 2;
  g_fail_allocation = true;
  CHECK(FilterByGroup(u"*", kShape, CountingAllocate, CountingRelease, &records, &count) == kFilterFailed);
  CHECK(records == nullptr && count == 0 && g_releases == 1);
}

TEST(FilterReadsTheSymbolFieldOnly) {
  ResetCounts();
  // 32 units without a NUL, followed by other bytes of the record
  uint8_t* records = MakeRecords({"SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSX"});
  records[kShape.symbol_offset + 64] = 'Y';
  uint32_t count = 1;
  CHECK(FilterByGroup(u"*X", kShape, CountingAllocate, CountingRelease, &records, &count) == kFilterDone);
  CHECK(count == 1);
  CountingRelease(records);
}
