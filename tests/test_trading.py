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


def sent_request(fake, cmd):
    (req,) = fake.requests()
    assert req.raw[:8] == struct.pack("<II", 236, cmd)
    return req.body


# ------------------------------------------------------ the request record

@pytest.mark.parametrize("func, cmd, result", FUNCTIONS)
def test_full_request_bytes_and_the_call_forms(connected, func, cmd, result):
    connected.on(cmd, payload=result())
    assert isinstance(func(FULL), tuple)
    assert isinstance(func(**FULL), tuple)
    assert isinstance(func(collections.OrderedDict(FULL)), tuple)  # a dict subclass is a request
    assert [r.raw for r in connected.requests()] == [R.frame_request(cmd, R.trade_request(**FULL))] * 3


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


def test_each_invalid_key_has_its_message_and_the_first_in_record_order_wins(connected):
    # every key invalid, given in reverse order; fixing them one at a time in
    # record order moves the message along the record
    d = dict(reversed(INVALID))
    for key, _ in INVALID:
        assert brv.order_send(d) is None
        assert brv.last_error() == (-2, 'Invalid "%s" argument' % key)
        d[key] = R.TRADE_REQUEST.defaults()[key]
    assert connected.requests() == []


@pytest.mark.parametrize("func", [brv.order_check, brv.order_send])
@pytest.mark.parametrize("args, kwargs, error", [
    (({}, {}), {}, "Invalid number of arguments"),
    (({},), {"action": 1}, "Unnamed arguments not allowed"),
    (([("action", 1)],), {}, "Invalid arguments"),   # a request is a dict
])
def test_call_forms_refused_before_sending(connected, func, args, kwargs, error):
    assert func(*args, **kwargs) is None
    assert brv.last_error() == (-2, error)
    assert connected.requests() == []


# ------------------------------------------------------------- the results

@pytest.mark.parametrize("seed", [0, 1])  # the comment is non-ASCII, then fills its field
@pytest.mark.parametrize("func, cmd, layout, type_", [
    (brv.order_check, CHECK, R.CHECK_RESULT, brv.OrderCheckResult),
    (brv.order_send, SEND, R.SEND_RESULT, brv.OrderSendResult),
])
def test_result_fields(connected, func, cmd, layout, type_, seed):
    raw = layout.build(**layout.sample(seed))
    connected.on(cmd, payload=raw)
    res = func(FULL)
    assert type(res) is type_ and res[:-1] == layout.values(raw)
    d = res._asdict()
    assert list(d) == layout.names + ["request"] and d["request"] is res.request
    assert brv.last_error() == SUCCESS  # whatever the retcode says
    # the request as parsed, not as executed
    assert type(res.request) is brv.TradeRequest and res.request._asdict() == FULL


@pytest.mark.parametrize("func, cmd, error", [
    (brv.order_send, SEND, (-8, "Auto-Trading using Python API disabled in Terminal")),
    (brv.order_check, CHECK, (-8, "Terminal: Call failed")),
])
def test_auto_trading_disabled_status(connected, func, cmd, error):
    connected.on(cmd, status=error[0])
    assert func({}) is None
    assert brv.last_error() == error


# ------------------------------------------------------ margin and profit

def calc_request(cmd, action, symbol, *doubles):
    body = struct.pack("<I", action) + R.pack_string(symbol) + struct.pack("<%dd" % len(doubles), *doubles)
    return R.frame_request(cmd, body)


class Price:
    def __float__(self):
        return 1.25


@pytest.mark.parametrize("func, args, cmd, sent, value", [
    (brv.order_calc_margin, (-1, "EURUSD", 1, 1.5), MARGIN, (0xFFFFFFFF, "EURUSD", 1.0, 1.5), 123.25),
    (brv.order_calc_profit, (2**32 + 1, "GBP\u00e4", 2, Price(), 1.5), PROFIT,
     (1, "GBP\u00e4", 2.0, 1.25, 1.5), -7.5),
    (brv.order_calc_margin, (0, "", 0.0, 0.0), MARGIN, (0, "", 0.0, 0.0), 0.0),
])
def test_calc_request_bytes(connected, func, args, cmd, sent, value):
    connected.on(cmd, payload=struct.pack("<d", value))
    result = func(*args)
    assert type(result) is float and result == value
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [calc_request(cmd, *sent)]
