#include "paper/catalogue.h"

#include <cmath>

#include "paper/codes.h"

namespace brv::paper {
namespace {

// name, description, path, category, base, profit, margin currency, calc mode, digits,
// base price, daily volatility, spread (points), contract, margin rate, ticks per minute,
// session hours, volume min, max, step, selected at start
const std::vector<SymbolSpec> kCatalogue = {
    {0, "EURUSD", "Euro vs US Dollar", "Forex\\Majors\\EURUSD", "Forex", "EUR", "USD", "EUR", kCalcForex, 5,
     1.0850, 0.005, 12, 100000, 1, 14, true, 0.01, 100, 0.01, true},
    {1, "GBPUSD", "Great Britain Pound vs US Dollar", "Forex\\Majors\\GBPUSD", "Forex", "GBP", "USD", "GBP",
     kCalcForex, 5, 1.2650, 0.006, 15, 100000, 1, 12, true, 0.01, 100, 0.01, true},
    {2, "USDJPY", "US Dollar vs Japanese Yen", "Forex\\Majors\\USDJPY", "Forex", "USD", "JPY", "USD", kCalcForex,
     3, 149.50, 0.006, 14, 100000, 1, 12, true, 0.01, 100, 0.01, true},
    {3, "USDCHF", "US Dollar vs Swiss Franc", "Forex\\Majors\\USDCHF", "Forex", "USD", "CHF", "USD", kCalcForex, 5,
     0.8850, 0.005, 16, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {4, "AUDUSD", "Australian Dollar vs US Dollar", "Forex\\Majors\\AUDUSD", "Forex", "AUD", "USD", "AUD",
     kCalcForex, 5, 0.6550, 0.007, 14, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {5, "USDCAD", "US Dollar vs Canadian Dollar", "Forex\\Majors\\USDCAD", "Forex", "USD", "CAD", "USD",
     kCalcForex, 5, 1.3550, 0.005, 18, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {6, "NZDUSD", "New Zealand Dollar vs US Dollar", "Forex\\Majors\\NZDUSD", "Forex", "NZD", "USD", "NZD",
     kCalcForex, 5, 0.6050, 0.007, 20, 100000, 1, 7, true, 0.01, 100, 0.01, false},
    {7, "EURGBP", "Euro vs Great Britain Pound", "Forex\\Crosses\\EURGBP", "Forex", "EUR", "GBP", "EUR",
     kCalcForex, 5, 0.8580, 0.004, 16, 100000, 1, 8, true, 0.01, 100, 0.01, false},
    {8, "EURJPY", "Euro vs Japanese Yen", "Forex\\Crosses\\EURJPY", "Forex", "EUR", "JPY", "EUR", kCalcForex, 3,
     162.20, 0.006, 20, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {9, "GBPJPY", "Great Britain Pound vs Japanese Yen", "Forex\\Crosses\\GBPJPY", "Forex", "GBP", "JPY", "GBP",
     kCalcForex, 3, 189.10, 0.007, 28, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {10, "XAUUSD", "Gold vs US Dollar", "Metals\\XAUUSD", "Metals", "XAU", "USD", "XAU", kCalcCfd, 2, 2050.00,
     0.009, 30, 100, 1, 14, true, 0.01, 50, 0.01, true},
    {11, "XAGUSD", "Silver vs US Dollar", "Metals\\XAGUSD", "Metals", "XAG", "USD", "XAG", kCalcCfd, 3, 23.500,
     0.014, 25, 5000, 1, 9, true, 0.01, 50, 0.01, false},
    {12, "US500", "US 500 Cash Index", "Indices\\US500", "Indices", "USD", "USD", "USD", kCalcCfd, 2, 5000.00,
     0.010, 50, 10, 5, 16, true, 0.1, 500, 0.1, true},
    {13, "DE40", "Germany 40 Cash Index", "Indices\\DE40", "Indices", "EUR", "EUR", "EUR", kCalcCfd, 2, 17000.00,
     0.011, 150, 1, 5, 14, true, 0.1, 500, 0.1, false},
    {14, "BTCUSD", "Bitcoin vs US Dollar", "Crypto\\BTCUSD", "Crypto", "BTC", "USD", "BTC", kCalcCfd, 2,
     42000.00, 0.030, 1500, 1, 50, 20, false, 0.01, 10, 0.01, true},
    {15, "ETHUSD", "Ethereum vs US Dollar", "Crypto\\ETHUSD", "Crypto", "ETH", "USD", "ETH", kCalcCfd, 2, 2300.00,
     0.035, 150, 1, 50, 16, false, 0.01, 100, 0.01, false},
};

const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

}  // namespace

double PowerOfTen(int digits) { return digits >= 0 && digits <= 8 ? kPow10[digits] : std::pow(10.0, digits); }

double SymbolSpec::point() const { return 1.0 / PowerOfTen(digits); }

const std::vector<SymbolSpec>& Catalogue() { return kCatalogue; }

std::u16string SymbolName(const SymbolSpec& instrument) {
  std::u16string s;
  for (const char* p = instrument.name; *p; ++p) s += char16_t(*p);
  return s;
}

const SymbolSpec* FindSymbol(const std::u16string& name) {
  for (const auto& instrument : kCatalogue) {
    if (SymbolName(instrument) == name) return &instrument;
  }
  return nullptr;
}

int32_t StopsLevel(const SymbolSpec& instrument) { return int32_t(std::ceil(2 * instrument.spread)); }

double RoundPrice(double price, int digits) {
  double scale = PowerOfTen(digits);
  return std::round(price * scale) / scale;
}

}  // namespace brv::paper
