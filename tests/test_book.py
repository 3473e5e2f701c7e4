"""The market book: subscribe, release and read, against the fake terminal."""

import struct

import pytest

import borvane as brv
import records as R
from records import frame_request, pack_string

SUCCESS = (1, "Success")
INVALID = (-2, "Invalid arguments")

ALL = [("market_book_add", 191), ("market_book_release", 192), ("market_book_get", 193)]
SWITCHES = ALL[:2]


def entries(n):
    """Book levels whose fields differ from their neighbours' bytes."""
    return [R.book_entry(type=0xFFFFFFFF - i, price=1.0625 + i, volume=2**64 - 1 - i,
                         volume_dbl=-(i + 0.5)) for i in range(n)]


def good_payload(cmd):
    """A status reply for add and release, a list of two levels for get."""
    return R.pack_record_list(entries(2)) if cmd == 193 else b""


# ---------------------------------------------------------------- arguments

@pytest.mark.parametrize("name, cmd", ALL)
@pytest.mark.parametrize("symbol", ["EURUSD", "", "S" * 29, "\U0001F600" * 14 + "x"],
                         ids=["EURUSD", "empty", "29", "29 emoji"])
def test_request_bytes(connected, name, cmd, symbol):
    connected.on(cmd, 0, good_payload(cmd))
    assert getattr(brv, name)(symbol) not in (None, False)
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, pack_string(symbol))]


@pytest.mark.parametrize("name, cmd", ALL)
def test_invalid_arguments(connected, name, cmd):
    fn = getattr(brv, name)
    for args in [(), ("A", "B"), (5,), (None,), (b"EURUSD",), ("E" * 30,), ("\U0001F600" * 15,)]:
        assert fn(*args) is None, args
        assert brv.last_error() == INVALID, args
    brv.shutdown()  # arguments come before the pipe
    assert fn("E" * 30) is None and brv.last_error() == INVALID
    assert connected.requests() == []


# ----------------------------------------------------------- add and release

@pytest.mark.parametrize("name, cmd", SWITCHES)
@pytest.mark.parametrize("status", [0, 3])
def test_switch_success(connected, name, cmd, status):
    connected.on(cmd, status)
    assert getattr(brv, name)("EURUSD") is True
    assert brv.last_error() == SUCCESS


def _fail(fake, cmd, how):
    if how == "negative status":
        fake.on(cmd, -4)
    elif how == "wrong echo":
        fake.on(cmd, 0, good_payload(cmd), echo=cmd + 1)
    elif how == "byte long":
        fake.on(cmd, 0, good_payload(cmd) + b"\0")
    elif how == "no connection":
        brv.shutdown()
    elif how == "send failure":
        fake.stop()


FAILURES = ["negative status", "wrong echo", "byte long", "no connection", "send failure"]


@pytest.mark.parametrize("name, cmd", SWITCHES)
@pytest.mark.parametrize("how", FAILURES)
def test_switch_failure_is_a_bare_false(connected, name, cmd, how):
    _fail(connected, cmd, how)
    assert getattr(brv, name)("EURUSD") is False
    assert brv.last_error() == SUCCESS


# ---------------------------------------------------------------------- get

@pytest.mark.parametrize("n", [1, 3, 600])  # 600 levels are read straight into the storage
def test_get_entries(connected, n):
    raws = entries(n)
    connected.on(193, 0, records=raws)
    book = brv.market_book_get("EURUSD")
    assert type(book) is tuple and len(book) == n
    for info, raw in zip(book, raws):
        assert type(info).__name__ == "BookInfo"
        assert list(info._asdict()) == R.BOOK_ENTRY.names
        assert tuple(info) == R.BOOK_ENTRY.values(raw)
        assert [type(v) for v in info] == [int, float, int, float]
    assert book[0].volume == 2**64 - 1 and book[0].type == 0xFFFFFFFF
    assert brv.last_error() == SUCCESS


def test_get_empty_book(connected):
    connected.on(193, 0, records=[])
    assert brv.market_book_get("EURUSD") == ()
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("how, error", [
    ("negative status", (-4, "Terminal: Not found")),
    ("wrong echo", (-10000, "IPC call failed")),
    ("byte long", (-10002, "IPC recv failed")),
    ("no connection", (-10004, "No IPC connection")),
    ("send failure", (-10001, "IPC send failed")),
])
def test_get_failures(connected, how, error):
    _fail(connected, 193, how)
    assert brv.market_book_get("EURUSD") is None
    assert brv.last_error() == error


@pytest.mark.parametrize("count, n, extra", [(2, 2, b"\0"), (2, 2, b""), (3, 2, b""), (1, 2, b""),
                                             (0xFFFFFFFF, 1, b"")],
                         ids=["byte long", "byte short", "count high", "count low", "hostile"])
def test_get_count_must_match_the_reply(connected, count, n, extra):
    data = b"".join(entries(n)) + extra
    if extra == b"" and count == 2:
        data = data[:-1]
    connected.queue_reply(0, struct.pack("<I", count) + data, cmd=193)
    assert brv.market_book_get("EURUSD") is None
    assert brv.last_error() == (-10002, "IPC recv failed")
    connected.on(193, 0, records=entries(1))
    assert len(brv.market_book_get("EURUSD")) == 1
