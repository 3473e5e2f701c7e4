// The wire records of the account, terminal and symbol functions (their
// tables are in link/records.h).
#pragma once

#include <cstdint>

#include "link/records.h"

namespace brv::market {

constexpr uint32_t kAccountRecordSize = records::Account::kSize;
constexpr uint32_t kTerminalRecordSize = records::Terminal::kSize;
constexpr uint32_t kSymbolRecordSize = records::Symbol::kSize;
// Terminals before build 2364 send the symbol record without its name, the
// last field.
constexpr uint32_t kLegacySymbolRecordSize = records::Symbol::name.offset;
constexpr uint32_t kSymbolNameOffset = records::Symbol::name.offset;
constexpr uint32_t kSymbolNameUnits = records::Symbol::name.count;
static_assert(kSymbolNameOffset + 2 * kSymbolNameUnits == kSymbolRecordSize, "the name ends the symbol record");
constexpr uint32_t kTickRecordSize = records::Tick::kSize;

constexpr RecordLayout kAccountRecord = LayoutOf<records::Account>(kAccountInfo);
constexpr RecordLayout kTerminalRecord = LayoutOf<records::Terminal>(kTerminalInfo);
constexpr RecordLayout kSymbolRecord = LayoutOf<records::Symbol>(kSymbolInfo);
constexpr RecordLayout kTickRecord = LayoutOf<records::Tick>(kTick);

}  // namespace brv::market
