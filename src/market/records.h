// The wire records of the account, terminal and symbol functions, each as a
// field table that reads side by side with the record's description.
#pragma once

#include <cstdint>

#include "link/records.h"

namespace brv::market {

constexpr uint32_t kAccountRecordSize = 851;
constexpr uint32_t kTerminalRecordSize = 3162;
constexpr uint32_t kSymbolRecordSize = 2993;
// Terminals before build 2364 send the symbol record without its name.
constexpr uint32_t kLegacySymbolRecordSize = 2929;
constexpr uint32_t kSymbolNameOffset = 2929;
constexpr uint32_t kSymbolNameUnits = 32;
constexpr uint32_t kTickRecordSize = 60;

extern const RecordLayout kAccountRecord;
extern const RecordLayout kTerminalRecord;
extern const RecordLayout kSymbolRecord;
extern const RecordLayout kTickRecord;

}  // namespace brv::market
