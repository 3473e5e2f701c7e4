"""Trading: the trade request record, order_check and order_send, and the
margin and profit calculations, checked byte for byte against the fake
terminal."""

import collections
import struct

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")
CHECK, SEND, MARGIN, PROFIT = 160, 161, 162, 163

#: a request with every key set, each field distinguishable on the wire
FULL = dict(action=1, magic=2**64 - 1, order=3, symbol="EURUSD", volume=0.5, price=1.1,
            stoplimit=1.2, sl=1.05, tp=1.3, deviation=10, type=2, type_filling=1, type_time=2,
            expiration=-5, comment="from \u00e4 test", position=7, position_by=8)

#: the keys in record order, each with a value its converter refuses
INVALID = [
    ("action", -1), ("magic", -1), ("order", 1.0), ("symbol", "S" * 30), ("volume", 1),
    ("price", "1.0"), ("stoplimit", None), ("sl", 2), ("tp", True), ("deviation", -1),
    ("type", 2**32), ("type_filling", -1), ("type_time", 1.5), ("expiration", 2**63),
    ("comment", "c" * 30), ("position", -1), ("position_by", 2**64),
]

FUNCTIONS = [(brv.order_check, CHECK, R.check_result), (brv.order_send, SEND, R.send_result)]


def message(key):
    return 'Invalid "%s" argument' % key


def sent_request(fake, cmd):
    """The one request sent, checked for its framing; returns the record bytes."""
    (req,) = fake.requests()
    assert req.cmd == cmd
    assert req.raw[:8] == struct.pack("<II", 236, cmd)
    return req.body


# ------------------------------------------------------ the request record

@pytest.mark.parametrize("func, cmd, result", FUNCTIONS)
def test_full_request_bytes_and_both_call_forms(connected, func, cmd, result):
    connected.on(cmd, payload=result())
    assert isinstance(func(FULL), tuple)
    assert isinstance(func(**FULL), tuple)
    first, second = connected.requests()
    assert first.raw == second.raw
    assert first.raw == R.frame_request(cmd, R.trade_request(**FULL))


@pytest.mark.parametrize("call", [
    lambda: brv.order_send({}),
    lambda: brv.order_send(request=FULL),    # the keywords are the request: "request" is no key
    lambda: brv.order_send({"unknown": 5, "Volume": 1}),
    lambda: brv.order_send({1: 2, ("a",): "b"}),
], ids=["empty", "request keyword", "unknown keys", "non-str keys"])
def test_absent_keys_send_a_zero_record(connected, call):
    connected.on(SEND, payload=R.send_result())
    res = call()
    assert brv.last_error() == SUCCESS
    assert sent_request(connected, SEND) == bytes(232)
    assert res.request == tuple(R.TRADE_REQUEST.defaults().values())


def test_limits_accepted(connected):
    connected.on(SEND, payload=R.send_result())
    d = dict(action=2**32 - 1, type=True, symbol="\U0001F600" + "s" * 27, comment="c" * 29,
             expiration=-2**63, deviation=2**64 - 1, volume=float("inf"))
    res = brv.order_send(d)
    assert brv.last_error() == SUCCESS
    assert R.parse_trade_request(sent_request(connected, SEND)) == dict(
        R.TRADE_REQUEST.defaults(), **dict(d, type=1))
    assert res.request.symbol == d["symbol"] and res.request.type == 1


def test_dict_subclass_is_a_request(connected):
    connected.on(CHECK, payload=R.check_result())
    d = collections.OrderedDict(symbol="GBPUSD", volume=2.0)
    brv.order_check(d)
    assert R.parse_trade_request(sent_request(connected, CHECK))["symbol"] == "GBPUSD"


@pytest.mark.parametrize("key, value", INVALID, ids=[k for k, _ in INVALID])
def test_each_invalid_key_has_its_message(connected, key, value):
    assert brv.order_send({key: value}) is None
    assert brv.last_error() == (-2, message(key))
    assert connected.requests() == []


def test_first_invalid_key_in_record_order_wins():
    # every key invalid, given in reverse order; fixing them one at a time in
    # record order moves the message along the record
    d = dict(reversed(INVALID))
    for key, _ in INVALID:
        assert brv.order_check(d) is None
        assert brv.last_error() == (-2, message(key))
        d[key] = R.TRADE_REQUEST.defaults()[key]


