"""The trade history: history_orders_total/get and history_deals_total/get.

Both share their argument forms: two dates (with an optional group), or
ticket=, or position=; every test runs for both.
"""

import datetime
import struct
from collections import namedtuple

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")
INVALID = (-2, "Invalid arguments")
UNNAMED = (-2, "Unnamed arguments not allowed")

Family = namedtuple("Family", "get total cmd_total cmd_range cmd_position cmd_ticket layout build type")

FAMILIES = [
    Family(brv.history_orders_get, brv.history_orders_total, 140, 141, 142, 143, R.ORDER, R.order,
           brv.TradeOrder),
    Family(brv.history_deals_get, brv.history_deals_total, 150, 151, 152, 153, R.DEAL, R.deal,
           brv.TradeDeal),
]
family = pytest.mark.parametrize("f", FAMILIES, ids=["orders", "deals"])


def dates(a, b):
    return struct.pack("<qq", a, b)


# ------------------------------------------------------------------ totals

@family
@pytest.mark.parametrize("date_from, date_to, body", [
    (0, 100, dates(0, 100)),
    (-5, 2**31 - 1, dates(-5, 2**31 - 1)),
    (200, 100, dates(200, 100)),          # sent unchanged, even backwards
])
def test_total_sends_the_range(connected, f, date_from, date_to, body):
    connected.on(f.cmd_total, value=12)
    assert f.total(date_from, date_to) == 12
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(f.cmd_total, body)]


@family
@pytest.mark.parametrize("args", [(0,), (0, 1, 2), ("2020-01-10", 0), (0, None)])
def test_total_invalid_arguments(connected, f, args):
    assert f.total(*args) is None
    assert brv.last_error() == INVALID
    assert connected.requests() == []


# ------------------------------------------------------------- argument forms

@family
@pytest.mark.parametrize("args, kwargs, form, body", [
    ((0, 10), {}, "range", dates(0, 10)),
    ((0, 10), {"position": 9, "ticket": "bad"}, "range", dates(0, 10)),
    ((), {"ticket": 5, "position": "bad"}, "ticket", struct.pack("<Q", 5)),
    ((), {"ticket": 2**64 - 1, "group": "x"}, "ticket", struct.pack("<Q", 2**64 - 1)),
    ((), {"position": 9}, "position", struct.pack("<Q", 9)),
    ((), {"position": True, "group": "*"}, "position", struct.pack("<Q", 1)),
])
def test_forms_on_the_wire(connected, f, args, kwargs, form, body):
    cmd = {"range": f.cmd_range, "ticket": f.cmd_ticket, "position": f.cmd_position}[form]
    if form == "ticket":
        connected.on(cmd, status=-4)
    else:
        connected.on(cmd, records=[])
    assert f.get(*args, **kwargs) == ()
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [R.frame_request(cmd, body)]


@family
@pytest.mark.parametrize("args, kwargs, error", [
    ((), {}, INVALID),
    ((), {"foo": 1, "group": "*"}, INVALID),
    (("x", 1), {}, INVALID),
    ((0, datetime.date(2020, 1, 10)), {"ticket": 5}, INVALID),
    ((0,), {"ticket": 5}, UNNAMED),
    ((0,), {"position": 9}, UNNAMED),
    ((0,), {"ticket": -1}, UNNAMED),
    ((), {"ticket": -1}, (-2, 'Invalid "ticket" argument')),
    ((), {"ticket": None, "position": 9}, (-2, 'Invalid "ticket" argument')),
    ((), {"position": 1.5}, (-2, 'Invalid "position" argument')),
])
def test_invalid_forms_send_nothing(connected, f, args, kwargs, error):
    assert f.get(*args, **kwargs) is None
    assert brv.last_error() == error
    assert connected.requests() == []


# ------------------------------------------------------------------ results

@family
def test_record_fields(connected, f):
    rec = f.build(**f.layout.sample())
    connected.on(f.cmd_range, records=[rec])
    (got,) = f.get(0, 1)
    R.check_record(got, f.layout, rec, f.type.__name__)


@family
@pytest.mark.parametrize("group, tickets", [
    (None, [1, 2, 3, 4]),
    ("", []),
    ("*,!EUR*", [2, 4]),
])
def test_range_group_filters_in_received_order(connected, f, group, tickets):
    connected.on(f.cmd_range, records=[f.build(ticket=t, symbol=s) for t, s in
                                       [(1, "EURUSD"), (2, "USDJPY"), (3, "EURJPY"), (4, "XAUUSD")]])
    kwargs = {} if group is None else {"group": group}
    assert [r.ticket for r in f.get(0, 1, **kwargs)] == tickets
    assert brv.last_error() == SUCCESS
    assert connected.requests()[0].body == dates(0, 1)  # the group is not sent


@family
def test_position_form_returns_the_list(connected, f):
    connected.on(f.cmd_position, records=[f.build(ticket=t) for t in (5, 2, 8)])
    assert [r.ticket for r in f.get(position=9)] == [5, 2, 8]
    connected.on(f.cmd_position, records=[])
    assert f.get(position=9) == ()
    assert brv.last_error() == SUCCESS


@family
@pytest.mark.parametrize("status, record, found", [
    (-4, False, False), (0, True, False), (1, True, True),
])
def test_ticket_results(connected, f, status, record, found):
    rec = f.build(ticket=5, symbol="EURUSD")
    connected.on(f.cmd_ticket, status=status, payload=rec if record else b"")
    got = f.get(ticket=5)
    assert brv.last_error() == SUCCESS
    assert got == ((f.layout.values(rec),) if found else ())
    if found:
        assert type(got[0]) is f.type
