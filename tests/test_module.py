"""The module surface: functions, record types, the last error, argument
limits, time arguments and the bar and tick array layouts."""

import datetime
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import borvane as brv
import records as R
from conftest import require

UTC = datetime.timezone.utc
INVALID = (-2, "Invalid arguments")
EMOJI = "\U0001F600"

# name, calling convention, signature line, description line
FUNCTIONS = [
    ("initialize", "kw", 'initialize([path],[server="SERVER"],[login=LOGIN],[password="PASSWORD"])',
     "Establish connection to Borvane terminal"),
    ("shutdown", "none", "shutdown()", "Disconnect from Borvane terminal"),
    ("login", "kw", 'login(login,[server="SERVER"],[password="PASSWORD"])',
     "Log in to specific account"),
    ("version", "none", "version()", "Get Borvane terminal version"),
    ("terminal_info", "none", "terminal_info()", "Get parameters of Borvane terminal"),
    ("account_info", "none", "account_info()", "Return information on the current account"),
    ("copy_ticks_from", "pos", "copy_ticks_from(symbol, date_from, count, flags)",
     "Get ticks starting from specific date"),
    ("copy_ticks_range", "pos", "copy_ticks_range(symbol, date_from, date_to, flags)",
     "Get ticks from specified period"),
    ("copy_rates_from", "pos", "copy_rates_from(symbol, timeframe, date_from, count)",
     "Get bars starting from specific date"),
    ("copy_rates_from_pos", "pos", "copy_rates_from_pos(symbol, timeframe, start_pos, count)",
     "Get bars starting from specified position"),
    ("copy_rates_range", "pos", "copy_rates_range(symbol, timeframe, date_from, date_to)",
     "Get bars from specified period"),
    ("positions_total", "none", "positions_total()", "Return the number of open positions"),
    ("positions_get", "kw", 'positions_get([symbol="SYMBOL"],[ticket=TICKET],[group="GROUP"])',
     "Return all open positions, can be filtered by symbol, group or ticket"),
    ("orders_total", "none", "orders_total()", "Return the number of orders"),
    ("orders_get", "kw", 'orders_get([symbol="SYMBOL"],[ticket=TICKET],[group="GROUP"])',
     "Return all orders, can be filtered by symbol, group or ticket"),
    ("history_orders_total", "pos", "history_orders_total(date_from, date_to)",
     "Return the number of orders in selected range from history"),
    ("history_orders_get", "kw",
     'history_orders_get([date_from, date_to, [group="GROUP"]],[position=POSITION],[ticket=TICKET])',
     "Return orders in selected range from history or filtered by position id, ticket"),
    ("history_deals_total", "pos", "history_deals_total(date_from, date_to)",
     "Return the number of deals in selected range from history"),
    ("history_deals_get", "kw",
     'history_deals_get([date_from, date_to, [group="GROUP"]],[position=POSITION],[ticket=TICKET])',
     "Return deals in selected range from history or filtered by position id, ticket"),
    ("order_check", "kw", "order_check(request)",
     "Check if there are enough funds to execute required trading operation"),
    ("order_send", "kw", "order_send(request)", "Send trading requests to server"),
    ("order_calc_margin", "pos", "order_calc_margin(action, symbol, volume, price,)",
     "Calculate margin required for specified order"),
    ("order_calc_profit", "pos", "order_calc_profit(action, symbol, volume, price_open, price_close)",
     "Calculate profit for the current account in the current market conditions based on parameters passed"),
    ("symbol_info", "pos", "symbol_info(symbol)", "Return full information for specified symbol"),
    ("symbol_info_tick", "pos", "symbol_info_tick(symbol)", "Return current prices of specified symbol"),
    ("symbol_select", "pos", "symbol_select(symbol,[enable])",
     "Select symbol in Market Watch window or remove symbol from the window"),
    ("symbols_total", "none", "symbols_total()", "Return the number of all available symbols"),
    ("symbols_get", "kw", 'symbols_get([group="GROUP"])', "Return all available symbols or filtred by group"),
    ("market_book_add", "pos", "market_book_add(symbol)", "Opens Depth of Market for a selected symbol"),
    ("market_book_release", "pos", "market_book_release(symbol)",
     "Closes Depth of Market for a selected symbol"),
    ("market_book_get", "pos", "market_book_get(symbol)",
     "Returns Depth of Market structures of a specified symbol"),
    ("last_error", "none", "last_error()", "Return last error code and description"),
]

