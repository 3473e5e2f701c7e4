// The paper terminal's own codes. The connector passes every enumeration
// through unchanged, so these values are this terminal's choice; they are
// documented in docs/paper-terminal.md and mirrored as named constants in
// borvane.paper. Enumerations start at 1 so that a zero (a field the caller
// left out) is never mistaken for a meaningful choice.
#pragma once

#include <cstdint>

namespace brv::paper {

constexpr uint32_t kBuild = 4410;
constexpr uint32_t kVersion = 100;  // 1.00
constexpr const char16_t* kVersionText = u"1.00 build 4410 (paper)";

// Reply statuses (negative codes are those of the connector's code table).
constexpr int32_t kStatusOk = 1;
constexpr int32_t kStatusCallFailed = -1;
constexpr int32_t kStatusInvalidParams = -2;
constexpr int32_t kStatusNotFound = -4;
constexpr int32_t kStatusIncompatible = -5;
constexpr int32_t kStatusAuthFailed = -6;
constexpr int32_t kStatusUnsupported = -7;
constexpr int32_t kStatusAutoTradingDisabled = -8;

// Readiness states (command 109).
constexpr uint32_t kReadyState = 2;
constexpr uint32_t kAuthFailedState = 3;

// Timeframes: the code is the bar length in minutes; months are calendar
// months, weeks start on Monday 00:00 UTC.
constexpr int32_t kTimeframes[] = {1,   2,   3,   4,   5,   6,   10,  12,   15,    20,   30,
                                   60,  120, 180, 240, 360, 480, 720, 1440, 10080, 43200};
constexpr int32_t kTimeframeW1 = 10080;
constexpr int32_t kTimeframeMN1 = 43200;

// Trade actions.
constexpr uint32_t kActionDeal = 1;
constexpr uint32_t kActionPending = 2;
constexpr uint32_t kActionSltp = 3;
constexpr uint32_t kActionModify = 4;
constexpr uint32_t kActionRemove = 5;
constexpr uint32_t kActionCloseBy = 6;

// Order types.
constexpr uint32_t kOrderBuy = 1;
constexpr uint32_t kOrderSell = 2;
constexpr uint32_t kOrderBuyLimit = 3;
constexpr uint32_t kOrderSellLimit = 4;
constexpr uint32_t kOrderBuyStop = 5;
constexpr uint32_t kOrderSellStop = 6;
constexpr uint32_t kOrderBuyStopLimit = 7;
constexpr uint32_t kOrderSellStopLimit = 8;
constexpr uint32_t kOrderCloseBy = 9;

// Filling modes (0 in a request means FOK).
constexpr uint32_t kFillingFok = 1;
constexpr uint32_t kFillingIoc = 2;
constexpr uint32_t kFillingReturn = 3;

// Order lifetime (0 in a request means GTC).
constexpr uint32_t kTimeGtc = 1;
constexpr uint32_t kTimeDay = 2;
constexpr uint32_t kTimeSpecified = 3;
constexpr uint32_t kTimeSpecifiedDay = 4;

// Order states.
constexpr uint32_t kStatePlaced = 1;
constexpr uint32_t kStateCanceled = 2;
constexpr uint32_t kStateFilled = 3;
constexpr uint32_t kStateRejected = 4;
constexpr uint32_t kStateExpired = 5;

// Position types.
constexpr uint32_t kPositionBuy = 1;
constexpr uint32_t kPositionSell = 2;

// Deal types and entries.
constexpr uint32_t kDealBuy = 1;
constexpr uint32_t kDealSell = 2;
constexpr uint32_t kDealBalance = 3;
constexpr uint32_t kEntryIn = 1;
constexpr uint32_t kEntryOut = 2;
constexpr uint32_t kEntryOutBy = 3;

// Reasons (orders, deals, positions).
constexpr uint32_t kReasonApi = 1;
constexpr uint32_t kReasonSl = 2;
constexpr uint32_t kReasonTp = 3;
constexpr uint32_t kReasonDeposit = 4;
constexpr uint32_t kReasonSo = 5;  // closed by the terminal at stop-out

// Trade result codes (the retcode of order_check and order_send).
constexpr uint32_t kRetDone = 1;
constexpr uint32_t kRetPlaced = 2;
constexpr uint32_t kRetInvalid = 10;
constexpr uint32_t kRetInvalidVolume = 11;
constexpr uint32_t kRetInvalidPrice = 12;
constexpr uint32_t kRetInvalidStops = 13;
constexpr uint32_t kRetInvalidFill = 14;
constexpr uint32_t kRetInvalidExpiration = 15;
constexpr uint32_t kRetNoMoney = 16;
constexpr uint32_t kRetNotFound = 17;
constexpr uint32_t kRetTradeDisabled = 18;
constexpr uint32_t kRetRequote = 19;
constexpr uint32_t kRetInvalidOrder = 20;
constexpr uint32_t kRetLimitOrders = 21;
constexpr uint32_t kRetInvalidCloseBy = 22;
constexpr uint32_t kRetUnknownSymbol = 23;
constexpr uint32_t kRetError = 24;         // the account could not be committed to disk
constexpr uint32_t kRetMarketClosed = 25;

// Tick flags (bits).
constexpr uint32_t kTickBid = 1;
constexpr uint32_t kTickAsk = 2;
constexpr uint32_t kTickLast = 4;
constexpr uint32_t kTickVolume = 8;
constexpr uint32_t kTickBuy = 16;
constexpr uint32_t kTickSell = 32;

// Tick selections of copy_ticks_from / copy_ticks_range.
constexpr int32_t kCopyTicksAll = 0;
constexpr int32_t kCopyTicksQuotes = 1;
constexpr int32_t kCopyTicksTrades = 2;

// Book entry types.
constexpr uint32_t kBookSell = 1;
constexpr uint32_t kBookBuy = 2;

// Symbol properties.
constexpr uint32_t kChartModeBid = 1;
constexpr uint32_t kCalcForex = 1;
constexpr uint32_t kCalcCfd = 2;
constexpr uint32_t kSymbolTradeFull = 5;
constexpr uint32_t kExecutionMarket = 1;
constexpr uint32_t kSwapDisabled = 0;
// Bit masks of the symbol record's filling_mode, expiration_mode, order_mode.
constexpr int32_t kFillingMask = 0x7;      // FOK | IOC | RETURN
constexpr int32_t kExpirationMask = 0xF;   // GTC | DAY | SPECIFIED | SPECIFIED_DAY
constexpr int32_t kOrderModeMask = 0x7F;   // market | limit | stop | stop limit | sl | tp | close by

// Account properties.
constexpr uint32_t kAccountDemo = 1;
constexpr uint32_t kStopOutPercent = 1;
constexpr uint32_t kMarginHedging = 1;

// Limits.
constexpr int64_t kHistoryStart = 1262304000;  // 2010-01-01 00:00:00 UTC
constexpr uint32_t kMaxBars = 1000000;         // bars in one reply
constexpr uint32_t kMaxTicks = 1000000;        // ticks in one reply
constexpr uint32_t kMaxRequest = 1 << 20;      // bytes after a request's length word
constexpr uint32_t kBookDepth = 10;            // levels on each side
constexpr uint32_t kMaxOrders = 200;           // active pending orders per account

}  // namespace brv::paper
