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

def test_module_documentation_and_exports():
    core = brv._core
    assert core.__doc__ == "API Connector to Borvane Terminal"
    public = {n for n in dir(core) if not n.startswith("_")}
    assert len(FUNCTIONS) == 32 and public == set(FUNCTIONS) | {t[0] for t in TYPES}
    for name in public:
        assert getattr(brv, name) is getattr(core, name), name
    assert all(isinstance(getattr(core, t[0]), type) for t in TYPES)


@pytest.mark.parametrize("name", sorted((NOARGS | set(FUNCTIONS)) - KEYWORDS))
def test_calling_convention(name):
    func = getattr(brv._core, name)
    set_known_error()
    with pytest.raises(TypeError):
        func(1) if name in NOARGS else func(x=1)
    # Python refused the call before the function ran
    assert brv.last_error() == (-2, 'Invalid "login" argument')


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


def test_stub_functions_and_docstrings(stub):
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
    values = [object() for _ in fields]
    rec = cls(values)
    d = rec._asdict()
    assert type(d) is dict and list(d) == fields
    for field, value in zip(fields, values):
        assert d[field] is value and getattr(rec, field) is value
    node = stub[1][name]
    assert ast.get_docstring(node) == doc
    properties = [f.name for f in node.body if isinstance(f, ast.FunctionDef)
                  and any(isinstance(d, ast.Name) and d.id == "property" for d in f.decorator_list)]
    assert properties == fields
    # the tuple base lists one item type per field
    (base,) = [b for b in node.bases if isinstance(b, ast.Subscript) and getattr(b.value, "id", "") == "tuple"]
    assert len(getattr(base.slice, "value", base.slice).elts) == len(fields)  # 3.8 wraps it in Index


@pytest.mark.parametrize("name, head", [
    ("OrderSendResult", (10009, 1, 2, 0.5, 1.1, 1.0, 1.2, "done", 3, -1)),
    ("OrderCheckResult", (0, 100.0, 100.0, 0.0, 5.0, 95.0, 2000.0, "ok")),
])
def test_asdict_keeps_the_nested_request_and_the_last_error(name, head):
    req = brv.TradeRequest((1, 2, 3, "EURUSD", 0.5, 1.1, 0.0, 1.0, 1.2, 10, 0, 1, 2, 0, "c", 7, 8))
    set_known_error()
    d = getattr(brv, name)(head + (req,))._asdict()
    assert d["request"] is req
    assert list(d.values())[:-1] == list(head)
    assert req._asdict() == dict(zip(R.TRADE_REQUEST.names, req))
    # neither _asdict nor last_error() itself changes the last error
    assert brv.last_error() == brv.last_error() == (-2, 'Invalid "login" argument')


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

# A numpy C function table whose version queries answer as given (ABI,
# C-API level, byte order): enough for the import checks, which must stop
# before anything else in the table is used.
_TABLE = """
import ctypes
_answers = {0: ABI, 211: LEVEL, 210: ORDER}
_keep = [ctypes.CFUNCTYPE(ctypes.c_uint)(lambda v=v: v) for v in _answers.values()]
_table = (ctypes.c_void_p * 212)()
for index, f in zip(_answers, _keep):
    _table[index] = ctypes.cast(f, ctypes.c_void_p)
_new = ctypes.pythonapi.PyCapsule_New
_new.restype, _new.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_ARRAY_API = _new(ctypes.addressof(_table), None, None)
"""


def _table(abi, level, order):
    return _TABLE.replace("ABI", hex(abi)).replace("LEVEL", hex(level)).replace("ORDER", str(order))


@pytest.mark.parametrize("module, source, reason", [
    (None, None, "ModuleNotFoundError"),
    ("_core", "_ARRAY_API = object()", "RuntimeError: _ARRAY_API is not PyCapsule object"),
    # numpy 1.x keeps the module under numpy.core
    ("core", "_ARRAY_API = 1", "RuntimeError: _ARRAY_API is not PyCapsule object"),
    ("_core", _table(0x3000000, 0x12, 1),
     "RuntimeError: module compiled against ABI version 0x2000000 but this version of numpy is 0x3000000"),
    ("_core", _table(0x1000009, 0xf, 0), "RuntimeError: FATAL: module compiled as unknown endian"),
], ids=["no numpy", "not a capsule", "numpy.core", "abi", "endian"])
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

