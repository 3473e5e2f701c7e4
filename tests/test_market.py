"""Account and terminal information, the symbol record, the symbol catalogue
and the last tick, against the fake terminal.

Record images are packed with `struct` from the record tables in `records`;
every field gets a value that differs from its neighbours' bytes, so a field
read one byte off, or from another field's place, changes the result.
"""

import os
import struct
import subprocess
import sys

import pytest

import borvane as brv
import records as R
from records import frame_request, pack_record_list, pack_string, pack_value

SUCCESS = (1, "Success")
TEXTS = {
    -2: "Terminal: Invalid params",
    -4: "Terminal: Not found",
    -5: "Terminal: Incompatible versions, please install the latest version of Terminal and Python module",
    -9: "Terminal: Call failed",
}
INCOMPATIBLE = (-5, TEXTS[-5])
NO_IPC = (-10004, "No IPC connection")
INVALID = (-2, "Invalid arguments")


# ------------------------------------------------------------------ helpers

def distinct_values(layout, seed=0):
    """A value for every field of `layout`, each unlike its neighbours.

    Flags alternate between 0 and a non-zero byte (1, 2 or 255); the first
    unsigned 64-bit field has all bits set; every other text fills its whole
    field without a NUL.
    """
    values = {}
    first_u64 = True
    for i, f in enumerate(layout.fields):
        k = i + seed
        if f.kind == "flag":
            values[f.name] = 0 if k % 2 == 0 else (1, 2, 255)[(k // 2) % 3]
        elif f.kind == "u32":
            values[f.name] = (0xF1E2D3C4 + 0x01020304 * k) & 0xFFFFFFFF
        elif f.kind == "i32":
            values[f.name] = -(0x01020304 + 0x10101 * k)
        elif f.kind == "u64":
            values[f.name] = 2**64 - 1 if first_u64 and seed == 0 else \
                (0xFEDCBA9876543210 + 0x0101010101010101 * k) & (2**64 - 1)
            first_u64 = False
        elif f.kind == "i64":
            values[f.name] = -(0x0102030405060708 + 0x1000001 * k)
        elif f.kind == "f64":
            values[f.name] = (-1) ** k * (k + 1.0) * 1234.5678
        elif f.kind.startswith("text"):
            units = f.width // 2
            if k % 2 == 0:
                values[f.name] = chr(0x41 + k % 26) * units
            else:
                values[f.name] = ("t%d-\u00e9\u20ac\U0001F600" % k)[:units - 2]
    return values


def check_record(obj, layout, raw, type_name):
    """`obj` is the record type `type_name` holding exactly what `raw` holds."""
    assert type(obj).__name__ == type_name
    assert list(obj._asdict()) == layout.names
    assert tuple(obj) == layout.values(raw)
    for f in layout.fields:
        value = obj[f.index]
        if f.kind == "flag":
            assert type(value) is bool, f.name
        elif f.kind.startswith("text"):
            assert type(value) is str, f.name
        elif f.kind == "f64":
            assert type(value) is float, f.name
        else:
            assert type(value) is int, f.name


def connect_with_build(fake, build):
    fake.set_build(build)
    assert brv.initialize(fake.exe) is True, brv.last_error()
    fake.clear()


# ------------------------------------------- every exchange and its failures

# name, arguments, command, request body, a good reply payload, failure value
SYMBOL_BODY = pack_string("EURUSD")
EXCHANGES = [
    ("account_info", (), 190, b"", R.account(login=7), None),
    ("terminal_info", (), 180, b"", R.terminal(build=4410), None),
    ("symbol_info", ("EURUSD",), 170, SYMBOL_BODY, R.symbol(name="EURUSD"), None),
    ("symbol_info_tick", ("EURUSD",), 172, SYMBOL_BODY, R.tick(time=1), None),
    ("symbols_total", (), 173, b"", pack_value(3), None),
    ("symbols_get", (), 174, b"", pack_record_list([R.symbol(name="A")]), None),
    ("symbols_get", ("*USD*",), 175, pack_string("*USD*"), pack_record_list([]), None),
    ("symbol_select", ("EURUSD",), 171, SYMBOL_BODY + b"\x01", b"", False),
]
EXCHANGE_IDS = ["%s%s" % (e[0], "_group" if e[2] == 175 else "") for e in EXCHANGES]


@pytest.fixture(params=EXCHANGES, ids=EXCHANGE_IDS)
def exchange(request):
    name, args, cmd, body, payload, failed = request.param
    return getattr(brv, name), args, cmd, body, payload, failed


def test_request_bytes_and_success(connected, exchange):
    fn, args, cmd, body, payload, failed = exchange
    connected.on(cmd, 0, payload)
    result = fn(*args)
    assert result is not failed and result is not None
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, body)]


