"""End to end through borvane: the paper terminal's market data (how bars
add up is checked by the price model's unit tests)."""

import time

import numpy as np
import pytest

import borvane as brv
import borvane.paper as paper
from paper_helpers import WEEKDAY_NOON, connected, install, isolated, pin_clock, started  # noqa: F401


def test_copy_rates_from_and_range_semantics(connected):
    while brv.symbol_info_tick("EURUSD").time % 3600 > 3590:  # no new hour within the test
        time.sleep(0.5)
    now = brv.symbol_info_tick("EURUSD").time
    anchor = now // 3600 * 3600 - 10 * 3600
    bars = brv.copy_rates_from("EURUSD", paper.TIMEFRAME_H1, anchor + 1800, 5)
    # The bars up to the one holding date_from, oldest first.
    assert list(bars["time"]) == [anchor - 3600 * k for k in range(4, -1, -1)]
    bars = brv.copy_rates_range("EURUSD", paper.TIMEFRAME_H1, anchor + 1, anchor + 3 * 3600)
    assert list(bars["time"]) == [anchor + 3600, anchor + 7200, anchor + 10800]
    # A range reaching into the future stops at the current bar.
    bars = brv.copy_rates_range("EURUSD", paper.TIMEFRAME_H1, now - 7200, now + 10 * 86400)
    assert bars["time"][-1] == now // 3600 * 3600
    assert len(brv.copy_rates_from_pos("EURUSD", paper.TIMEFRAME_H1, 0, 0)) == 0


def test_years_of_minute_history_are_served_deterministically(connected):
    day = 1330560000  # 2012-03-01 00:00 UTC
    bars = brv.copy_rates_range("AUDUSD", paper.TIMEFRAME_M1, day, day + 86399)
    assert len(bars) == 1440
    assert (np.diff(bars["time"]) == 60).all()
    # History starts at a fixed date; nothing comes before it. 2010-01-02 was
    # a Saturday: forex has no bar that day, crypto has.
    for symbol, days in (("AUDUSD", [0, 2]), ("BTCUSD", [0, 1, 2])):
        first = brv.copy_rates_range(symbol, paper.TIMEFRAME_D1, 0, paper.HISTORY_START + 2 * 86400)
        assert list(first["time"]) == [paper.HISTORY_START + k * 86400 for k in days]


