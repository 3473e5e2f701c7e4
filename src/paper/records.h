// Byte images of the records the terminal sends, one encoder per record
// table (link/records.h): each writes its fields by name.
#pragma once

#include <cstdint>
#include <string>

#include "link/records.h"
#include "paper/engine.h"
#include "paper/market.h"

namespace brv::paper {


void AppendTick(std::string* out, const Tick& t);
void AppendBar(std::string* out, const Bar& b);

struct SymbolState {
  bool selected;
  Tick tick;
  Aggregate today;        // the current UTC day up to now
  double previous_close;  // close of the previous day
  double tick_value;      // value of one tick of one lot in the account currency
};
std::string SymbolRecord(const SymbolSpec& instrument, const SymbolState& state);

std::string AccountRecord(const Account& account, const Figures& f, bool trade_expert);

struct TerminalState {
  bool trade_allowed;
  std::u16string path, data_path, commondata_path;
};
std::string TerminalRecord(const TerminalState& state);

std::string PositionRecord(const Position& p, double price_current, double profit);
std::string OrderRecord(const Order& o, double price_current);
std::string DealRecord(const Deal& d);

std::string CheckResultRecord(const TradeResult& r, const Figures& f);
std::string SendResultRecord(const TradeResult& r, uint32_t request_id);

void AppendBookEntry(std::string* out, uint32_t type, double price, uint64_t volume, double volume_dbl);

}  // namespace brv::paper
