"""The module surface and its conventions: functions, record types and the
type stub, the last error, the order of checks, the symbol argument of every
function that sends one, and time arguments."""

import ast
import datetime
import inspect
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import borvane as brv
import records as R

UTC = datetime.timezone.utc
EMOJI = "\U0001F600"
STUB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python", "borvane", "_core.pyi")

# How Python passes each function its arguments: no arguments, positional
# only, or positional and keywords (the rest).
NOARGS = {"shutdown", "version", "terminal_info", "account_info", "positions_total", "orders_total",
          "symbols_total", "last_error"}
KEYWORDS = {"initialize", "login", "positions_get", "orders_get", "history_orders_get", "history_deals_get",
            "order_check", "order_send", "symbols_get"}
FUNCTIONS = sorted(n for n in dir(brv._core) if not n.startswith("_") and n[0].islower())

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


def set_known_error():
    """Leave a recognisable last error: login() without a login is refused."""
    brv.login()
    assert brv.last_error() == (-2, 'Invalid "login" argument')


# ---------------------------------------------------------------- surface

@pytest.mark.parametrize("name", sorted((NOARGS | set(FUNCTIONS)) - KEYWORDS))
def test_calling_convention(name):
    func = getattr(brv._core, name)
    set_known_error()
    with pytest.raises(TypeError):
        func(1) if name in NOARGS else func(x=1)
    # Python refused the call before the function ran; last_error() leaves it be
    assert brv.last_error() == brv.last_error() == (-2, 'Invalid "login" argument')