# one row per parser: functions that share theirs (orders_get, the history
# deals, symbol_info_tick, the book's release and get) are left out
@pytest.mark.parametrize("name, args, kwargs, failed", [
    ("login", (0,), {}, False),
    ("symbol_info", (), {}, None),
    ("symbol_select", ("EURUSD", 1, 2), {}, False),
    ("symbols_get", ("A", "B"), {}, False),
    ("copy_rates_from", ("EURUSD", 1.0, 0, 10), {}, None),
    ("copy_rates_from_pos", ("EURUSD", 1, 0, "10"), {}, None),
    ("copy_rates_range", ("EURUSD", 1, "x", 0), {}, None),
    ("copy_ticks_from", ("EURUSD", None, 10, 0), {}, None),
    ("copy_ticks_range", ("EURUSD", 0, 10), {}, None),
    ("positions_get", (), {"ticket": -1}, None),
    ("history_orders_total", (0, None), {}, None),
    ("history_orders_get", (0,), {}, None),
    ("order_check", ({"volume": 1},), {}, None),
    ("order_send", (None,), {}, None),
    ("order_calc_margin", (1, "EURUSD", 1.0), {}, None),
    ("order_calc_profit", (1, "EURUSD", "1.0", 1.0, 1.0), {}, None),
    ("market_book_add", (), {}, None),
])
def test_arguments_are_checked_before_the_pipe(name, args, kwargs, failed):
    brv.shutdown()
    assert getattr(brv, name)(*args, **kwargs) is failed
    assert brv.last_error()[0] == -2


# every function that sends its symbol as a wire string: the call, the bytes
# before the string in the body, and the value of a refused call
SYMBOL_CALLS = {
    "symbol_info": (lambda s: brv.symbol_info(s), 0, None),
    "symbol_info_tick": (lambda s: brv.symbol_info_tick(s), 0, None),
    "symbol_select": (lambda s: brv.symbol_select(s, True), 0, False),
    "market_book_add": (lambda s: brv.market_book_add(s), 0, None),
    "market_book_release": (lambda s: brv.market_book_release(s), 0, None),
    "market_book_get": (lambda s: brv.market_book_get(s), 0, None),
    "copy_rates_from": (lambda s: brv.copy_rates_from(s, 1, 0, 10), 0, None),
    "copy_rates_from_pos": (lambda s: brv.copy_rates_from_pos(s, 1, 0, 10), 0, None),
    "copy_rates_range": (lambda s: brv.copy_rates_range(s, 1, 0, 10), 0, None),
    "copy_ticks_from": (lambda s: brv.copy_ticks_from(s, 0, 10, 0), 0, None),
    "copy_ticks_range": (lambda s: brv.copy_ticks_range(s, 0, 10, 0), 0, None),
    "order_calc_margin": (lambda s: brv.order_calc_margin(0, s, 1.0, 1.0), 4, None),
    "order_calc_profit": (lambda s: brv.order_calc_profit(0, s, 1.0, 1.0, 1.0), 4, None),
    "positions_get": (lambda s: brv.positions_get(symbol=s), 0, None),
    "orders_get": (lambda s: brv.orders_get(symbol=s), 0, None),
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

class Stamp(datetime.datetime):
    def timestamp(self):
        return 42.9


@pytest.mark.parametrize("value, seconds", [
    (datetime.datetime(2020, 1, 10, tzinfo=UTC), 1578614400),
    (datetime.datetime(2020, 1, 10, 0, 0, 0, 999999, tzinfo=UTC), 1578614400),
    (datetime.datetime(2020, 1, 10, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=1))), 1578614400),
    (datetime.datetime(1969, 12, 31, 23, 59, 59, tzinfo=UTC), -1),
    (datetime.datetime(2020, 1, 10, 12, 30), int(datetime.datetime(2020, 1, 10, 12, 30).timestamp())),
    (Stamp(2001, 1, 1), 42),
    (1578614400.9, 1578614400), (-1.9, -1), (-0.5, 0), (True, 1), (2**31 - 1, 2**31 - 1), (-2**31, -2**31),
    (np.float64(5.7), 5),
])
def test_time_argument(connected, value, seconds):
    connected.on(107, records=[])
    assert brv.copy_rates_range("EURUSD", 16385, value, 7) is not None, brv.last_error()
    (req,) = connected.requests()
    assert req.raw == R.frame_request(107, R.pack_string("EURUSD") + struct.pack("<iqq", 16385, seconds, 7))