@pytest.mark.parametrize("func", [brv.order_check, brv.order_send])
@pytest.mark.parametrize("args, kwargs, error", [
    ((), {}, "Invalid number of arguments"),
    (({}, {}), {}, "Invalid number of arguments"),
    (({},), {"action": 1}, "Unnamed arguments not allowed"),
    (([("action", 1)],), {}, "Invalid arguments"),
    (((),), {}, "Invalid arguments"),
    ((None,), {}, "Invalid arguments"),
])
def test_call_forms_refused_before_sending(connected, func, args, kwargs, error):
    assert func(*args, **kwargs) is None
    assert brv.last_error() == (-2, error)
    assert connected.requests() == []


@pytest.mark.parametrize("func", [brv.order_check, brv.order_send])
def test_arguments_checked_before_the_connection(func):
    brv.shutdown()
    assert func({"volume": 1}) is None
    assert brv.last_error() == (-2, message("volume"))
    assert func({"volume": 1.0}) is None
    assert brv.last_error() == (-10004, "No IPC connection")


# ------------------------------------------------------------- the results

def test_send_result_fields(connected):
    reply = R.send_result(retcode=10009, deal=2**64 - 1, order=12, volume=0.3, price=1.2345,
                          bid=1.1, ask=1.2, comment="c" * 100, request_id=0xFFFFFFFF,
                          retcode_external=-1)
    assert struct.unpack_from("<I", reply, 256) == (0xFFFFFFFF,)
    connected.on(SEND, payload=reply)
    res = brv.order_send(FULL)
    assert type(res) is brv.OrderSendResult
    assert res[:10] == (10009, 2**64 - 1, 12, 0.3, 1.2345, 1.1, 1.2, "c" * 100, 4294967295, -1)
    # the request as parsed: the volume asked for, not the one executed
    assert type(res.request) is brv.TradeRequest
    assert res.request._asdict() == FULL
    assert brv.last_error() == SUCCESS  # whatever the retcode says
    assert type(res._asdict()["request"]) is brv.TradeRequest


def test_check_result_fields(connected):
    reply = R.check_result(retcode=10019, balance=1000.0, equity=990.5, profit=-9.5, margin=100.0,
                           margin_free=890.5, margin_level=990.5, comment="No money")
    connected.on(CHECK, payload=reply)
    res = brv.order_check(symbol="EURUSD", volume=1.0)
    assert type(res) is brv.OrderCheckResult
    assert res[:8] == (10019, 1000.0, 990.5, -9.5, 100.0, 890.5, 990.5, "No money")
    assert res.request.symbol == "EURUSD" and res.request.volume == 1.0
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("comment, expected", [
    ("c" * 100, "c" * 100),                        # fills the field: no NUL
    ("ab\0cd", "ab"),                              # read up to the first NUL
    ("\u20ac" * 99, "\u20ac" * 99),
], ids=["full", "nul", "non-ascii"])
@pytest.mark.parametrize("func, cmd, result", FUNCTIONS)
def test_result_comment(connected, func, cmd, result, comment, expected):
    connected.on(cmd, payload=result(comment=comment))
    assert func({}).comment == expected


@pytest.mark.parametrize("func, cmd, error", [
    (brv.order_send, SEND, (-8, "Auto-Trading using Python API disabled in Terminal")),
    (brv.order_check, CHECK, (-8, "Terminal: Call failed")),
    (brv.order_send, SEND, (-2, "Terminal: Invalid params")),
    (brv.order_check, CHECK, (-4, "Terminal: Not found")),
    (brv.order_check, CHECK, (-9, "Terminal: Call failed")),
])
def test_negative_status(connected, func, cmd, error):
    connected.on(cmd, status=error[0])
    assert func({}) is None
    assert brv.last_error() == error


@pytest.mark.parametrize("func, cmd, result", FUNCTIONS)
@pytest.mark.parametrize("fault, error", [
    ("bare", (-10002, "IPC recv failed")),
    ("short", (-10002, "IPC recv failed")),
    ("long", (-10002, "IPC recv failed")),
    ("echo", (-10000, "IPC call failed")),
])
def test_malformed_result_reply(connected, func, cmd, result, fault, error):
    payload = result()
    if fault == "bare":
        connected.on(cmd, status=0)
    elif fault == "short":
        connected.on(cmd, payload=payload[:-1])
    elif fault == "long":
        connected.on(cmd, payload=payload + b"\0\0\0\0")
    else:
        connected.on(cmd, payload=payload, echo=cmd ^ 1)
    assert func({}) is None
    assert brv.last_error() == error