@pytest.mark.parametrize("status", [-4, -9])
def test_negative_status_on_bare_header(connected, exchange, status):
    fn, args, cmd, body, payload, failed = exchange
    connected.on(cmd, status)
    assert fn(*args) is failed
    assert brv.last_error() == (status, TEXTS[status])


@pytest.mark.parametrize("delta", [-1, 1])
def test_reply_off_by_one_byte(connected, exchange, delta):
    fn, args, cmd, body, payload, failed = exchange
    if delta < 0 and not payload:
        pytest.skip("a status reply has no payload to cut")
    wrong = payload[:-1] if delta < 0 else payload + b"\0"
    connected.queue_reply(0, wrong, cmd=cmd)
    connected.on(cmd, 0, payload)
    assert fn(*args) is failed
    assert brv.last_error() == (-10002, "IPC recv failed")
    # the rest of the bad reply was consumed: the next exchange is in step
    assert fn(*args) is not failed
    assert brv.last_error() == SUCCESS


def test_wrong_echo(connected, exchange):
    fn, args, cmd, body, payload, failed = exchange
    connected.on(cmd, 0, payload, echo=cmd + 1)
    assert fn(*args) is failed
    assert brv.last_error() == (-10000, "IPC call failed")


def test_without_connection(fake, exchange):
    fn, args, cmd, body, payload, failed = exchange
    connect_with_build(fake, 2364)  # the build number outlives the connection
    brv.shutdown()
    assert fn(*args) is failed
    assert brv.last_error() == NO_IPC
    assert fake.requests() == []


def test_send_failure_closes_the_connection(connected, exchange):
    fn, args, cmd, body, payload, failed = exchange
    connected.stop()
    assert fn(*args) is failed
    assert brv.last_error() == (-10001, "IPC send failed")
    assert fn(*args) is failed
    assert brv.last_error() == NO_IPC


# ------------------------------------------------------ record field mapping

RECORD_FUNCTIONS = [
    ("account_info", (), 190, R.ACCOUNT, "AccountInfo"),
    ("terminal_info", (), 180, R.TERMINAL, "TerminalInfo"),
    ("symbol_info", ("EURUSD",), 170, R.SYMBOL, "SymbolInfo"),
    ("symbol_info_tick", ("EURUSD",), 172, R.TICK, "Tick"),
]


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize("name, args, cmd, layout, type_name", RECORD_FUNCTIONS,
                         ids=[f[0] for f in RECORD_FUNCTIONS])
def test_record_fields(connected, name, args, cmd, layout, type_name, seed):
    raw = layout.build(**distinct_values(layout, seed))
    connected.on(cmd, seed * 5, raw)  # a positive status is success too
    check_record(getattr(brv, name)(*args), layout, raw, type_name)
    assert brv.last_error() == SUCCESS


def test_terminal_build_and_tradeapi_disabled_positions(connected):
    # only the first four bytes and the last byte set
    raw = bytearray(R.TERMINAL.size)
    raw[0:4] = struct.pack("<I", 4410)
    raw[-1] = 2
    connected.on(180, 0, bytes(raw))
    info = brv.terminal_info()
    assert info.build == 4410 and info.tradeapi_disabled is True
    assert [k for k, v in info._asdict().items() if v] == ["tradeapi_disabled", "build"]


