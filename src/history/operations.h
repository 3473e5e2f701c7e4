// Client operations of the bar and tick functions. Each performs one
// exchange and returns its result code; on success `records` holds the
// reply's records in one block from `allocator` (numpy's data allocator, so
// that the block becomes an array's memory).
#pragma once

#include <cstdint>

#include "link/call.h"
#include "link/records.h"
#include "link/text_field.h"

namespace brv {
constexpr uint32_t kBarRecordSize = records::Rate::kSize;
constexpr uint32_t kTickRecordSize = records::Tick::kSize;
}  // namespace brv

namespace brv::history {

constexpr uint32_t kCommandCopyTicksFrom = 104;
constexpr uint32_t kCommandCopyTicksRange = 105;
constexpr uint32_t kCommandCopyRatesFrom = 106;
constexpr uint32_t kCommandCopyRatesRange = 107;
constexpr uint32_t kCommandCopyRatesFromPos = 108;

// Times in seconds since 1970-01-01 UTC.
int32_t CopyRatesFrom(const ShortText& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                      link::Block* records, const link::Allocator& allocator);
int32_t CopyRatesFromPos(const ShortText& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                         link::Block* records, const link::Allocator& allocator);
int32_t CopyRatesRange(const ShortText& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                       link::Block* records, const link::Allocator& allocator);
// Times in milliseconds since 1970-01-01 UTC.
int32_t CopyTicksFrom(const ShortText& symbol, int64_t date_from_ms, int32_t count, int32_t flags,
                      link::Block* records, const link::Allocator& allocator);
int32_t CopyTicksRange(const ShortText& symbol, int64_t date_from_ms, int64_t date_to_ms, int32_t flags,
                       link::Block* records, const link::Allocator& allocator);

}  // namespace brv::history
