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


def distinct_values(layout):
    """A value for every field of a record, each different from the others."""
    values = {}
    for n, field in enumerate(layout.fields, start=1):
        if field.kind.startswith("pad"):
            continue
        if field.kind.startswith("text"):
            values[field.name] = "%s-%d" % (field.name[:8], n)
        elif field.kind == "f64":
            values[field.name] = n + 0.25
        elif field.kind == "i64":
            values[field.name] = -n * 1000
        else:
            values[field.name] = n
    return values


def answer_all(fake, f, records):
    """The same records for every list request of the family."""
    for cmd in (f.cmd_all, f.cmd_symbol):
        fake.on(cmd, records=records)


# ------------------------------------------------------------------ totals

@family
@pytest.mark.parametrize("value", [0, 7, 2**32 - 1])
def test_total(connected, f, value):
    connected.on(f.cmd_total, value=value)
    assert f.total() == value
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(f.cmd_total)]


@family
@pytest.mark.parametrize("reply, error", [
    (dict(status=-3), (-3, "Terminal: Out of memory")),
    (dict(status=0), (-10002, "IPC recv failed")),
    (dict(value=1, echo=1), (-10000, "IPC call failed")),
])
def test_total_failures(connected, f, reply, error):
    connected.on(f.cmd_total, **reply)
    assert f.total() is None
    assert brv.last_error() == error


# ------------------------------------------------------------- argument forms

@family
@pytest.mark.parametrize("kwargs, form, body", [
    ({}, "all", b""),
    ({"foo": 1, "Symbol": "x", "tickets": 3}, "all", b""),
    ({"ticket": 5, "symbol": "S" * 40}, "ticket", struct.pack("<Q", 5)),
    ({"group": "*", "ticket": 5}, "ticket", struct.pack("<Q", 5)),
    ({"ticket": True}, "ticket", struct.pack("<Q", 1)),
    ({"ticket": 2**64 - 1}, "ticket", struct.pack("<Q", 2**64 - 1)),
    ({"ticket": 0}, "ticket", struct.pack("<Q", 0)),
    ({"group": None, "symbol": "EURUSD"}, "symbol", R.pack_string("EURUSD")),
    ({"symbol": ""}, "symbol", R.pack_string("")),
    ({"symbol": "S" * 29}, "symbol", R.pack_string("S" * 29)),
    ({"symbol": "\U0001F600\u00e4"}, "symbol", R.pack_string("\U0001F600\u00e4")),
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
    ((), {"symbol": "S" * 30}, 'Invalid "symbol" argument'),
    ((), {"symbol": "\U0001F600" * 15}, 'Invalid "symbol" argument'),
    ((), {"symbol": b"EURUSD", "group": "*"}, 'Invalid "symbol" argument'),
    ((), {"group": None}, 'Invalid "group" argument'),
    ((), {"group": "*" * 1998}, 'Invalid "group" argument'),
])
def test_invalid_arguments_send_nothing(connected, f, args, kwargs, error):
    assert f.get(*args, **kwargs) is None
    assert brv.last_error() == (-2, error)
    assert connected.requests() == []


@family
def test_arguments_checked_before_the_connection(f):
    brv.shutdown()
    assert f.get(ticket=-1) is None
    assert brv.last_error() == (-2, 'Invalid "ticket" argument')
    for call in (f.get, f.total, lambda: f.get(group="*"), lambda: f.get(ticket=1)):
        assert call() is None
        assert brv.last_error() == (-10004, "No IPC connection")


# ------------------------------------------------------------------ records

@family
def test_record_fields(connected, f):
    values = distinct_values(f.layout)
    values["symbol"] = "S" * 32                   # fills its field: no NUL
    values["comment"] = "c\u00e4\U0001F600"
    values["external_id"] = "ab\0zz".encode("utf-16-le")  # read up to the NUL only
    if "magic" in values:
        values["magic"] = 2**64 - 1
    rec = bytearray(f.build(**values))
    if f.layout is R.POSITION:
        rec[104:112] = b"\xff" * 8                # the bytes the module does not read
    connected.on(f.cmd_all, records=[bytes(rec)])
    (got,) = f.get()
    assert type(got) is f.type
    assert tuple(got) == f.layout.values(bytes(rec))
    assert got.symbol == "S" * 32 and got.comment == "c\u00e4\U0001F600" and got.external_id == "ab"
    assert list(got._asdict()) == f.layout.names


