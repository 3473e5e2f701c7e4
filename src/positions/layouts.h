// The wire records of positions, orders (current and history) and deals, and
// where each holds its symbol for the group filter.
#pragma once

#include "link/records.h"
#include "positions/group.h"

namespace brv::positions {

// Position record, 320 bytes; the 8 bytes at 104 are not read.
constexpr WireField kPositionFields[] = {
    U64(0, 0),          // ticket
    I64(8, 1),          // time
    I64(16, 2),         // time_msc
    I64(24, 3),         // time_update
    I64(32, 4),         // time_update_msc
    U32(40, 5),         // type
    U64(44, 6),         // magic
    U64(52, 7),         // identifier
    U32(60, 8),         // reason
    F64(64, 9),         // volume
    F64(72, 10),        // price_open
    F64(80, 11),        // sl
    F64(88, 12),        // tp
    F64(96, 13),        // price_current
    F64(112, 14),       // swap
    F64(120, 15),       // profit
    Text(128, 32, 16),  // symbol
    Text(192, 32, 17),  // comment
    Text(256, 32, 18),  // external_id
};
constexpr RecordLayout kPositionRecord = MakeLayout(kTradePosition, 320, kPositionFields);
constexpr RecordShape kPositionShape = {320, 128};

// Order record, 340 bytes: active orders and history orders.
constexpr WireField kOrderFields[] = {
    U64(0, 0),          // ticket
    I64(8, 1),          // time_setup
    I64(16, 2),         // time_setup_msc
    I64(24, 3),         // time_done
    I64(32, 4),         // time_done_msc
    I64(40, 5),         // time_expiration
    U32(48, 6),         // type
    U32(52, 7),         // type_time
    U32(56, 8),         // type_filling
    U32(60, 9),         // state
    U64(64, 10),        // magic
    U64(72, 11),        // position_id
    U64(80, 12),        // position_by_id
    U32(88, 13),        // reason
    F64(92, 14),        // volume_initial
    F64(100, 15),       // volume_current
    F64(108, 16),       // price_open
    F64(116, 17),       // sl
    F64(124, 18),       // tp
    F64(132, 19),       // price_current
    F64(140, 20),       // price_stoplimit
    Text(148, 32, 21),  // symbol
    Text(212, 32, 22),  // comment
    Text(276, 32, 23),  // external_id
};
constexpr RecordLayout kOrderRecord = MakeLayout(kTradeOrder, 340, kOrderFields);
constexpr RecordShape kOrderShape = {340, 148};

// Deal record, 300 bytes.
constexpr WireField kDealFields[] = {
    U64(0, 0),          // ticket
    U64(8, 1),          // order
    I64(16, 2),         // time
    I64(24, 3),         // time_msc
    U32(32, 4),         // type
    U32(36, 5),         // entry
    U64(40, 6),         // magic
    U64(48, 7),         // position_id
    U32(56, 8),         // reason
    F64(60, 9),         // volume
    F64(68, 10),        // price
    F64(76, 11),        // commission
    F64(84, 12),        // swap
    F64(92, 13),        // profit
    F64(100, 14),       // fee
    Text(108, 32, 15),  // symbol
    Text(172, 32, 16),  // comment
    Text(236, 32, 17),  // external_id
};
constexpr RecordLayout kDealRecord = MakeLayout(kTradeDeal, 300, kDealFields);
constexpr RecordShape kDealShape = {300, 108};

static_assert(kPositionRecord.size == kPositionShape.size && kOrderRecord.size == kOrderShape.size &&
                  kDealRecord.size == kDealShape.size,
              "one size per record");

// Room for the largest of the three, for a record read by ticket.
constexpr uint32_t kMaxRecordSize = 340;

}  // namespace brv::positions
