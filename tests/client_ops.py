"""Every client operation of the module, as a table for the hardening tests
(faults, fuzz, soak): the call, its command, the reply shape ("status",
"value", "f64", "version", "record" or "list" of `layout`), and the value the
call returns on failure."""

import struct
from collections import namedtuple

import borvane as brv
import records as R

Op = namedtuple("Op", "name call cmd shape layout failure")

SYMBOL = "EURUSD"
REQUEST = dict(action=1, symbol=SYMBOL, volume=0.5, type=1, price=1.1, comment="hardening")
NO_VERSION = (0, 0, "")


def operations(exe):
    """The table; `exe` is the terminal path that `initialize` connects to."""
    ops = [
        Op("version", brv.version, 1, "version", None, NO_VERSION),
        Op("initialize", lambda: brv.initialize(exe), 4, "value", None, False),
        Op("login", lambda: brv.login(7, "pw", "srv"), 5, "status", None, False),
        Op("login readiness", lambda: brv.login(7), 109, "value", None, False),
        Op("terminal_info", brv.terminal_info, 180, "record", R.TERMINAL, None),
        Op("account_info", brv.account_info, 190, "record", R.ACCOUNT, None),
        Op("symbols_total", brv.symbols_total, 173, "value", None, None),
        Op("symbols_get", brv.symbols_get, 174, "list", R.SYMBOL, None),
        Op("symbols_get group", lambda: brv.symbols_get(group="*USD*"), 175, "list", R.SYMBOL, None),
        Op("symbol_info", lambda: brv.symbol_info(SYMBOL), 170, "record", R.SYMBOL, None),
        Op("symbol_info_tick", lambda: brv.symbol_info_tick(SYMBOL), 172, "record", R.TICK, None),
        Op("symbol_select", lambda: brv.symbol_select(SYMBOL, True), 171, "status", None, False),
        Op("copy_rates_from", lambda: brv.copy_rates_from(SYMBOL, 1, 0, 10), 106, "list", R.BAR, None),
        Op("copy_rates_from_pos", lambda: brv.copy_rates_from_pos(SYMBOL, 1, 0, 10), 108, "list", R.BAR,
           None),
        Op("copy_rates_range", lambda: brv.copy_rates_range(SYMBOL, 1, 0, 100), 107, "list", R.BAR, None),
        Op("copy_ticks_from", lambda: brv.copy_ticks_from(SYMBOL, 0, 10, 0), 104, "list", R.TICK, None),
        Op("copy_ticks_range", lambda: brv.copy_ticks_range(SYMBOL, 0, 100, 0), 105, "list", R.TICK, None),
        Op("order_check", lambda: brv.order_check(REQUEST), 160, "record", R.CHECK_RESULT, None),
        Op("order_send", lambda: brv.order_send(REQUEST), 161, "record", R.SEND_RESULT, None),
        Op("order_calc_margin", lambda: brv.order_calc_margin(1, SYMBOL, 1.0, 1.1), 162, "f64", None, None),
        Op("order_calc_profit", lambda: brv.order_calc_profit(1, SYMBOL, 1.0, 1.1, 1.2), 163, "f64", None,
           None),
        Op("market_book_add", lambda: brv.market_book_add(SYMBOL), 191, "status", None, False),
        Op("market_book_get", lambda: brv.market_book_get(SYMBOL), 193, "list", R.BOOK_ENTRY, None),
        Op("market_book_release", lambda: brv.market_book_release(SYMBOL), 192, "status", None, False),
    ]
    # The four families of positions, orders and the history share one shape.
    for family, total, get, base, layout, ranged in [
        ("positions", brv.positions_total, brv.positions_get, 120, R.POSITION, False),
        ("orders", brv.orders_total, brv.orders_get, 130, R.ORDER, False),
        ("history_orders", brv.history_orders_total, brv.history_orders_get, 140, R.ORDER, True),
        ("history_deals", brv.history_deals_total, brv.history_deals_get, 150, R.DEAL, True),
    ]:
        span = (0, 100) if ranged else ()
        by_name = dict(position=1) if ranged else dict(symbol=SYMBOL)
        ops += [
            Op(family + "_total", _bind(total, span, {}), base, "value", None, None),
            Op(family + "_get", _bind(get, span, {}), base + 1, "list", layout, None),
            Op(family + "_get group", _bind(get, span, dict(group="*USD*,!GBP*")), base + 1, "list",
               layout, None),
            Op(family + "_get " + next(iter(by_name)), _bind(get, (), by_name), base + 2, "list", layout,
               None),
            Op(family + "_get ticket", _bind(get, (), dict(ticket=1)), base + 3, "record", layout, None),
        ]
    return ops


def _bind(fn, args, kwargs):
    return lambda: fn(*args, **kwargs)


def by_name(exe):
    return {op.name: op for op in operations(exe)}


# ------------------------------------------------------------ payloads

def record_bytes(layout, rng=None):
    """One record: every field set (`Layout.sample`, with the symbol EURUSD)
    or, with `rng`, arbitrary bytes (unpaired surrogates, NaNs, flag bytes above 1)."""
    if rng is not None:
        return bytes(rng.getrandbits(8) for _ in range(layout.size))
    values = layout.sample()
    if "symbol" in values:
        values["symbol"] = "EURUSD"
    return layout.build(**values)


def payload(op, count=2, rng=None):
    """A well-formed payload for the op's reply shape."""
    if op.shape == "status":
        return b""
    if op.shape == "value":
        # the readiness poll answers "ready", the handshake a current build
        return R.pack_value({109: 2, 4: 4410}.get(op.cmd, 3))
    if op.shape == "f64":
        return struct.pack("<d", 1.5)
    if op.shape == "version":
        return R.pack_version(5, 4410, "5.00 build 4410")
    if op.shape == "record":
        return record_bytes(op.layout, rng)
    return R.pack_record_list(record_bytes(op.layout, rng) for _ in range(count))