@pytest.fixture(scope="module")
def stub():
    with open(STUB, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    functions, classes = {}, {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            functions.setdefault(node.name, node)  # overloads carry the docstring on the first
        elif isinstance(node, ast.ClassDef):
            classes[node.name] = node
    return functions, classes


def test_exports_stub_and_docstrings(stub):
    core = brv._core
    assert core.__doc__ == "API Connector to Borvane Terminal"
    public = {n for n in dir(core) if not n.startswith("_")}
    assert len(FUNCTIONS) == 32 and public == set(FUNCTIONS) | {t[0] for t in TYPES}
    assert all(getattr(brv, n) is getattr(core, n) for n in public)
    functions, classes = stub
    assert {n for n in functions if not n.startswith("_")} == set(FUNCTIONS)
    assert {n for n in classes if not n.startswith("_")} == {t[0] for t in TYPES}
    for name in FUNCTIONS:
        assert ast.get_docstring(functions[name]) == inspect.cleandoc(getattr(brv._core, name).__doc__)
    assert os.path.isfile(os.path.join(os.path.dirname(STUB), "py.typed"))


@pytest.mark.parametrize("name, doc, fields", TYPES, ids=[t[0] for t in TYPES])
def test_record_type_and_its_stub(stub, name, doc, fields):
    cls = getattr(brv, name)
    assert issubclass(cls, tuple) and cls.__doc__ == doc
    assert cls.n_fields == cls.n_sequence_fields == len(fields)
    rec = cls(range(len(fields)))
    assert [getattr(rec, field) for field in fields] == list(range(len(fields)))
    assert rec._asdict() == dict(zip(fields, rec))
    node = stub[1][name]
    assert ast.get_docstring(node) == doc
    properties = [f.name for f in node.body if isinstance(f, ast.FunctionDef)
                  and any(isinstance(d, ast.Name) and d.id == "property" for d in f.decorator_list)]
    assert properties == fields


def test_fresh_module_state():
    # last error (0, ""); build number 0, so the gate of symbols_total and
    # symbols_get comes before the pipe, while symbol_select has no gate
    code = ("import borvane as b\n"
            "print(repr(b.last_error()))\n"
            "print(b.symbols_total(), b.last_error()[0], b.symbols_get(), b.last_error()[0],"
            " b.symbol_select('EURUSD'), b.last_error()[0])\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         timeout=60, env=os.environ.copy())
    assert out.stdout.splitlines() == ["(0, '')", "None -5 None -5 False -10004"], out.stderr


# ------------------------------------------------------------ numpy import

# The version checks and their reasons are numpy's own import sequence; the
# module prints the reason and fails with its own message.
@pytest.mark.parametrize("module, source, reason", [
    (None, None, "ModuleNotFoundError"),
    ("_core", "_ARRAY_API = object()", "RuntimeError: _ARRAY_API is not PyCapsule object"),
], ids=["no numpy", "not a capsule"])
def test_numpy_import_failure(tmp_path, module, source, reason):
    if module is not None:
        folder = tmp_path / "numpy" / module
        folder.mkdir(parents=True)
        (tmp_path / "numpy" / "__init__.py").write_text("")
        (folder / "__init__.py").write_text("")
        (folder / "_multiarray_umath.py").write_text(source)
    code = ("import sys; sys.path.insert(0, sys.argv[1])\n"
            + ("sys.modules['numpy'] = None\n" if module is None else "")
            + "try:\n    import borvane._core\nexcept ImportError as e:\n    print(e)\n")
    out = subprocess.run([sys.executable, "-c", code, str(tmp_path)], capture_output=True, text=True,
                         timeout=60, env=os.environ.copy())
    assert out.stdout == "numpy.core.multiarray failed to import\n"
    assert reason in out.stderr


# ---------------------------------------------------------------- order of checks

# one row per kind of parser: functions that share theirs or its shape (the
# other list families, the other bar and tick copies, symbol_info_tick, the
# book, the profit) are left out
@pytest.mark.parametrize("name, args, kwargs, failed", [
    ("login", (0,), {}, False),
    ("symbol_info", (), {}, None),
    ("symbol_select", ("EURUSD", 1, 2), {}, False),
    ("symbols_get", ("A", "B"), {}, False),
    ("copy_rates_from", ("EURUSD", 1.0, 0, 10), {}, None),
    ("copy_ticks_from", ("EURUSD", None, 10, 0), {}, None),
    ("positions_get", (), {"ticket": -1}, None),
    ("history_orders_total", (0, None), {}, None),
    ("history_orders_get", (0,), {}, None),
    ("order_check", ({"volume": 1},), {}, None),
    ("order_send", (None,), {}, None),
    ("order_calc_margin", (1, "EURUSD", 1.0), {}, None),
    ("market_book_add", (), {}, None),
])
def test_arguments_are_checked_before_the_pipe(name, args, kwargs, failed):
    brv.shutdown()
    assert getattr(brv, name)(*args, **kwargs) is failed
    assert brv.last_error()[0] == -2


# one function of each way of taking the symbol (all convert it to the same
# wire string): the call, the bytes before the string in the body, and the
# value of a refused call
SYMBOL_CALLS = {
    "symbol_info": (lambda s: brv.symbol_info(s), 0, None),
    "symbol_select": (lambda s: brv.symbol_select(s, True), 0, False),
    "market_book_get": (lambda s: brv.market_book_get(s), 0, None),
    "copy_rates_from": (lambda s: brv.copy_rates_from(s, 1, 0, 10), 0, None),
    "copy_ticks_from": (lambda s: brv.copy_ticks_from(s, 0, 10, 0), 0, None),
    "order_calc_margin": (lambda s: brv.order_calc_margin(0, s, 1.0, 1.0), 4, None),
    "positions_get": (lambda s: brv.positions_get(symbol=s), 0, None),
}


@pytest.mark.parametrize("name", SYMBOL_CALLS)
def test_symbol_of_at_most_29_units(connected, name):
    call, at, refused = SYMBOL_CALLS[name]
    for symbol in ["S" * 29, EMOJI * 14 + "a", ""]:
        connected.clear()
        call(symbol)
        (req,) = connected.requests()
        assert req.body[at:at + 4 + len(symbol.encode("utf-16-le"))] == R.pack_string(symbol)
    connected.clear()
    for symbol in ["S" * 30, EMOJI * 15, 5, None, b"EURUSD"]:
        assert call(symbol) is refused, symbol
        assert brv.last_error()[0] == -2, symbol
    assert connected.requests() == []


# ---------------------------------------------------------------- time arguments

@pytest.mark.parametrize("value, seconds", [
    (datetime.datetime(2020, 1, 10, tzinfo=UTC), 1578614400),
    (datetime.datetime(2020, 1, 10, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=1))), 1578614400),
    (datetime.datetime(1969, 12, 31, 23, 59, 59, tzinfo=UTC), -1),
    (datetime.datetime(2020, 1, 10, 12, 30), int(datetime.datetime(2020, 1, 10, 12, 30).timestamp())),
    (1578614400.9, 1578614400), (-1.9, -1), (-0.5, 0), (True, 1), (2**31 - 1, 2**31 - 1), (-2**31, -2**31),
    (np.float64(5.7), 5),
])
def test_time_argument(connected, value, seconds):
    connected.on(107, records=[])
    assert brv.copy_rates_range("EURUSD", 16385, value, 7) is not None, brv.last_error()
    (req,) = connected.requests()
    assert req.raw == R.frame_request(107, R.pack_string("EURUSD") + struct.pack("<iqq", 16385, seconds, 7))
