"""Open positions and active orders: positions_total/get and orders_total/get.

The two families share their shape (count, all, by symbol, by ticket, by
group), so every test runs for both.
"""

import struct
from collections import namedtuple

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")

Family = namedtuple("Family", "get total cmd_total cmd_all cmd_symbol cmd_ticket layout build type")

FAMILIES = [
    Family(brv.positions_get, brv.positions_total, 120, 121, 122, 123, R.POSITION, R.position,
           brv.TradePosition),
    Family(brv.orders_get, brv.orders_total, 130, 131, 132, 133, R.ORDER, R.order, brv.TradeOrder),
]
IDS = ["positions", "orders"]

family = pytest.mark.parametrize("f", FAMILIES, ids=IDS)


# ------------------------------------------------------------------ totals

@family
@pytest.mark.parametrize("value", [0, 7, 2**32 - 1])
def test_total(connected, f, value):
    connected.on(f.cmd_total, value=value)
    assert f.total() == value
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(f.cmd_total)]


# ------------------------------------------------------------- argument forms

@family
@pytest.mark.parametrize("kwargs, form, body", [
    ({}, "all", b""),
    ({"foo": 1, "Symbol": "x", "tickets": 3}, "all", b""),
    ({"ticket": 5, "symbol": "S" * 40}, "ticket", struct.pack("<Q", 5)),
    ({"group": "*", "ticket": 5}, "ticket", struct.pack("<Q", 5)),
    ({"ticket": 2**64 - 1}, "ticket", struct.pack("<Q", 2**64 - 1)),
    ({"ticket": 0}, "ticket", struct.pack("<Q", 0)),
    ({"group": None, "symbol": "EURUSD"}, "symbol", R.pack_string("EURUSD")),
    ({"symbol": ""}, "symbol", R.pack_string("")),
    ({"group": "EUR*"}, "all", b""),
])
def test_keyword_precedence(connected, f, kwargs, form, body):
    cmd = {"all": f.cmd_all, "symbol": f.cmd_symbol, "ticket": f.cmd_ticket}[form]
    if form == "ticket":
        connected.on(cmd, status=-4)
    else:
        connected.on(cmd, records=[])
    assert f.get(**kwargs) == ()
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(cmd, body)]


@family
@pytest.mark.parametrize("args, kwargs, error", [
    (("EURUSD",), {}, "Unnamed arguments not allowed"),
    ((None,), {"ticket": 5}, "Unnamed arguments not allowed"),
    ((), {"ticket": -1}, 'Invalid "ticket" argument'),
    ((), {"ticket": 2**64}, 'Invalid "ticket" argument'),
    ((), {"ticket": 5.0}, 'Invalid "ticket" argument'),
    ((), {"ticket": None, "symbol": "EURUSD"}, 'Invalid "ticket" argument'),
    ((), {"symbol": b"EURUSD", "group": "*"}, 'Invalid "symbol" argument'),
])
def test_invalid_arguments_send_nothing(connected, f, args, kwargs, error):
    assert f.get(*args, **kwargs) is None
    assert brv.last_error() == (-2, error)
    assert connected.requests() == []


# ------------------------------------------------------------------ records

@family
def test_record_fields(connected, f):
    values = dict(f.layout.sample(), external_id="ab\0zz".encode("utf-16-le"))  # read up to the NUL
    rec = f.build(**values)
    connected.on(f.cmd_all, records=[rec])
    (got,) = f.get()
    R.check_record(got, f.layout, rec, f.type.__name__)
    assert got.external_id == "ab"


@family
def test_list_in_received_order(connected, f):
    recs = [f.build(ticket=t, symbol=s) for t, s in [(9, "B"), (3, "A"), (7, "C")]]
    for cmd in (f.cmd_all, f.cmd_symbol):
        connected.on(cmd, records=recs)
    assert [r.ticket for r in f.get()] == [9, 3, 7]
    assert [r.ticket for r in f.get(symbol="A")] == [9, 3, 7]  # the terminal selects, not the module


@family
@pytest.mark.parametrize("group, tickets", [
    ("EUR*", [1, 3]),
    ("*,!EUR*", [2, 4]),
])
def test_group_filters_the_reply_in_order(connected, f, group, tickets):
    connected.on(f.cmd_all, records=[f.build(ticket=t, symbol=s) for t, s in
                                     [(1, "EURUSD"), (2, "USDJPY"), (3, "EURJPY"), (4, "XAUUSD")]])
    assert [r.ticket for r in f.get(group=group)] == tickets
    assert brv.last_error() == SUCCESS


# ------------------------------------------------------------------ ticket

@family
@pytest.mark.parametrize("status, record, found", [
    (-4, False, False), (0, True, False), (1, True, True),
    (0, False, None),  # a status 0 needs the record
])
def test_ticket_results(connected, f, status, record, found):
    rec = f.build(ticket=77, symbol="EURUSD")
    connected.on(f.cmd_ticket, status=status, payload=rec if record else b"")
    got = f.get(ticket=77)
    if found is None:
        assert got is None and brv.last_error() == (-10002, "IPC recv failed")
    else:
        assert brv.last_error() == SUCCESS
        assert got == ((f.layout.values(rec),) if found else ())
        assert all(type(r) is f.type for r in got)
