"""Leaks: after a warm-up, many calls of every client operation (good
replies, each way a reply fails, invalid arguments, no connection) must not
grow the resident size, the interpreter's blocks or the shared objects'
reference counts.  SOAK_CALLS sets the count (`make soak`: a million); under
the sanitizers and on Windows a tenth, and no resident size."""

import gc
import os
import sys

import pytest

import borvane as brv
import client_ops

SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
CALLS = int(os.environ.get("SOAK_CALLS", "20000" if SANITIZED or os.name == "nt" else "200000"))

RECORD_TYPES = ["AccountInfo", "BookInfo", "OrderCheckResult", "OrderSendResult", "SymbolInfo",
                "TerminalInfo", "Tick", "TradeDeal", "TradeOrder", "TradePosition", "TradeRequest"]


def _rss_bytes():
    if SANITIZED or os.name == "nt":
        return 0
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# calls refused for their arguments: converted, reported, nothing sent
INVALID_CALLS = [
    lambda: brv.symbol_info("S" * 30),
    lambda: brv.copy_rates_from("EURUSD", 1, "not a time", 10),
    lambda: brv.copy_ticks_range("EURUSD", 0, 1, -1),
    lambda: brv.order_send({"volume": 1}),
    lambda: brv.positions_get(group=5),
    lambda: brv.history_deals_get(0, 1, group="g" * 2000),
    lambda: brv.login(0),
    lambda: brv.symbols_get(1, 2),
    lambda: brv.initialize(path=3),
]


class Soak:
    def __init__(self, fake):
        self.fake = fake
        self.ops = [op for op in client_ops.operations(fake.exe) if op.name != "initialize"]
        self.calls = 0

    def _answer(self, phase):
        for op in self.ops:
            good = client_ops.payload(op, count=3)
            self.fake.on(op.cmd, **{
                "good": dict(status=1, payload=good),
                "status": dict(status=-4),
                "echo": dict(status=1, payload=good, echo=op.cmd + 1000),
                "long": dict(status=1, payload=good + b"\0"),
                "short": dict(status=1, payload=good[:-1] if good else b"\0"),
            }[phase])

    def run(self, budget):
        start = self.calls
        results = []  # keeps one pass of results alive, as a caller would
        while self.calls - start < budget:
            for phase in ("good", "status", "echo", "long", "short"):
                self._answer(phase)
                for _ in range(10):
                    results = [op.call() for op in self.ops]
                    self.calls += len(self.ops)
                if phase == "good":
                    assert all(r is not None and r is not False for r in results), brv.last_error()
                else:
                    assert all(r == op.failure or op.name.endswith("ticket") or op.name.startswith("market_book")
                               for r, op in zip(results, self.ops))
            for call in INVALID_CALLS:
                call()
                self.calls += 1
            brv.shutdown()  # no connection: every exchange fails before it starts
            for op in self.ops:
                op.call()
                self.calls += 1
            self._answer("good")
            assert brv.initialize(self.fake.exe) is True, brv.last_error()
        del results


def _snapshot(layouts):
    gc.collect()
    shared = dict(layouts, none=None, true=True, false=False, **{name: getattr(brv, name) for name in RECORD_TYPES})
    return _rss_bytes(), sys.getallocatedblocks(), {name: sys.getrefcount(obj) for name, obj in shared.items()}


@pytest.mark.time_limit(120 * max(1, CALLS // 200000))
def test_soak_leaks_nothing(connected):
    soak = Soak(connected)
    soak.run(1)  # warm-up: every path once, caches filled
    soak._answer("good")
    layouts = {  # as the module hands them out, held only here
        "bar layout": brv.copy_rates_from("EURUSD", 1, 0, 10).dtype,
        "tick layout": brv.copy_ticks_from("EURUSD", 0, 10, 0).dtype,
    }
    soak.run(min(CALLS // 10, 20000))
    rss0, blocks0, refs0 = _snapshot(layouts)

    soak.run(CALLS)

    rss1, blocks1, refs1 = _snapshot(layouts)
    assert soak.calls >= CALLS
    drift = {name: refs1[name] - refs0[name] for name in refs0 if refs1[name] != refs0[name]}
    assert all(abs(d) < 20 for d in drift.values()), drift
    assert blocks1 - blocks0 < 500, "%d blocks more" % (blocks1 - blocks0)
    # (the resident size is 0 where it is not measured)
    assert rss1 - rss0 < 4 << 20, "resident size grew by %.1f MB" % ((rss1 - rss0) / 1e6)