# ----------------------------------------------------------- symbol record

@pytest.mark.parametrize("requested", ["EURUSD", "S" * 28 + "\u00e9", "\U0001F600" * 14 + "x", ""])
def test_legacy_symbol_record_is_completed_with_the_requested_name(fake, requested):
    connect_with_build(fake, 2363)
    values = distinct_values(R.SYMBOL)
    del values["name"]
    fake.on(170, 0, R.symbol_legacy(**values))
    info = brv.symbol_info(requested)
    assert brv.last_error() == SUCCESS
    check_record(info, R.SYMBOL, R.symbol(name=requested, **values), "SymbolInfo")
    assert fake.requests()[0].raw == frame_request(170, pack_string(requested))


@pytest.mark.parametrize("build, size", [(2363, R.SYMBOL.size), (2364, R.SYMBOL_LEGACY_SIZE)])
def test_symbol_record_of_the_other_form_is_refused(fake, build, size):
    connect_with_build(fake, build)
    fake.on(170, 0, R.symbol(name="EURUSD")[:size])
    assert brv.symbol_info("EURUSD") is None
    assert brv.last_error() == (-10002, "IPC recv failed")


# --------------------------------------------------- one-symbol arguments

@pytest.mark.parametrize("name", ["symbol_info", "symbol_info_tick"])
@pytest.mark.parametrize("args", [(), ("A", "B"), (5,), (None,), (b"EURUSD",), ("E" * 30,),
                                  ("\U0001F600" * 15,)],
                         ids=["none", "two", "int", "None", "bytes", "30 units", "30 units emoji"])
def test_invalid_symbol_argument(connected, name, args):
    assert getattr(brv, name)(*args) is None
    assert brv.last_error() == INVALID
    assert connected.requests() == []


@pytest.mark.parametrize("name, cmd", [("symbol_info", 170), ("symbol_info_tick", 172)])
def test_symbol_of_29_units_is_sent(connected, name, cmd):
    symbol = "\U0001F600" * 14 + "x"
    getattr(brv, name)(symbol)
    (req,) = connected.requests()
    assert req.raw == frame_request(cmd, pack_string(symbol))
    assert struct.unpack_from("<I", req.raw)[0] == 8 + 2 * 29


# -------------------------------------------------------------- build gate

@pytest.mark.parametrize("name, args", [("symbols_total", ()), ("symbols_get", ()),
                                        ("symbols_get", ("*",))])
def test_build_gate(fake, name, args):
    connect_with_build(fake, 2363)
    assert getattr(brv, name)(*args) is None
    assert brv.last_error() == INCOMPATIBLE
    assert fake.requests() == []
    # the gate is tested before the pipe
    brv.shutdown()
    assert getattr(brv, name)(*args) is None
    assert brv.last_error() == INCOMPATIBLE
    # symbol_info has no gate: it reads the legacy record
    assert brv.initialize(fake.exe) is True
    fake.on(170, 0, R.symbol_legacy())
    assert brv.symbol_info("X").name == "X"


def test_build_2364_passes_the_gate(fake):
    connect_with_build(fake, 2364)
    fake.on(173, 0, value=0xFFFFFFFF)
    assert brv.symbols_total() == 4294967295
    fake.on(174, 0, records=[])
    assert brv.symbols_get() == ()
    assert fake.commands() == [173, 174]