@family
def test_list_in_received_order(connected, f):
    recs = [f.build(ticket=t, symbol=s) for t, s in [(9, "B"), (3, "A"), (7, "C")]]
    answer_all(connected, f, recs)
    assert [r.ticket for r in f.get()] == [9, 3, 7]
    assert [r.ticket for r in f.get(symbol="A")] == [9, 3, 7]  # the terminal selects, not the module


@family
@pytest.mark.parametrize("group, tickets", [
    ("*", [1, 2, 3, 4]),
    ("", []),
    ("EUR*", [1, 3]),
    ("*,!EUR*", [2, 4]),
    ("*JPY", [2, 3]),
])
def test_group_filters_the_reply_in_order(connected, f, group, tickets):
    connected.on(f.cmd_all, records=[f.build(ticket=t, symbol=s) for t, s in
                                     [(1, "EURUSD"), (2, "USDJPY"), (3, "EURJPY"), (4, "XAUUSD")]])
    assert [r.ticket for r in f.get(group=group)] == tickets
    assert brv.last_error() == SUCCESS


@family
@pytest.mark.parametrize("kwargs", [{}, {"symbol": "EURUSD"}, {"group": "*"}])
def test_empty_list(connected, f, kwargs):
    answer_all(connected, f, [])
    assert f.get(**kwargs) == ()
    assert brv.last_error() == SUCCESS


# ------------------------------------------------------------------ ticket

@family
@pytest.mark.parametrize("reply, found", [
    (dict(status=-4), False),
    (dict(status=-4, record=True), False),
    (dict(status=0, record=True), False),
    (dict(status=1, record=True), True),
    (dict(status=2, record=True), True),
])
def test_ticket_results(connected, f, reply, found):
    rec = f.build(ticket=77, symbol="EURUSD")
    connected.on(f.cmd_ticket, status=reply["status"], payload=rec if reply.get("record") else b"")
    got = f.get(ticket=77)
    assert brv.last_error() == SUCCESS
    if found:
        assert len(got) == 1 and type(got[0]) is f.type and tuple(got[0]) == f.layout.values(rec)
    else:
        assert got == ()


@family
@pytest.mark.parametrize("reply, error", [
    (dict(status=0), (-10002, "IPC recv failed")),        # a status 0 needs the record
    (dict(status=-2), (-2, "Terminal: Invalid params")),
    (dict(status=-8), (-8, "Terminal: Call failed")),
    (dict(status=1, payload=b"\0" * 10), (-10002, "IPC recv failed")),
    (dict(status=1, payload="record", echo="other"), (-10000, "IPC call failed")),
])
def test_ticket_failures(connected, f, reply, error):
    if reply.get("payload") == "record":
        reply = dict(reply, payload=f.build(), echo=f.cmd_all)
    connected.on(f.cmd_ticket, **reply)
    assert f.get(ticket=1) is None
    assert brv.last_error() == error


# ------------------------------------------------------------------ failures

@family
@pytest.mark.parametrize("kwargs", [{}, {"symbol": "EURUSD"}, {"group": "*"}])
@pytest.mark.parametrize("reply, error", [
    (dict(status=-4), (-4, "Terminal: Not found")),
    (dict(status=-9), (-9, "Terminal: Call failed")),
    (dict(payload=struct.pack("<I", 2) + b"\0" * 10), (-10002, "IPC recv failed")),
    (dict(payload=struct.pack("<I", 0), echo=999), (-10000, "IPC call failed")),
])
def test_list_failures(connected, f, kwargs, reply, error):
    for cmd in (f.cmd_all, f.cmd_symbol):
        connected.on(cmd, **reply)
    assert f.get(**kwargs) is None
    assert brv.last_error() == error


@family
def test_count_must_match_the_records(connected, f):
    rec = f.build(ticket=1)
    connected.on(f.cmd_all, payload=struct.pack("<I", 2) + rec)
    assert f.get() is None
    assert brv.last_error() == (-10002, "IPC recv failed")
    connected.on(f.cmd_all, records=[rec])
    assert len(f.get()) == 1  # the connection stays usable
