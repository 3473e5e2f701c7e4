#include "history/operations.h"

#include "link/result.h"

namespace brv::history {

using link::Body;

int32_t CopyRatesFrom(const ShortText& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                      link::Block* records, const link::Allocator& allocator) {
  return link::CallList(kCommandCopyRatesFrom, Body().Text(symbol).I32(timeframe).I64(date_from).I32(count),
                   kBarRecordSize, allocator, records);
}

int32_t CopyRatesFromPos(const ShortText& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                         link::Block* records, const link::Allocator& allocator) {
  return link::CallList(kCommandCopyRatesFromPos, Body().Text(symbol).I32(timeframe).I32(start_pos).I32(count),
                   kBarRecordSize, allocator, records);
}

int32_t CopyRatesRange(const ShortText& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                       link::Block* records, const link::Allocator& allocator) {
  return link::CallList(kCommandCopyRatesRange, Body().Text(symbol).I32(timeframe).I64(date_from).I64(date_to),
                   kBarRecordSize, allocator, records);
}

int32_t CopyTicksFrom(const ShortText& symbol, int64_t date_from_ms, int32_t count, int32_t flags,
                      link::Block* records, const link::Allocator& allocator) {
  return link::CallList(kCommandCopyTicksFrom, Body().Text(symbol).I64(date_from_ms).I32(count).I32(flags),
                   kTickRecordSize, allocator, records);
}

int32_t CopyTicksRange(const ShortText& symbol, int64_t date_from_ms, int64_t date_to_ms, int32_t flags,
                       link::Block* records, const link::Allocator& allocator) {
  return link::CallList(kCommandCopyTicksRange, Body().Text(symbol).I64(date_from_ms).I64(date_to_ms).I32(flags),
                   kTickRecordSize, allocator, records);
}

}  // namespace brv::history
