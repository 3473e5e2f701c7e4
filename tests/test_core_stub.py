"""The module surface against its type stub, `borvane/_core.pyi`.

The stub is what editors and type checkers see; these checks keep it in step
with the module: the same 32 functions with the same docstrings, the same 11
record types with their fields in order.
"""

import ast
import inspect
import os
import types

import pytest

import borvane
import borvane._core as core

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.join(os.path.dirname(HERE), "python", "borvane")

FUNCTIONS = {
    "initialize", "shutdown", "login", "version", "terminal_info", "account_info",
    "copy_ticks_from", "copy_ticks_range", "copy_rates_from", "copy_rates_from_pos",
    "copy_rates_range", "positions_total", "positions_get", "orders_total", "orders_get",
    "history_orders_total", "history_orders_get", "history_deals_total", "history_deals_get",
    "order_check", "order_send", "order_calc_margin", "order_calc_profit", "symbol_info",
    "symbol_info_tick", "symbol_select", "symbols_total", "symbols_get", "market_book_add",
    "market_book_release", "market_book_get", "last_error",
}
RECORD_TYPES = {
    "TradePosition", "TradeOrder", "TradeDeal", "TradeRequest", "OrderSendResult",
    "OrderCheckResult", "Tick", "TerminalInfo", "SymbolInfo", "AccountInfo", "BookInfo",
}


def public(names):
    return {n for n in names if not n.startswith("_")}


@pytest.fixture(scope="module")
def stub():
    with open(os.path.join(PACKAGE, "_core.pyi"), encoding="utf-8") as f:
        return ast.parse(f.read())


def stub_functions(tree):
    """name -> the first definition (overloads carry the docstring on the first)."""
    found = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            found.setdefault(node.name, node)
    return found


def stub_classes(tree):
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def test_module_has_exactly_the_functions_and_record_types():
    names = public(dir(core))
    funcs = {n for n in names if isinstance(getattr(core, n), types.BuiltinFunctionType)}
    classes = {n for n in names if isinstance(getattr(core, n), type)}
    assert funcs == FUNCTIONS
    assert classes == RECORD_TYPES
    assert names == FUNCTIONS | RECORD_TYPES


def test_stub_names_match_the_module(stub):
    assert public(stub_functions(stub)) == FUNCTIONS
    assert public(stub_classes(stub)) == RECORD_TYPES
    assert os.path.isfile(os.path.join(PACKAGE, "py.typed"))


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_stub_docstring_is_the_module_docstring(stub, name):
    node = stub_functions(stub)[name]
    assert ast.get_docstring(node) == inspect.cleandoc(getattr(core, name).__doc__)


@pytest.mark.parametrize("name", sorted(RECORD_TYPES))
def test_stub_record_fields_in_order(stub, name):
    record_type = getattr(core, name)
    # an instance made from a sequence names its fields through _asdict
    fields = list(record_type(range(record_type.n_fields))._asdict())
    node = stub_classes(stub)[name]
    properties = [f.name for f in node.body if isinstance(f, ast.FunctionDef)
                  and any(isinstance(d, ast.Name) and d.id == "property" for d in f.decorator_list)]
    assert properties == fields
    assert ast.get_docstring(node) == record_type.__doc__
    # the tuple base lists one item type per field
    (tuple_base,) = [b for b in node.bases if isinstance(b, ast.Subscript)
                     and isinstance(b.value, ast.Name) and b.value.id == "tuple"]
    items = getattr(tuple_base.slice, "value", tuple_base.slice)  # Python 3.8 wraps it in Index
    assert len(items.elts) == len(fields)


def test_package_reexports_the_module():
    for name in FUNCTIONS | RECORD_TYPES:
        assert getattr(borvane, name) is getattr(core, name)
