// The trade server's rules: what a request must satisfy, and when a tick
// triggers a pending order or hits a position's stops; then the wording of
// results and log lines.
#include <cmath>
#include <cstdio>

#include "paper/codes.h"
#include "paper/engine_parts.h"

namespace brv::paper {

bool IsBuy(uint32_t type) {
  return type == kOrderBuy || type == kOrderBuyLimit || type == kOrderBuyStop || type == kOrderBuyStopLimit;
}

bool IsPendingType(uint32_t type) { return type >= kOrderBuyLimit && type <= kOrderSellStopLimit; }

double RoundMoney(double amount) { return RoundPrice(amount, kCurrencyDigits); }

bool VolumeValid(const SymbolSpec& instrument, double volume) {
  if (!(volume >= instrument.volume_min - kEps) || volume > instrument.volume_max + kEps) return false;
  double steps = volume / instrument.volume_step;
  return std::fabs(steps - std::round(steps)) < 1e-6;
}

bool StopsValid(const SymbolSpec& instrument, bool buy, double reference, double sl, double tp) {
  if (sl < 0 || tp < 0) return false;
  const double gap = StopsLevel(instrument) * instrument.point() - kEps;
  if (buy) return (sl == 0 || sl <= reference - gap) && (tp == 0 || tp >= reference + gap);
  return (sl == 0 || sl >= reference + gap) && (tp == 0 || tp <= reference - gap);
}

bool Normalize(const SymbolSpec& instrument, double* price) {
  double rounded = RoundPrice(*price, instrument.digits);
  if (std::fabs(rounded - *price) > instrument.point() * 1e-6) return false;
  *price = rounded;
  return true;
}

namespace {

int64_t EndOfDay(int64_t seconds) { return (FloorDiv(seconds, 86400) + 1) * 86400; }

}  // namespace

int64_t Expiration(uint32_t type_time, int64_t expiration, int64_t now_ms) {
  int64_t now_s = FloorDiv(now_ms, 1000);
  switch (type_time) {
    case 0:
    case kTimeGtc:
      return 0;
    case kTimeDay:
      return EndOfDay(now_s);
    case kTimeSpecified:
      return expiration * 1000 > now_ms ? expiration : -1;
    case kTimeSpecifiedDay:
      return EndOfDay(expiration) * 1000 > now_ms ? EndOfDay(expiration) : -1;
    default:
      return -1;
  }
}

bool PendingPriceValid(uint32_t type, double price, double stoplimit, const Tick& tick) {
  if (!(price > 0)) return false;
  switch (type) {
    case kOrderBuyLimit: return price < tick.ask;
    case kOrderSellLimit: return price > tick.bid;
    case kOrderBuyStop: return price > tick.ask;
    case kOrderSellStop: return price < tick.bid;
    case kOrderBuyStopLimit: return price > tick.ask && stoplimit > 0 && stoplimit < price;
    case kOrderSellStopLimit: return price < tick.bid && stoplimit > price;
    default: return true;
  }
}

bool OrderTriggers(const Order& o, const Tick& t) {
  switch (o.type) {
    case kOrderBuyLimit:
      return t.ask <= o.price_open + kEps;
    case kOrderSellLimit:
      return t.bid >= o.price_open - kEps;
    case kOrderBuyStop:
    case kOrderBuyStopLimit:
      return t.ask >= o.price_open - kEps;
    case kOrderSellStop:
    case kOrderSellStopLimit:
      return t.bid <= o.price_open + kEps;
    default:
      return false;
  }
}

uint32_t StopHit(const Position& p, const Tick& t) {
  if (p.type == kPositionBuy) {
    if (p.sl > 0 && t.bid <= p.sl + kEps) return kReasonSl;
    if (p.tp > 0 && t.bid >= p.tp - kEps) return kReasonTp;
  } else {
    if (p.sl > 0 && t.ask >= p.sl - kEps) return kReasonSl;
    if (p.tp > 0 && t.ask <= p.tp + kEps) return kReasonTp;
  }
  return 0;
}

// ---- wording ---------------------------------------------------------------

std::u16string Ascii(const std::string& s) {
  std::u16string out;
  for (char c : s) out += char16_t(static_cast<unsigned char>(c));
  return out;
}

std::u16string FormatPrice(const char* prefix, double price, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s %.*f", prefix, digits, price);
  return Ascii(buf);
}

std::string FormatNumber(double value, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.*f", digits, value);
  return buf;
}

std::string ReasonText(uint32_t reason) {
  switch (reason) {
    case kReasonSl: return " (stop loss)";
    case kReasonTp: return " (take profit)";
    case kReasonSo: return " (stop out)";
    default: return "";
  }
}

TradeResult Fail(uint32_t retcode, const char* comment) {
  TradeResult r;
  r.retcode = retcode;
  r.comment = Ascii(comment);
  return r;
}

}  // namespace brv::paper