@pytest.mark.parametrize("selection, required", [
    (paper.COPY_TICKS_ALL, 0),
    (paper.COPY_TICKS_QUOTES, paper.TICK_FLAG_BID | paper.TICK_FLAG_ASK),
    (paper.COPY_TICKS_TRADES, paper.TICK_FLAG_LAST),
])
def test_copy_ticks_from_selects_and_orders_ticks(connected, selection, required):
    start = brv.symbol_info_tick("ETHUSD").time - 3 * 3600
    ticks = brv.copy_ticks_from("ETHUSD", start, 500, selection)
    assert len(ticks) == 500
    assert ticks["time_msc"][0] >= start * 1000
    assert (np.diff(ticks["time_msc"]) > 0).all()
    assert (ticks["time"] == ticks["time_msc"] // 1000).all()
    if required:
        assert (ticks["flags"] & required != 0).all()


@pytest.mark.parametrize("name", ["EURUSD", "USDJPY", "XAUUSD", "US500", "DE40", "BTCUSD"])
def test_symbol_records_are_complete(connected, name):
    s = brv.symbol_info(name)
    tick = brv.symbol_info_tick(name)
    assert s.name == name and s.description and s.path.endswith(name)
    assert s.point == pytest.approx(10.0 ** -s.digits)
    assert 0 < s.bid < s.ask
    assert s.spread == round((s.ask - s.bid) / s.point)
    assert s.bidlow <= s.bid <= s.bidhigh and s.session_open > 0 and s.session_close > 0
    assert s.trade_contract_size > 0 and s.trade_tick_size == s.point and s.trade_tick_value > 0
    assert 0 < s.volume_min <= s.volume_step <= s.volume_max
    assert s.currency_profit and s.currency_base and s.trade_mode == paper.SYMBOL_TRADE_MODE_FULL
    assert tick.time >= s.time


def test_symbol_catalogue_and_selection(connected):
    names = [s.name for s in brv.symbols_get()]
    assert len(set(names)) == len(names) == brv.symbols_total() >= 12
    assert {"EURUSD", "GBPUSD", "USDJPY", "XAUUSD", "XAGUSD", "US500", "BTCUSD"} <= set(names)
    assert not brv.symbol_info("NZDUSD").select
    assert brv.symbol_select("NZDUSD", True) and brv.symbol_info("NZDUSD").select
    assert brv.symbol_select("NZDUSD", False) and not brv.symbol_info("NZDUSD").select
    assert not brv.symbol_select("NOSUCH", True) and brv.last_error()[0] == -4
    assert brv.symbol_info("NOSUCH") is None and brv.last_error()[0] == -4


def test_market_book_of_subscribed_symbols(connected):
    assert brv.market_book_get("EURUSD") is None and brv.last_error()[0] == -4
    assert brv.market_book_add("EURUSD")
    book = brv.market_book_get("EURUSD")
    assert len(book) == 20
    prices = [e.price for e in book]
    assert prices == sorted(prices, reverse=True)
    asks = [e for e in book if e.type == paper.BOOK_TYPE_SELL]
    bids = [e for e in book if e.type == paper.BOOK_TYPE_BUY]
    assert len(asks) == len(bids) == 10 and min(a.price for a in asks) > max(b.price for b in bids)
    assert all(e.volume > 0 and e.volume_dbl == e.volume for e in book)
    assert brv.market_book_release("EURUSD")
    assert not brv.market_book_release("EURUSD")


SATURDAY_NOON = 1796472000  # 2026-12-05 12:00 UTC
FRIDAY_CLOSE = 1796421600   # 2026-12-04 22:00 UTC
SUNDAY_OPEN = FRIDAY_CLOSE + 2 * 86400


@pytest.mark.parametrize("symbol, closed, now", [
    ("EURUSD", True, SATURDAY_NOON), ("XAUUSD", True, SATURDAY_NOON), ("US500", True, SATURDAY_NOON),
    ("BTCUSD", False, SATURDAY_NOON),
    ("EURUSD", True, FRIDAY_CLOSE + 30),  # the minute of the close is closed already
])
def test_weekend_closes_all_but_crypto(started, symbol, closed, now):
    pin_clock(started.install, start_time=now)
    assert brv.initialize(path=started.install), brv.last_error()
    result = brv.order_send(action=paper.TRADE_ACTION_DEAL, symbol=symbol, type=paper.ORDER_TYPE_BUY,
                            volume=0.1)
    assert result.retcode == (paper.RETCODE_MARKET_CLOSED if closed else paper.RETCODE_DONE)
    tick = brv.symbol_info_tick(symbol)
    weekend = brv.copy_ticks_range(symbol, FRIDAY_CLOSE + 1, now, paper.COPY_TICKS_ALL)
    hours = brv.copy_rates_from_pos(symbol, paper.TIMEFRAME_H1, 0, 30)
    assert len(hours) == 30
    if closed:
        assert FRIDAY_CLOSE - 60 <= tick.time < FRIDAY_CLOSE and len(weekend) == 0
        # Position 0 is the last bar there is: the counts skip the closed hours.
        assert hours["time"][-1] == FRIDAY_CLOSE - 3600
        assert tick.bid == hours["close"][-1]
        sunday = brv.copy_rates_range(symbol, paper.TIMEFRAME_M1, SUNDAY_OPEN - 7200, SUNDAY_OPEN + 3600)
        assert len(sunday) == 0  # still Saturday on the terminal's clock
    else:
        assert tick.time >= SATURDAY_NOON - 1 and len(weekend) > 0
        assert hours["time"][-1] == SATURDAY_NOON - 0  # the current, forming bar


@pytest.mark.parametrize("cross, first, second, combine", [
    ("EURJPY", "EURUSD", "USDJPY", np.multiply),
    ("EURGBP", "EURUSD", "GBPUSD", np.divide),
    ("GBPJPY", "GBPUSD", "USDJPY", np.multiply),
])
def test_cross_rates_follow_their_legs(connected, cross, first, second, combine):
    # The first tick of every minute sits on the model's anchor, where a
    # cross is exactly the product or ratio of its legs (up to rounding).
    start = WEEKDAY_NOON - 7200

    def minute_mids(symbol):
        ticks = brv.copy_ticks_range(symbol, start, start + 3600, paper.COPY_TICKS_ALL)
        ticks = ticks[ticks["time_msc"] % 60000 == 0]
        return (ticks["bid"] + ticks["ask"]) / 2, ticks["ask"] - ticks["bid"]

    mid, spread = minute_mids(cross)
    legs = combine(minute_mids(first)[0], minute_mids(second)[0])
    assert len(mid) == 61  # both ends inclusive
    assert (np.abs(mid - legs) <= spread / 2).all()


def test_majors_move_together_through_common_factors(connected):
    returns = {s: np.diff(np.log(brv.copy_rates_from_pos(s, paper.TIMEFRAME_D1, 1, 250)["close"]))
               for s in ("EURUSD", "USDCHF", "AUDUSD", "NZDUSD")}
    assert np.corrcoef(returns["EURUSD"], returns["USDCHF"])[0, 1] < -0.6
    assert np.corrcoef(returns["AUDUSD"], returns["NZDUSD"])[0, 1] > 0.4