# type, documentation, field names (from the record tables; the results end with their request)
TYPES = [
    ("TradePosition", "Trade position structure", R.POSITION.names),
    ("TradeOrder", "Trade order structure", R.ORDER.names),
    ("TradeDeal", "Trade deal structure", R.DEAL.names),
    ("TradeRequest", "Trade request structure", R.TRADE_REQUEST.names),
    ("OrderSendResult", "order_send result structure", R.SEND_RESULT.names + ["request"]),
    ("OrderCheckResult", "order_check result structure", R.CHECK_RESULT.names + ["request"]),
    ("Tick", "This is a structure for storing latest symbol prices", R.TICK.names),
    ("TerminalInfo", "This is a structure for storing terminal information", R.TERMINAL.names),
    ("SymbolInfo", "This is a structure for storing symbol information", R.SYMBOL.names),
    ("AccountInfo", "This is a structure for storing account information", R.ACCOUNT.names),
    ("BookInfo", "This is a structure for storing Depth of Market information", R.BOOK_ENTRY.names),
]

FIELD_COUNTS = {"TradePosition": 19, "TradeOrder": 24, "TradeDeal": 18, "TradeRequest": 17,
                "OrderSendResult": 11, "OrderCheckResult": 9, "Tick": 8, "TerminalInfo": 22,
                "SymbolInfo": 96, "AccountInfo": 28, "BookInfo": 4}


def set_known_error():
    """Leave a recognisable last error: login() without a login is refused."""
    brv.login()
    assert brv.last_error() == (-2, 'Invalid "login" argument')


# ---------------------------------------------------------------- surface

def test_module_documentation_and_exports():
    core = brv._core
    assert core.__doc__ == "API Connector to Borvane Terminal"
    for name, *_ in FUNCTIONS:
        assert getattr(brv, name) is getattr(core, name), name
    for name, *_ in TYPES:
        assert getattr(brv, name) is getattr(core, name), name
    public = {n for n in dir(core) if not n.startswith("_")}
    assert public == {f[0] for f in FUNCTIONS} | {t[0] for t in TYPES}


@pytest.mark.parametrize("name, style, signature, description", FUNCTIONS, ids=[f[0] for f in FUNCTIONS])
def test_function_docstring_and_calling_convention(name, style, signature, description):
    func = getattr(brv._core, name)
    assert func.__doc__ == signature + "\n\n" + description
    set_known_error()
    if style == "none":
        with pytest.raises(TypeError):
            func(1)
    elif style == "pos":
        with pytest.raises(TypeError):
            func(x=1)
    else:
        return
    # Python refused the call before the function ran
    assert brv.last_error() == (-2, 'Invalid "login" argument')


def test_last_error_of_a_fresh_module():
    out = subprocess.run([sys.executable, "-c", "import borvane; print(repr(borvane.last_error()))"],
                         capture_output=True, text=True, env=os.environ.copy(), timeout=60)
    assert out.stdout.strip() == "(0, '')", out.stderr


def test_last_error_does_not_change_it():
    set_known_error()
    first = brv.last_error()
    assert brv.last_error() == first
    assert type(first) is tuple and type(first[0]) is int and type(first[1]) is str


# ---------------------------------------------------------------- record types

@pytest.mark.parametrize("name, doc, fields", TYPES, ids=[t[0] for t in TYPES])
def test_record_type(name, doc, fields):
    cls = getattr(brv, name)
    assert issubclass(cls, tuple)
    assert cls.__doc__ == doc
    assert len(fields) == FIELD_COUNTS[name]
    assert cls.n_fields == cls.n_sequence_fields == len(fields)
    values = [object() for _ in fields]
    rec = cls(values)
    assert len(rec) == len(fields)
    d = rec._asdict()
    assert type(d) is dict
    assert list(d) == fields
    for field, value in zip(fields, values):
        assert d[field] is value
        assert getattr(rec, field) is value


def _trade_request():
    return brv.TradeRequest((1, 2, 3, "EURUSD", 0.5, 1.1, 0.0, 1.0, 1.2, 10, 0, 1, 2, 0, "c", 7, 8))


@pytest.mark.parametrize("name, head", [
    ("OrderSendResult", (10009, 1, 2, 0.5, 1.1, 1.0, 1.2, "done", 3, -1)),
    ("OrderCheckResult", (0, 100.0, 100.0, 0.0, 5.0, 95.0, 2000.0, "ok")),
])
def test_asdict_keeps_the_nested_request(name, head):
    req = _trade_request()
    rec = getattr(brv, name)(head + (req,))
    d = rec._asdict()
    assert d["request"] is req
    assert isinstance(d["request"], brv.TradeRequest)
    assert d["request"]._asdict() == dict(zip(R.TRADE_REQUEST.names, req))
    assert [d[k] for k in list(d)[:-1]] == list(head)


def test_asdict_leaves_the_last_error():
    set_known_error()
    _trade_request()._asdict()
    assert brv.last_error() == (-2, 'Invalid "login" argument')


