#include "history/operations.h"

#include "history/layouts.h"
#include "module/errors.h"

namespace brv::history {

using link::Body;

namespace {

// The records are read straight into numpy's data allocator, so the block
// becomes the array's memory without a copy.
const link::Allocator kArrayAllocator = {AllocateArrayData, FreeArrayData};

int32_t CallArray(uint32_t command, const Body& body, uint32_t record_size, link::Block* records) {
  if (records == nullptr) return kIpcCallFailed;
  return link::CallList(command, body, record_size, kArrayAllocator, records);
}

}  // namespace

int32_t CopyRatesFrom(const ShortText& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                      link::Block* records) {
  return CallArray(kCommandCopyRatesFrom, Body().Text(symbol).I32(timeframe).I64(date_from).I32(count),
                   kBarRecordSize, records);
}

int32_t CopyRatesFromPos(const ShortText& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                         link::Block* records) {
  return CallArray(kCommandCopyRatesFromPos, Body().Text(symbol).I32(timeframe).I32(start_pos).I32(count),
                   kBarRecordSize, records);
}

int32_t CopyRatesRange(const ShortText& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                       link::Block* records) {
  return CallArray(kCommandCopyRatesRange, Body().Text(symbol).I32(timeframe).I64(date_from).I64(date_to),
                   kBarRecordSize, records);
}

int32_t CopyTicksFrom(const ShortText& symbol, int64_t date_from_ms, int32_t count, int32_t flags,
                      link::Block* records) {
  return CallArray(kCommandCopyTicksFrom, Body().Text(symbol).I64(date_from_ms).I32(count).I32(flags),
                   kTickRecordSize, records);
}

int32_t CopyTicksRange(const ShortText& symbol, int64_t date_from_ms, int64_t date_to_ms, int32_t flags,
                       link::Block* records) {
  return CallArray(kCommandCopyTicksRange, Body().Text(symbol).I64(date_from_ms).I64(date_to_ms).I32(flags),
                   kTickRecordSize, records);
}

}  // namespace brv::history
