"""A first session with borvane against the paper terminal.

Connects (the module starts the paper terminal when it is not running),
shows the terminal and the account, a few symbols with their last ticks and
the last 20 hourly bars, then buys, shows the position, closes it, shows the
deals, and shuts down. Run it with `make demo`, or `python examples/quickstart.py`
(with the path of another terminal64.exe as its argument: that terminal).
"""

from __future__ import annotations

import datetime
import sys
from typing import Optional, TypeVar

import numpy as np
import numpy.typing as npt

import borvane as brv
import borvane.paper as paper

SYMBOL = "EURUSD"


def utc(seconds: float) -> str:
    return datetime.datetime.fromtimestamp(int(seconds), datetime.timezone.utc).strftime("%Y-%m-%d %H:%M")


def section(title: str) -> None:
    print()
    print(title)
    print("-" * len(title))


def show_bars(rates: npt.NDArray[np.void], digits: int) -> None:
    print("%-16s %10s %10s %10s %10s %8s %6s" % ("time (UTC)", "open", "high", "low", "close", "ticks", "spread"))
    for r in rates:
        print("%-16s %10.*f %10.*f %10.*f %10.*f %8d %6d" % (
            utc(r["time"]), digits, r["open"], digits, r["high"], digits, r["low"], digits, r["close"],
            r["tick_volume"], r["spread"]))


T = TypeVar("T")


class CallFailed(Exception):
    pass


def need(value: Optional[T], what: str) -> T:
    """The value of a call that succeeded; a failed one (None) ends the session."""
    if value is None:
        raise CallFailed("%s failed: %s" % (what, brv.last_error()))
    return value


def run() -> int:
    terminal = need(brv.terminal_info(), "terminal_info")
    version = brv.version()
    section("Terminal")
    print("%s %s" % (terminal.name, version[2]))
    print("installed in  %s" % terminal.path)
    print("data folder   %s" % terminal.data_path)
    print("auto-trading  %s" % ("on" if terminal.trade_allowed else "off"))

    account = need(brv.account_info(), "account_info")
    section("Account")
    print("%d  %s  on %s" % (account.login, account.name, account.server))
    print("balance %.2f %s, equity %.2f, free margin %.2f, leverage 1:%d" % (
        account.balance, account.currency, account.equity, account.margin_free, account.leverage))

    section("Symbols (%d in the catalogue)" % need(brv.symbols_total(), "symbols_total"))
    print("%-8s %-34s %12s %12s %7s  %s" % ("symbol", "description", "bid", "ask", "spread", "last tick (UTC)"))
    for name in (SYMBOL, "USDJPY", "XAUUSD", "US500", "BTCUSD"):
        info = need(brv.symbol_info(name), "symbol_info")
        tick = need(brv.symbol_info_tick(name), "symbol_info_tick")
        stamp = datetime.datetime.fromtimestamp(tick.time_msc / 1000, datetime.timezone.utc)
        print("%-8s %-34s %12.*f %12.*f %7d  %s" % (
            name, info.description, info.digits, tick.bid, info.digits, tick.ask, info.spread,
            stamp.strftime("%Y-%m-%d %H:%M:%S.%f")[:-3]))

    # Forex closes for the weekend (Friday 22:00 to Sunday 22:00 UTC); crypto
    # trades every day. On a weekend the session trades Bitcoin instead.
    symbol = SYMBOL
    probe = need(brv.order_check({"action": paper.TRADE_ACTION_DEAL, "symbol": SYMBOL, "volume": 0.01,
                                  "type": paper.ORDER_TYPE_BUY}), "order_check")
    if probe.retcode == paper.RETCODE_MARKET_CLOSED:
        symbol = "BTCUSD"
        section("%s: market closed for the weekend; trading %s, which trades every day" % (SYMBOL, symbol))
    digits = need(brv.symbol_info(symbol), "symbol_info").digits
    rates = need(brv.copy_rates_from_pos(symbol, paper.TIMEFRAME_H1, 0, 20), "copy_rates_from_pos")
    section("%s, last 20 hourly bars (the last one is still forming while the market is open)" % symbol)
    show_bars(rates, digits)

    request: brv.TradeRequestDict = {
        "action": paper.TRADE_ACTION_DEAL,
        "symbol": symbol,
        "volume": 0.1,
        "type": paper.ORDER_TYPE_BUY,
        "type_filling": paper.ORDER_FILLING_FOK,
        "comment": "quickstart",
    }
    check = need(brv.order_check(request), "order_check")
    section("Buy 0.1 lot of %s" % symbol)
    print("check: %s (margin %.2f, free margin after %.2f)" % (check.comment, check.margin, check.margin_free))
    result = need(brv.order_send(request), "order_send")
    print("send:  retcode %d %s, order %d, deal %d, price %.*f" % (
        result.retcode, result.comment, result.order, result.deal, digits, result.price))
    if result.retcode != paper.RETCODE_DONE:
        return 1

    section("Open position")
    for p in need(brv.positions_get(symbol=symbol), "positions_get"):
        kind = "buy" if p.type == paper.POSITION_TYPE_BUY else "sell"
        print("#%d %s %s %.2f at %.*f, now %.*f, profit %.2f" % (
            p.ticket, kind, p.symbol, p.volume, digits, p.price_open, digits, p.price_current, p.profit))
    account = need(brv.account_info(), "account_info")
    print("account: equity %.2f = balance %.2f + profit %.2f; margin %.2f" % (
        account.equity, account.balance, account.profit, account.margin))

    close: brv.TradeRequestDict = {**request, "type": paper.ORDER_TYPE_SELL, "position": result.order}
    closed = need(brv.order_send(close), "order_send")
    section("Close the position")
    print("send:  retcode %d %s, deal %d, price %.*f" % (
        closed.retcode, closed.comment, closed.deal, digits, closed.price))

    section("Deals of the position")
    entries = {paper.DEAL_ENTRY_IN: "in", paper.DEAL_ENTRY_OUT: "out", paper.DEAL_ENTRY_OUT_BY: "out by"}
    for d in need(brv.history_deals_get(position=result.order), "history_deals_get"):
        kind = "buy" if d.type == paper.DEAL_TYPE_BUY else "sell"
        print("#%d order #%d  %s  %-4s %-6s %.2f %s at %.*f  profit %.2f" % (
            d.ticket, d.order, utc(d.time), kind, entries.get(d.entry, "?"), d.volume, d.symbol, digits,
            d.price, d.profit))
    print("balance now %.2f %s" % (need(brv.account_info(), "account_info").balance, account.currency))
    return 0


def main() -> int:
    # The bundled paper terminal, or the terminal64.exe named on the command line.
    path = sys.argv[1] if len(sys.argv) > 1 else paper.executable()
    was_running = paper.is_running(path)
    if not brv.initialize(path=path):
        print("initialize failed: %s" % (brv.last_error(),))
        return 1
    try:
        code = run()
    except CallFailed as failure:
        print(failure)
        code = 1
    finally:
        brv.shutdown()
        if not was_running:
            paper.stop(path)  # leave the machine as we found it
    print()
    print("Disconnected.")
    return code


if __name__ == "__main__":
    sys.exit(main())
