// Account figures in the account currency: conversion between currencies at
// mid prices, margin, profit, and the equity and margin level they give.
#include "paper/codes.h"
#include "paper/engine_parts.h"

namespace brv::paper {

double Engine::Conversion(const std::string& from, const std::string& to, int64_t at_ms) const {
  if (from == to) return 1.0;
  for (const auto& instrument : Catalogue()) {
    if (instrument.calc_mode != kCalcForex) continue;
    if (instrument.base == from && instrument.profit == to) {
      Tick t = market_.LastTick(instrument, at_ms);
      return (t.bid + t.ask) / 2;
    }
    if (instrument.base == to && instrument.profit == from) {
      Tick t = market_.LastTick(instrument, at_ms);
      return 2 / (t.bid + t.ask);
    }
  }
  if (from != "USD" && to != "USD") return Conversion(from, "USD", at_ms) * Conversion("USD", to, at_ms);
  return 1.0;
}

double Engine::Margin(const Account& account, const SymbolSpec& instrument, double volume, double price,
                      int64_t at_ms) const {
  double amount = volume * instrument.contract * price / account.config->leverage * instrument.margin_rate;
  return RoundMoney(amount * Conversion(instrument.profit, account.config->currency, at_ms));
}

double Engine::Profit(const Account& account, const SymbolSpec& instrument, uint32_t position_type, double volume,
                      double open, double close, int64_t at_ms) const {
  double diff = position_type == kPositionBuy ? close - open : open - close;
  return RoundMoney(diff * instrument.contract * volume * Conversion(instrument.profit, account.config->currency, at_ms));
}

double Engine::PositionPriceCurrent(const Position& p, int64_t now_ms) const {
  Tick t = market_.LastTick(*p.instrument, now_ms);
  return p.type == kPositionBuy ? t.bid : t.ask;
}

double Engine::OrderPriceCurrent(const Order& o, int64_t now_ms) const {
  Tick t = market_.LastTick(*o.instrument, now_ms);
  return IsBuy(o.type) ? t.ask : t.bid;
}

double Engine::PositionProfit(const Account& account, const Position& p, int64_t now_ms) const {
  return Profit(account, *p.instrument, p.type, p.volume, p.price_open, PositionPriceCurrent(p, now_ms), now_ms);
}

Figures Engine::ComputeFigures(const Account& account, int64_t now_ms) const {
  Figures f;
  f.balance = account.balance;
  for (const auto& p : account.positions) {
    f.profit += PositionProfit(account, p, now_ms);
    f.margin += Margin(account, *p.instrument, p.volume, p.price_open, now_ms);
  }
  f.equity = f.balance + f.credit + f.profit;
  f.margin_free = f.equity - f.margin;
  f.margin_level = f.margin > 0 ? f.equity / f.margin * 100.0 : 0.0;
  return f;
}

bool Engine::CalcMargin(uint32_t type, const SymbolSpec& instrument, double volume, double price, int64_t now_ms,
                        double* margin) const {
  if (type < kOrderBuy || type > kOrderSellStopLimit) return false;
  *margin = Margin(current(), instrument, volume, price, now_ms);
  return true;
}

bool Engine::CalcProfit(uint32_t type, const SymbolSpec& instrument, double volume, double open, double close,
                        int64_t now_ms, double* profit) const {
  if (type < kOrderBuy || type > kOrderSellStopLimit) return false;
  *profit = Profit(current(), instrument, IsBuy(type) ? kPositionBuy : kPositionSell, volume, open, close, now_ms);
  return true;
}

}  // namespace brv::paper