def test_asdict_of_another_type_is_refused_by_python():
    order = brv.TradeOrder(tuple(range(24)))
    with pytest.raises(TypeError):
        brv.TradePosition._asdict(order)
    with pytest.raises(TypeError):
        order._asdict(1)


# ---------------------------------------------------------------- text limits

@pytest.mark.parametrize("symbol, sent", [
    ("S" * 29, True),
    ("S" * 30, False),
    (EMOJI * 14 + "a", True),     # 29 units
    (EMOJI * 15, False),          # 30 units in 15 characters
    ("", True),
])
def test_short_text_limit(connected, symbol, sent):
    require("symbol_info_tick", "X")
    connected.on(172, 0, R.tick(time=1))
    result = brv.symbol_info_tick(symbol)
    if sent:
        assert result is not None, brv.last_error()
        assert [r.raw for r in connected.requests()] == [R.frame_request(172, R.pack_string(symbol))]
    else:
        assert result is None
        assert brv.last_error() == INVALID
        assert connected.requests() == []


@pytest.mark.parametrize("group, sent", [
    ("G" * 1997, True),
    ("G" * 1998, False),
    (EMOJI * 998 + "g", True),
    (EMOJI * 999, False),
])
def test_group_text_limit(connected, group, sent):
    require("symbols_get")
    connected.on(175, records=[])
    result = brv.symbols_get(group)
    if sent:
        assert result == (), brv.last_error()
        (req,) = connected.requests()
        assert req.raw == R.frame_request(175, R.pack_string(group))
        assert len(req.raw) == 12 + 2 * 1997
    else:
        assert result is False
        assert brv.last_error() == (-2, "Invalid 1st unnamed argument")
        assert connected.requests() == []


@pytest.mark.parametrize("build, gated", [(2363, True), (2364, False)])
def test_terminal_build_gate(fake, build, gated):
    require("symbols_total")
    fake.set_build(build)
    fake.on(173, value=12)
    assert brv.initialize(fake.exe) is True
    if gated:
        assert brv.symbols_total() is None
        assert brv.last_error()[0] == -5
        assert 173 not in fake.commands()
    else:
        assert brv.symbols_total() == 12


# ---------------------------------------------------------------- time arguments

class Stamp(datetime.datetime):
    def timestamp(self):
        return 42.9


class BadStamp(datetime.datetime):
    def timestamp(self):
        raise ValueError("no time")


TIMES = [
    (datetime.datetime(2020, 1, 10, tzinfo=UTC), 1578614400),
    (datetime.datetime(2020, 1, 10, 0, 0, 0, 999999, tzinfo=UTC), 1578614400),
    (datetime.datetime(2020, 1, 10, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=1))), 1578614400),
    (datetime.datetime(1969, 12, 31, 23, 59, 59, tzinfo=UTC), -1),
    (datetime.datetime(2020, 1, 10, 12, 30), int(datetime.datetime(2020, 1, 10, 12, 30).timestamp())),
    (Stamp(2001, 1, 1), 42),
    (0, 0),
    (0.0, 0),
    (1578614400, 1578614400),
    (1578614400.9, 1578614400),
    (1.9, 1),
    (-1.9, -1),
    (-0.5, 0),
    (True, 1),
    (False, 0),
    (-1, -1),
    (2**31 - 1, 2**31 - 1),
    (-2**31, -2**31),
    (np.float64(5.7), 5),
]
REFUSED_TIMES = [datetime.date(2020, 1, 10), "2020-01-10", np.int64(5), None, BadStamp(2001, 1, 1), [1]]


def _rates_body(symbol, timeframe, date_from, date_to):
    return R.pack_string(symbol) + struct.pack("<iqq", timeframe, date_from, date_to)


@pytest.mark.parametrize("value, seconds", TIMES)
def test_time_argument_in_a_bar_request(connected, value, seconds):
    require("copy_rates_range", "X", 1, 0, 0)
    connected.on(107, records=[])
    assert brv.copy_rates_range("EURUSD", 16385, value, 7) is not None, brv.last_error()
    (req,) = connected.requests()
    assert req.raw == R.frame_request(107, _rates_body("EURUSD", 16385, seconds, 7))


@pytest.mark.parametrize("value, seconds", TIMES)
def test_time_argument_in_milliseconds_in_a_tick_request(connected, value, seconds):
    require("copy_ticks_range", "X", 0, 0, 0)
    connected.on(105, records=[])
    assert brv.copy_ticks_range("EURUSD", 5, value, -1) is not None, brv.last_error()
    (req,) = connected.requests()
    assert req.raw == R.frame_request(105, R.pack_string("EURUSD") + struct.pack("<qqi", 5000, seconds * 1000, -1))


