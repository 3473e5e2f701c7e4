"""End to end through borvane: the paper terminal's market data. Bars of
every timeframe must be the aggregates of shorter ones and of the ticks,
history reaches back years, and the symbol records are complete."""

import numpy as np
import pytest

import borvane as brv
import borvane.paper as paper
from test_group import match_group
import paper_helpers
from paper_helpers import connected, install, isolated, started  # noqa: F401


def clear_of_hour_boundary(symbol="EURUSD"):
    """Waits, if need be, so that the next hour does not start within the test."""
    import time

    while brv.symbol_info_tick(symbol).time % 3600 > 3590:
        time.sleep(0.5)


def assert_aggregate(bar, parts):
    assert len(parts) > 0
    assert parts["open"][0] == bar["open"]
    assert parts["close"][-1] == bar["close"]
    assert parts["high"].max() == bar["high"]
    assert parts["low"].min() == bar["low"]
    assert parts["tick_volume"].sum() == bar["tick_volume"]
    assert parts["real_volume"].sum() == bar["real_volume"]
    assert parts["spread"].min() == bar["spread"]


@pytest.mark.parametrize("symbol, big, small, n", [
    ("EURUSD", paper.TIMEFRAME_H1, paper.TIMEFRAME_M1, 3),
    ("BTCUSD", paper.TIMEFRAME_H4, paper.TIMEFRAME_M15, 2),
    ("XAUUSD", paper.TIMEFRAME_D1, paper.TIMEFRAME_H1, 2),
    ("US500", paper.TIMEFRAME_W1, paper.TIMEFRAME_D1, 1),
    ("USDJPY", paper.TIMEFRAME_MN1, paper.TIMEFRAME_D1, 1),
])
def test_bars_are_aggregates_of_shorter_bars(connected, symbol, big, small, n):
    bars = brv.copy_rates_from_pos(symbol, big, 0, n + 1)
    assert len(bars) == n + 1
    for bar, following in zip(bars[:-1], bars[1:]):
        parts = brv.copy_rates_range(symbol, small, int(bar["time"]), int(following["time"]) - 1)
        assert parts["time"][0] == bar["time"]
        assert_aggregate(bar, parts)


def test_minute_bars_are_the_ticks(connected):
    bars = brv.copy_rates_from_pos("GBPUSD", paper.TIMEFRAME_M1, 1, 3)
    for bar in bars:
        t = int(bar["time"])
        ticks = brv.copy_ticks_range("GBPUSD", t, t + 60, paper.COPY_TICKS_ALL)
        ticks = ticks[ticks["time_msc"] < (t + 60) * 1000]
        assert ticks["time_msc"][0] == t * 1000  # every minute opens with a tick
        assert bar["open"] == ticks["bid"][0] and bar["close"] == ticks["bid"][-1]
        assert bar["high"] == ticks["bid"].max() and bar["low"] == ticks["bid"].min()
        assert bar["tick_volume"] == len(ticks)
        assert bar["real_volume"] == ticks["volume"].sum()


def test_current_bar_is_position_zero_and_holds_the_last_tick(connected):
    clear_of_hour_boundary()
    before = brv.copy_rates_from_pos("EURUSD", paper.TIMEFRAME_H1, 0, 1)[0]
    tick = brv.symbol_info_tick("EURUSD")
    after = brv.copy_rates_from_pos("EURUSD", paper.TIMEFRAME_H1, 0, 1)[0]
    assert after["time"] == tick.time // 3600 * 3600
    assert tick.bid in (before["close"], after["close"])
    assert after["low"] <= tick.bid <= after["high"]
    previous = brv.copy_rates_from_pos("EURUSD", paper.TIMEFRAME_H1, 1, 1)[0]
    assert previous["time"] == after["time"] - 3600


def test_copy_rates_from_and_range_semantics(connected):
    clear_of_hour_boundary()
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
    assert (bars["low"] <= bars["open"]).all() and (bars["open"] <= bars["high"]).all()
    assert (bars["low"] <= bars["close"]).all() and (bars["close"] <= bars["high"]).all()
    again = brv.copy_rates_range("AUDUSD", paper.TIMEFRAME_M1, day, day + 86399)
    assert bars.tobytes() == again.tobytes()
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
    assert (ticks["bid"] < ticks["ask"]).all()
    known = (paper.TICK_FLAG_BID | paper.TICK_FLAG_ASK | paper.TICK_FLAG_LAST | paper.TICK_FLAG_VOLUME
             | paper.TICK_FLAG_BUY | paper.TICK_FLAG_SELL)
    assert ((ticks["flags"] | known) == known).all()
    if required:
        assert (ticks["flags"] & required != 0).all()
    trades = ticks[ticks["flags"] & paper.TICK_FLAG_LAST != 0]
    assert (trades["volume"] > 0).all()
    buys = trades["flags"] & paper.TICK_FLAG_BUY != 0
    assert (np.where(buys, trades["ask"], trades["bid"]) == trades["last"]).all()


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
    assert {s.name for s in brv.symbols_get(group="*USD*,!XAU*")} == {
        n for n in names if "USD" in n and not n.startswith("XAU")}
    assert not brv.symbol_info("NZDUSD").select
    assert brv.symbol_select("NZDUSD", True) and brv.symbol_info("NZDUSD").select
    assert brv.symbol_select("NZDUSD", False) and not brv.symbol_info("NZDUSD").select
    assert not brv.symbol_select("NOSUCH", True) and brv.last_error()[0] == -4
    assert brv.symbol_info("NOSUCH") is None and brv.last_error()[0] == -4


@pytest.mark.parametrize("group", ["*,!!EUR*", "*,!", "Q" * 255 + "ZEUR*", "*D*,!*U*D", " EUR* , GBP*"])
def test_symbols_get_group_is_the_module_filter(connected, group):
    names = [s.name for s in brv.symbols_get()]
    assert [s.name for s in brv.symbols_get(group=group)] == [n for n in names if match_group(group, n)]


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


@pytest.mark.parametrize("symbol, closed", [("EURUSD", True), ("XAUUSD", True), ("US500", True),
                                            ("BTCUSD", False)])
def test_weekend_closes_all_but_crypto(started, symbol, closed):
    from paper_helpers import pin_clock
    pin_clock(started.install, start_time=SATURDAY_NOON)
    assert brv.initialize(path=started.install), brv.last_error()
    result = brv.order_send(action=paper.TRADE_ACTION_DEAL, symbol=symbol, type=paper.ORDER_TYPE_BUY,
                            volume=0.1)
    assert result.retcode == (paper.RETCODE_MARKET_CLOSED if closed else paper.RETCODE_DONE)
    tick = brv.symbol_info_tick(symbol)
    weekend = brv.copy_ticks_range(symbol, FRIDAY_CLOSE + 1, SATURDAY_NOON, paper.COPY_TICKS_ALL)
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
    start = paper_helpers.WEEKDAY_NOON - 7200

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
