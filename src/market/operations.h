// Client operations of the account, terminal and symbol functions. Each
// performs one exchange and returns its result code: the reply's status
// (zero or positive) on success, a negative code otherwise.
#pragma once

#include <cstdint>

#include "link/call.h"
#include "link/text_field.h"
#include "market/records.h"

namespace brv::market {

constexpr uint32_t kCommandSymbolInfo = 170;
constexpr uint32_t kCommandSymbolSelect = 171;
constexpr uint32_t kCommandSymbolInfoTick = 172;
constexpr uint32_t kCommandSymbolsTotal = 173;
constexpr uint32_t kCommandSymbolsGetAll = 174;
constexpr uint32_t kCommandSymbolsGetByGroup = 175;
constexpr uint32_t kCommandTerminalInfo = 180;
constexpr uint32_t kCommandAccountInfo = 190;

// The symbol catalogue needs a terminal of at least this build; the gate is
// tested before the pipe.
constexpr uint32_t kSymbolsMinBuild = 2364;

int32_t AccountInfoGet(uint8_t (&record)[kAccountRecordSize]);
int32_t TerminalInfoGet(uint8_t (&record)[kTerminalRecordSize]);
// Reads the full record, or the legacy record of terminals before build 2364
// completed with the requested name.
int32_t SymbolInfoGet(const ShortText& symbol, uint8_t (&record)[kSymbolRecordSize]);
int32_t SymbolInfoTick(const ShortText& symbol, uint8_t (&record)[kTickRecordSize]);
int32_t SymbolsTotal(uint32_t* count);
// Symbol records into plain storage.
int32_t SymbolsGetAll(link::Block* records);
int32_t SymbolsGetByGroup(const GroupText& group, link::Block* records);
int32_t SymbolSelect(const ShortText& symbol, bool enable);

}  // namespace brv::market
