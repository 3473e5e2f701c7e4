// The symbols the paper terminal offers: names, trading figures and the
// parameters of their price model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brv::paper {

struct SymbolSpec {
  int index;
  const char* name;
  const char* description;
  const char* path;
  const char* category;
  const char* base;
  const char* profit;
  const char* margin;
  uint32_t calc_mode;
  int digits;
  double base_price;    // centre of the price model
  double daily_vol;     // typical relative move per day
  double spread;        // typical spread in points
  double contract;      // contract size
  double margin_rate;   // margin = volume * contract * price / leverage * margin_rate
  double ticks_per_minute;
  bool session_hours;   // activity follows the trading sessions of the day
  double volume_min, volume_max, volume_step;
  bool selected;        // in the watch list at start
  double point() const;
};

const std::vector<SymbolSpec>& Catalogue();
const SymbolSpec* FindSymbol(const std::u16string& name);
std::u16string SymbolName(const SymbolSpec& instrument);

// Minimal distance of stops from the market (or from a pending order's
// price), in points: twice the symbol's typical spread.
int32_t StopsLevel(const SymbolSpec& instrument);

// Price rounded to the symbol's digits.
double RoundPrice(double price, int digits);

// 10^digits for digits 0..8.
double PowerOfTen(int digits);

}  // namespace brv::paper