def test_before_any_handshake_the_gate_comes_first():
    code = ("import borvane as b\n"
            "print(b.symbols_total(), b.last_error()[0], b.symbols_get(), b.last_error()[0],"
            " b.symbol_select('EURUSD'), b.last_error()[0])\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         timeout=60, env=os.environ.copy())
    assert out.stdout.split() == ["None", "-5", "None", "-5", "False", "-10004"], out.stderr


# ------------------------------------------------------------- symbols_get

@pytest.mark.parametrize("args, kwargs, cmd, group", [
    ((), {}, 174, None),
    (("",), {}, 174, None),
    ((), {"group": ""}, 174, None),
    ((), {"foo": 1}, 174, None),
    (("\0USD",), {}, 174, None),
    (("*USD*",), {}, 175, "*USD*"),
    ((), {"group": "*,!EUR*"}, 175, "*,!EUR*"),
    (("A",), {"group": "B"}, 175, "B"),
    (("A",), {"group": ""}, 174, None),
    (("ab\0cd",), {}, 175, "ab"),
    (("G" * 1997,), {}, 175, "G" * 1997),
], ids=["none", "empty", "empty keyword", "unknown keyword", "leading NUL", "group",
        "group keyword", "keyword wins", "empty keyword wins", "embedded NUL", "1997 units"])
def test_symbols_get_request(connected, args, kwargs, cmd, group):
    connected.on(cmd, 0, records=[])
    assert brv.symbols_get(*args, **kwargs) == ()
    assert brv.last_error() == SUCCESS
    body = b"" if group is None else pack_string(group)
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, body)]


@pytest.mark.parametrize("args, kwargs, message", [
    (("A", "B"), {}, "Invalid number of arguments"),
    ((5,), {}, "Invalid 1st unnamed argument"),
    (("G" * 1998,), {}, "Invalid 1st unnamed argument"),
    ((), {"group": 5}, "Invalid \"group\" argument"),
    ((), {"group": None}, "Invalid \"group\" argument"),
    (("A",), {"group": "G" * 1998}, "Invalid \"group\" argument"),
])
def test_symbols_get_invalid_arguments(connected, args, kwargs, message):
    assert brv.symbols_get(*args, **kwargs) is False
    assert brv.last_error() == (-2, message)
    assert connected.requests() == []


def test_symbols_get_records(connected):
    raws = [R.symbol(**distinct_values(R.SYMBOL, seed)) for seed in (0, 1, 2)]
    connected.on(175, 0, records=raws)
    result = brv.symbols_get("*")
    assert type(result) is tuple and len(result) == 3
    for info, raw in zip(result, raws):
        check_record(info, R.SYMBOL, raw, "SymbolInfo")


@pytest.mark.parametrize("count, records", [(2, 1), (0xFFFFFFFF, 1), (1, 0), (0, 1)],
                         ids=["one short", "hostile", "none", "extra"])
def test_symbols_get_count_must_match_the_reply(connected, count, records):
    payload = struct.pack("<I", count) + R.symbol(name="A") * records
    connected.queue_reply(0, payload, cmd=174)
    assert brv.symbols_get() is None
    assert brv.last_error() == (-10002, "IPC recv failed")
    connected.on(174, 0, records=[])
    assert brv.symbols_get() == ()


# ----------------------------------------------------------- symbol_select

class BadTruth:
    def __bool__(self):
        raise RuntimeError("no truth")


@pytest.mark.parametrize("args, flag", [
    (("EURUSD",), 1), (("EURUSD", True), 1), (("EURUSD", 0), 0), (("EURUSD", []), 0),
    (("EURUSD", "no"), 1), (("EURUSD", None), 0), (("", False), 0),
])
def test_symbol_select_flag_byte(connected, args, flag):
    connected.on(171, 0)
    assert brv.symbol_select(*args) is True
    (req,) = connected.requests()
    assert req.raw == frame_request(171, pack_string(args[0]) + bytes([flag]))
    assert struct.unpack_from("<I", req.raw)[0] == 2 * len(args[0]) + 9


@pytest.mark.parametrize("args", [(), ("EURUSD", 1, 2), (5,), ("E" * 30,), ("EURUSD", BadTruth())],
                         ids=["none", "three", "int", "30 units", "truth raises"])
def test_symbol_select_invalid_arguments(connected, args):
    assert brv.symbol_select(*args) is False
    assert brv.last_error() == INVALID
    assert connected.requests() == []
