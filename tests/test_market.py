"""Account and terminal information, the symbol record, the symbol catalogue
and the last tick, against the fake terminal. Every field of a record image
differs from its neighbours' bytes: a field read one byte off, or from
another field's place, changes the result."""

import pytest

import borvane as brv
import records as R
from conftest import BadTruth
from records import check_record, frame_request, pack_record_list, pack_string, pack_value

SUCCESS = (1, "Success")
INCOMPATIBLE = (-5, "Terminal: Incompatible versions, please install the latest version of Terminal and Python module")
INVALID = (-2, "Invalid arguments")


def connect_with_build(fake, build):
    fake.set_build(build)
    assert brv.initialize(fake.exe) is True, brv.last_error()
    fake.clear()


# ------------------------------------------------------------ records

# name, arguments, command, request body, layout, record type
RECORD_FUNCTIONS = [
    ("account_info", (), 190, b"", R.ACCOUNT, "AccountInfo"),
    ("terminal_info", (), 180, b"", R.TERMINAL, "TerminalInfo"),
    ("symbol_info", ("EURUSD",), 170, pack_string("EURUSD"), R.SYMBOL, "SymbolInfo"),
    ("symbol_info_tick", ("EURUSD",), 172, pack_string("EURUSD"), R.TICK, "Tick"),
]


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize("name, args, cmd, body, layout, type_name", RECORD_FUNCTIONS,
                         ids=[f[0] for f in RECORD_FUNCTIONS])
def test_request_and_record_fields(connected, name, args, cmd, body, layout, type_name, seed):
    raw = layout.build(**layout.sample(seed))
    connected.on(cmd, seed * 5, raw)  # a positive status is success too
    check_record(getattr(brv, name)(*args), layout, raw, type_name)
    assert brv.last_error() == SUCCESS
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, body)]


# ----------------------------------------------------------- symbol record

@pytest.mark.parametrize("requested", ["EURUSD", "S" * 28 + "\u00e9", "\U0001F600" * 14 + "x", ""])
def test_legacy_symbol_record_is_completed_with_the_requested_name(fake, requested):
    connect_with_build(fake, 2363)
    values = R.SYMBOL.sample()
    del values["name"]
    fake.on(170, 0, R.symbol(**values)[:R.SYMBOL_LEGACY_SIZE])
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


# -------------------------------------------------------------- build gate

@pytest.mark.parametrize("name, args, cmd", [("symbols_total", (), 173), ("symbols_get", (), 174),
                                             ("symbols_get", ("*",), 175)])
@pytest.mark.parametrize("build", [2363, 2364])
def test_build_gate(fake, name, args, cmd, build):
    connect_with_build(fake, build)
    fake.on(cmd, 0, pack_value(7) if cmd == 173 else pack_record_list([]))
    fn = getattr(brv, name)
    if build >= 2364:
        assert fn(*args) in (7, ())
        assert fake.commands() == [cmd]
        return
    assert fn(*args) is None
    assert brv.last_error() == INCOMPATIBLE
    assert fake.requests() == []


# ------------------------------------------------------------- symbols_get

@pytest.mark.parametrize("args, kwargs, cmd, group", [
    ((), {}, 174, None),
    (("",), {}, 174, None),
    (("\0USD",), {}, 174, None),
    (("*USD*",), {}, 175, "*USD*"),
    ((), {"group": "*,!EUR*"}, 175, "*,!EUR*"),
    (("A",), {"group": "B"}, 175, "B"),
    (("A",), {"group": ""}, 174, None),
    (("ab\0cd",), {}, 175, "ab"),
    (("G" * 1997,), {}, 175, "G" * 1997),
], ids=["none", "empty", "leading NUL", "group", "group keyword", "keyword wins", "empty keyword wins",
        "embedded NUL", "1997 units"])
def test_symbols_get_request(connected, args, kwargs, cmd, group):
    connected.on(cmd, 0, records=[])
    assert brv.symbols_get(*args, **kwargs) == ()
    assert brv.last_error() == SUCCESS
    body = b"" if group is None else pack_string(group)
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, body)]


# ----------------------------------------------------------- symbol_select

@pytest.mark.parametrize("args, flag", [
    (("EURUSD",), 1), (("EURUSD", True), 1), (("EURUSD", "no"), 1), (("EURUSD", None), 0), (("", False), 0),
])
def test_symbol_select_flag_byte(connected, args, flag):
    connected.on(171, 0)
    assert brv.symbol_select(*args) is True
    (req,) = connected.requests()
    assert req.raw == frame_request(171, pack_string(args[0]) + bytes([flag]))


@pytest.mark.parametrize("args", [(), ("EURUSD", 1, 2), ("EURUSD", BadTruth())],
                         ids=["none", "three", "truth raises"])
def test_symbol_select_invalid_arguments(connected, args):
    assert brv.symbol_select(*args) is False
    assert brv.last_error() == INVALID
    assert connected.requests() == []
