#include "market/operations.h"

#include <cstring>

#include "link/result.h"

namespace brv::market {

using link::Body;

namespace {

bool SymbolsAllowed() { return link::g_terminal_build >= kSymbolsMinBuild; }

// The legacy record carries no name: the requested one is written into the
// name field, NUL-terminated, little-endian.
void CompleteLegacySymbol(const ShortText& symbol, uint8_t* record) {
  uint8_t* name = record + kSymbolNameOffset;
  std::memset(name, 0, kSymbolNameUnits * 2);
  for (size_t i = 0, n = symbol.Length(); i < n && i < kSymbolNameUnits - 1; ++i) {
    name[2 * i] = uint8_t(symbol.units[i] & 0xFF);
    name[2 * i + 1] = uint8_t(symbol.units[i] >> 8);
  }
}

}  // namespace

int32_t AccountInfoGet(uint8_t (&record)[kAccountRecordSize]) {
  return link::CallRecord(kCommandAccountInfo, Body(), record, kAccountRecordSize);
}

int32_t TerminalInfoGet(uint8_t (&record)[kTerminalRecordSize]) {
  std::memset(record, 0, kTerminalRecordSize);
  return link::CallRecord(kCommandTerminalInfo, Body(), record, kTerminalRecordSize);
}

int32_t SymbolInfoGet(const ShortText& symbol, uint8_t (&record)[kSymbolRecordSize]) {
  std::memset(record, 0, kSymbolRecordSize);
  const bool legacy = link::g_terminal_build < kSymbolsMinBuild;
  const uint32_t size = legacy ? kLegacySymbolRecordSize : kSymbolRecordSize;
  int32_t result = link::CallRecord(kCommandSymbolInfo, Body().Text(symbol), record, size);
  if (legacy && result >= 0) CompleteLegacySymbol(symbol, record);
  return result;
}

int32_t SymbolInfoTick(const ShortText& symbol, uint8_t (&record)[kTickRecordSize]) {
  return link::CallRecord(kCommandSymbolInfoTick, Body().Text(symbol), record, kTickRecordSize);
}

int32_t SymbolsTotal(uint32_t* count) {
  if (!SymbolsAllowed()) return kIncompatibleVersions;
  return link::CallValue(kCommandSymbolsTotal, Body(), count);
}

int32_t SymbolsGetAll(link::Block* records) {
  if (!SymbolsAllowed()) return kIncompatibleVersions;
  return link::CallList(kCommandSymbolsGetAll, Body(), kSymbolRecordSize, link::kPlainAllocator, records);
}

int32_t SymbolsGetByGroup(const GroupText& group, link::Block* records) {
  if (!SymbolsAllowed()) return kIncompatibleVersions;
  return link::CallList(kCommandSymbolsGetByGroup, Body().Text(group), kSymbolRecordSize,
                        link::kPlainAllocator, records);
}

int32_t SymbolSelect(const ShortText& symbol, bool enable) {
  return link::CallStatus(kCommandSymbolSelect, Body().Text(symbol).U8(enable ? 1 : 0));
}

}  // namespace brv::market