@pytest.mark.parametrize("value", REFUSED_TIMES, ids=lambda v: type(v).__name__)
@pytest.mark.parametrize("position", [0, 1])
def test_refused_time_arguments(connected, value, position):
    require("copy_rates_range", "X", 1, 0, 0)
    dates = [0, 0]
    dates[position] = value
    assert brv.copy_rates_range("EURUSD", 1, *dates) is None
    assert brv.last_error() == INVALID
    assert connected.requests() == []


def test_time_arguments_checked_before_the_pipe():
    require("copy_rates_range", "X", 1, 0, 0)
    brv.shutdown()
    assert brv.copy_rates_range("EURUSD", 1, "x", 0) is None
    assert brv.last_error() == INVALID
    assert brv.copy_rates_range("EURUSD", 1, 0, 0) is None
    assert brv.last_error() == (-10004, "No IPC connection")


# ---------------------------------------------------------------- array layouts

BAR_DTYPE = np.dtype({
    "names": ["time", "open", "high", "low", "close", "tick_volume", "spread", "real_volume"],
    "formats": ["<i8", "<f8", "<f8", "<f8", "<f8", "<u8", "<i4", "<u8"],
    "offsets": [0, 8, 16, 24, 32, 40, 48, 52], "itemsize": 60})
TICK_DTYPE = np.dtype({
    "names": ["time", "bid", "ask", "last", "volume", "time_msc", "flags", "volume_real"],
    "formats": ["<i8", "<f8", "<f8", "<f8", "<u8", "<i8", "<u4", "<f8"],
    "offsets": [0, 8, 16, 24, 32, 40, 48, 52], "itemsize": 60})

BARS = [
    dict(time=1578614400, open=1.1, high=1.2, low=1.0, close=1.15, tick_volume=2**64 - 1,
         spread=-5, real_volume=2**64 - 2),
    dict(time=-1, open=-0.0, high=float("inf"), low=-1e300, close=5e-324, tick_volume=0,
         spread=2**31 - 1, real_volume=0x0102030405060708),
]
TICKS = [
    dict(time=1578614400, bid=1.1, ask=1.2, last=0.0, volume=2**64 - 1, time_msc=1578614400123,
         flags=0xFFFFFFFF, volume_real=2.5),
    dict(time=-5, bid=-1.0, ask=1e10, last=3.25, volume=7, time_msc=-5001, flags=6, volume_real=-0.125),
]


def _check_array(arr, dtype, layout, rows):
    assert isinstance(arr, np.ndarray)
    assert arr.dtype == dtype
    assert arr.dtype.itemsize == 60 and arr.dtype.names == dtype.names
    assert arr.dtype.flags == 0x10
    assert not arr.dtype.isalignedstruct
    assert arr.shape == (len(rows),)
    assert arr.flags.owndata and not arr.flags.writeable
    assert arr.tobytes() == b"".join(layout.build(**r) for r in rows)
    for got, row in zip(arr, rows):
        for name, value in row.items():
            assert got[name] == value or (value != value and got[name] != got[name]), name
    if len(arr):
        with pytest.raises(ValueError):
            arr[0] = arr[0]


def test_bar_layout(connected):
    require("copy_rates_range", "X", 1, 0, 0)
    assert BAR_DTYPE.fields["spread"] == (np.dtype("<i4"), 48)
    assert BAR_DTYPE.fields["real_volume"] == (np.dtype("<u8"), 52)
    connected.on(107, records=[R.bar(**b) for b in BARS])
    first = brv.copy_rates_range("EURUSD", 1, 0, 1)
    assert brv.last_error() == (1, "Success")
    _check_array(first, BAR_DTYPE, R.BAR, BARS)
    second = brv.copy_rates_range("EURUSD", 1, 0, 1)
    assert second.dtype is first.dtype


def test_tick_layout(connected):
    require("copy_ticks_range", "X", 0, 0, 0)
    assert TICK_DTYPE.fields["flags"] == (np.dtype("<u4"), 48)
    assert TICK_DTYPE.fields["volume_real"] == (np.dtype("<f8"), 52)
    connected.on(105, records=[R.tick(**t) for t in TICKS])
    arr = brv.copy_ticks_range("EURUSD", 0, 1, 0)
    _check_array(arr, TICK_DTYPE, R.TICK, TICKS)


@pytest.mark.parametrize("func, cmd, dtype, args", [
    ("copy_rates_range", 107, BAR_DTYPE, ("EURUSD", 1, 0, 1)),
    ("copy_ticks_range", 105, TICK_DTYPE, ("EURUSD", 0, 1, 0)),
])
def test_empty_reply_gives_an_empty_array(connected, func, cmd, dtype, args):
    require(func, "X", 1, 0, 0)
    connected.on(cmd, records=[])
    arr = getattr(brv, func)(*args)
    assert arr.shape == (0,) and arr.dtype == dtype
    assert brv.last_error() == (1, "Success")
