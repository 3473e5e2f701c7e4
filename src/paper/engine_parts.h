// What the engine's source files share: the trade server's rules (pure
// functions of a symbol, a request's prices and a tick) and the helpers that
// word results and log lines. Not part of the engine's interface.
#pragma once

#include <cstdint>
#include <string>

#include "paper/engine.h"

namespace brv::paper {

// Tolerance of price and volume comparisons.
constexpr double kEps = 1e-9;

bool IsBuy(uint32_t type);
bool IsPendingType(uint32_t type);

// Money is kept in the account currency's cents, as a trade server books it.
double RoundMoney(double amount);

// ---- rules of a request ---------------------------------------------------

// Within the symbol's volume limits and a whole number of volume steps.
bool VolumeValid(const SymbolSpec& instrument, double volume);
// Stops around a reference price, at least the symbol's stops level away:
// below and above for a buy, the other way round for a sell; 0 means no stop.
bool StopsValid(const SymbolSpec& instrument, bool buy, double reference, double sl, double tp);
// A price given with more digits than the symbol has is refused; one that
// differs from a whole number of points only by the binary representation's
// error is rounded to it.
bool Normalize(const SymbolSpec& instrument, double* price);
// Expiration (seconds, 0 = none) of a pending order, or -1 when invalid.
int64_t Expiration(uint32_t type_time, int64_t expiration, int64_t now_ms);
// The price (and stop limit) of a new pending order on the right side of
// the current tick: limits below (buy) or above (sell) it, stops beyond it.
bool PendingPriceValid(uint32_t type, double price, double stoplimit, const Tick& tick);

// ---- rules of a tick ------------------------------------------------------

// Whether the tick triggers the pending order: buys on the ask, sells on the bid.
bool OrderTriggers(const Order& o, const Tick& t);
// 0 when the stops of the position are not hit by the tick, else the
// reason: a buy closes on the bid, a sell on the ask.
uint32_t StopHit(const Position& p, const Tick& t);

// ---- wording --------------------------------------------------------------

std::u16string Ascii(const std::string& s);
std::u16string FormatPrice(const char* prefix, double price, int digits);
std::string FormatNumber(double value, int digits);
// The log's note of why a position closed ("" for a request).
std::string ReasonText(uint32_t reason);
// A refused request: its return code and comment.
TradeResult Fail(uint32_t retcode, const char* comment);

}  // namespace brv::paper