# ------------------------------------------------------ margin and profit

def calc_request(cmd, action, symbol, *doubles):
    body = struct.pack("<I", action) + R.pack_string(symbol) + struct.pack("<%dd" % len(doubles), *doubles)
    return R.frame_request(cmd, body)


def amount(value):
    return struct.pack("<d", value)


def test_margin_request_bytes(connected):
    connected.on(MARGIN, payload=amount(123.25))
    assert brv.order_calc_margin(-1, "EURUSD", 1, 1.5) == 123.25
    assert brv.last_error() == SUCCESS
    (req,) = connected.requests()
    assert req.raw == calc_request(MARGIN, 0xFFFFFFFF, "EURUSD", 1.0, 1.5)
    assert req.raw[:4] == struct.pack("<I", 28 + 12) and req.raw[8:12] == b"\xff\xff\xff\xff"


def test_profit_request_bytes(connected):
    class Price:
        def __float__(self):
            return 1.25

    connected.on(PROFIT, payload=amount(-7.5))
    assert brv.order_calc_profit(2**32 + 1, "GBP\u00e4", 2, Price(), 1.5) == -7.5
    (req,) = connected.requests()
    assert req.raw == calc_request(PROFIT, 1, "GBP\u00e4", 2.0, 1.25, 1.5)
    assert struct.unpack_from("<I", req.raw) == (36 + 8,)


def test_zero_amount_is_a_float(connected):
    connected.on(MARGIN, payload=amount(0.0))
    value = brv.order_calc_margin(0, "", 0.0, 0.0)
    assert type(value) is float and value == 0.0
    assert connected.requests()[0].raw == calc_request(MARGIN, 0, "", 0.0, 0.0)


@pytest.mark.parametrize("func, args", [
    (brv.order_calc_margin, (1, "EURUSD", 1.0, 1.0, 1.0)),
    (brv.order_calc_margin, (1, "EURUSD", 1.0)),
    (brv.order_calc_profit, (1, "EURUSD", 1.0, 1.0)),
    (brv.order_calc_profit, (1, "EURUSD", 1.0, 1.0, 1.0, 1.0)),
    (brv.order_calc_margin, (2.0, "EURUSD", 1.0, 1.0)),
    (brv.order_calc_margin, (1, "S" * 30, 1.0, 1.0)),
    (brv.order_calc_margin, (1, b"EURUSD", 1.0, 1.0)),
    (brv.order_calc_profit, (1, None, 1.0, 1.0, 1.0)),
    (brv.order_calc_profit, (1, "EURUSD", "1.0", 1.0, 1.0)),
])
def test_calc_invalid_arguments(connected, func, args):
    assert func(*args) is None
    assert brv.last_error() == (-2, "Invalid arguments")
    assert connected.requests() == []


def test_calc_symbol_of_29_units_is_sent(connected):
    connected.on(PROFIT, payload=amount(1.0))
    assert brv.order_calc_profit(0, "S" * 29, 1.0, 1.0, 1.0) == 1.0
    assert connected.requests()[0].raw == calc_request(PROFIT, 0, "S" * 29, 1.0, 1.0, 1.0)


@pytest.mark.parametrize("func, cmd, args", [
    (brv.order_calc_margin, MARGIN, (0, "EURUSD", 1.0, 1.0)),
    (brv.order_calc_profit, PROFIT, (0, "EURUSD", 1.0, 1.0, 1.0)),
])
@pytest.mark.parametrize("reply, error", [
    (dict(status=-4), (-4, "Terminal: Not found")),
    (dict(status=-3, payload=amount(1.0)), (-3, "Terminal: Out of memory")),
    (dict(status=0), (-10002, "IPC recv failed")),
    (dict(payload=amount(1.0) + b"\0"), (-10002, "IPC recv failed")),
    (dict(payload=amount(1.0), echo="other"), (-10000, "IPC call failed")),
])
def test_calc_failures(connected, func, cmd, args, reply, error):
    if reply.get("echo") == "other":
        reply = dict(reply, echo=MARGIN + PROFIT - cmd)  # the other calculation's code
    connected.on(cmd, **reply)
    assert func(*args) is None
    assert brv.last_error() == error


def test_calc_without_connection():
    brv.shutdown()
    assert brv.order_calc_margin(0, "EURUSD", 1.0, 1.0) is None
    assert brv.last_error() == (-10004, "No IPC connection")
