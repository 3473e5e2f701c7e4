"""Open positions and orders, history orders and deals: the *_total and
*_get functions of the four record list families."""

import datetime
import struct
from collections import namedtuple

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")
INVALID = (-2, "Invalid arguments")
UNNAMED = (-2, "Unnamed arguments not allowed")

# range: the positional arguments of the list form; cmd_by: by symbol (open)
# or by position (history)
Family = namedtuple("Family", "get total cmd_total cmd_all cmd_by cmd_ticket layout build type range")

OPEN = [
    Family(brv.positions_get, brv.positions_total, 120, 121, 122, 123, R.POSITION, R.position,
           brv.TradePosition, ()),
    Family(brv.orders_get, brv.orders_total, 130, 131, 132, 133, R.ORDER, R.order, brv.TradeOrder, ()),
]
HISTORY = [
    Family(brv.history_orders_get, brv.history_orders_total, 140, 141, 142, 143, R.ORDER, R.order,
           brv.TradeOrder, (0, 1)),
    Family(brv.history_deals_get, brv.history_deals_total, 150, 151, 152, 153, R.DEAL, R.deal,
           brv.TradeDeal, (0, 1)),
]
history = pytest.mark.parametrize("f", HISTORY, ids=["history orders", "history deals"])
every = pytest.mark.parametrize("f", OPEN + HISTORY, ids=["positions", "orders", "history orders", "history deals"])


def dates(a, b):
    return struct.pack("<qq", a, b)


def each(families, cases):
    return [(f,) + case for case in cases for f in families]


# ------------------------------------------------------------------ totals

@pytest.mark.parametrize("f, args, value, body", each(OPEN, [
    ((), 0, b""),
    ((), 2**32 - 1, b""),
]) + each(HISTORY, [
    ((0, 100), 7, dates(0, 100)),
    ((-5, 2**31 - 1), 12, dates(-5, 2**31 - 1)),
    ((200, 100), 12, dates(200, 100)),          # sent unchanged, even backwards
]))
def test_total(connected, f, args, value, body):
    connected.on(f.cmd_total, value=value)
    assert f.total(*args) == value
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(f.cmd_total, body)]


@history
@pytest.mark.parametrize("args", [(0,), (0, 1, 2), ("2020-01-10", 0), (0, None)])
def test_total_invalid_arguments(connected, f, args):
    assert f.total(*args) is None
    assert brv.last_error() == INVALID
    assert connected.requests() == []


# ------------------------------------------------------------- argument forms

@pytest.mark.parametrize("f, args, kwargs, form, body", each(OPEN, [
    ((), {}, "all", b""),
    ((), {"foo": 1, "Symbol": "x", "tickets": 3}, "all", b""),
    ((), {"ticket": 5, "symbol": "S" * 40, "group": "*"}, "ticket", struct.pack("<Q", 5)),
    ((), {"ticket": 2**64 - 1}, "ticket", struct.pack("<Q", 2**64 - 1)),
    ((), {"ticket": 0}, "ticket", struct.pack("<Q", 0)),
    ((), {"group": None, "symbol": "EURUSD"}, "by", R.pack_string("EURUSD")),
    ((), {"symbol": ""}, "by", R.pack_string("")),
]) + each(HISTORY, [
    ((0, 10), {}, "all", dates(0, 10)),
    ((0, 10), {"position": 9, "ticket": "bad"}, "all", dates(0, 10)),
    ((), {"ticket": 5, "position": "bad"}, "ticket", struct.pack("<Q", 5)),
    ((), {"ticket": 2**64 - 1, "group": "x"}, "ticket", struct.pack("<Q", 2**64 - 1)),
    ((), {"position": 9}, "by", struct.pack("<Q", 9)),
    ((), {"position": True, "group": "*"}, "by", struct.pack("<Q", 1)),
]))
def test_forms_on_the_wire(connected, f, args, kwargs, form, body):
    cmd = {"all": f.cmd_all, "by": f.cmd_by, "ticket": f.cmd_ticket}[form]
    if form == "ticket":
        connected.on(cmd, status=-4)
    else:
        connected.on(cmd, records=[])
    assert f.get(*args, **kwargs) == ()
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(cmd, body)]


@pytest.mark.parametrize("f, args, kwargs, error", each(OPEN, [
    (("EURUSD",), {}, UNNAMED),
    ((), {"ticket": 5.0}, (-2, 'Invalid "ticket" argument')),
    ((), {"ticket": None, "symbol": "EURUSD"}, (-2, 'Invalid "ticket" argument')),
    ((), {"symbol": b"EURUSD", "group": "*"}, (-2, 'Invalid "symbol" argument')),
]) + each(HISTORY, [
    ((), {"foo": 1, "group": "*"}, INVALID),   # keywords, none of the forms
    (("x", 1), {}, INVALID),
    ((0, datetime.date(2020, 1, 10)), {"ticket": 5}, INVALID),
    ((0,), {"ticket": -1}, UNNAMED),   # before the ticket itself
    ((), {"ticket": None, "position": 9}, (-2, 'Invalid "ticket" argument')),
    ((), {"position": 1.5}, (-2, 'Invalid "position" argument')),
]) + each(OPEN + HISTORY, [
    ((), {"ticket": -1}, (-2, 'Invalid "ticket" argument')),
    ((), {"ticket": 2**64}, (-2, 'Invalid "ticket" argument')),
]))
def test_invalid_forms_send_nothing(connected, f, args, kwargs, error):
    assert f.get(*args, **kwargs) is None
    assert brv.last_error() == error
    assert connected.requests() == []


# ------------------------------------------------------------------ results

@every
def test_record_fields(connected, f):
    values = dict(f.layout.sample(), external_id="ab\0zz".encode("utf-16-le"))  # read up to the NUL
    rec = f.build(**values)
    connected.on(f.cmd_all, records=[rec])
    (got,) = f.get(*f.range)
    R.check_record(got, f.layout, rec, f.type.__name__)
    assert got.external_id == "ab"


@every
@pytest.mark.parametrize("group, tickets", [
    (None, [1, 2, 3, 4, 5]),
    ("", []),
    ("EUR*", [1, 3, 5]),
    ("*,!EUR*", [2, 4]),
])
def test_group_filters_the_reply_in_order(connected, f, group, tickets):
    # A symbol that comes back, one of Latin-1 units only.
    symbols = {1: "EURUSD", 2: "USDJPY", 3: "EURJPY", 4: "X\u00c4U\u00fc", 5: "EURUSD"}
    connected.on(f.cmd_all, records=[f.build(ticket=t, symbol=s) for t, s in symbols.items()])
    kwargs = {} if group is None else {"group": group}
    # Compared as UTF-8: a string built with the wrong width can still compare equal.
    assert [(r.ticket, r.symbol.encode()) for r in f.get(*f.range, **kwargs)] == \
        [(t, symbols[t].encode()) for t in tickets]
    assert brv.last_error() == SUCCESS
    assert connected.requests()[0].body == (dates(*f.range) if f.range else b"")  # the group is not sent


@every
def test_symbol_and_position_forms_return_the_list_as_received(connected, f):
    # the terminal selects, not the module
    connected.on(f.cmd_by, records=[f.build(ticket=t, symbol=s) for t, s in [(9, "B"), (3, "A"), (7, "C")]])
    assert [r.ticket for r in f.get(**({"position": 9} if f.range else {"symbol": "A"}))] == [9, 3, 7]


@every
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
