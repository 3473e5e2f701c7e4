"""One benchmark measurement in a fresh process, for the Python clients.

    python workers.py CLIENT TARGET CASE ...

CLIENT is `module` (the extension; TARGET is the terminal executable path
given to `initialize`) or `baseline` (the pure-Python client of baseline.py;
TARGET is the socket path).  CASE and its arguments:

    tick BATCHES PER_BATCH WARMUP         symbol_info_tick, per-call time of each batch
    rates CALLS WARMUP                    copy_rates_range, time of each call
    ticks CALLS WARMUP                    copy_ticks_range
    positions CALLS WARMUP [GROUP]        positions_get(), or positions_get(group=GROUP)

Prints one line of JSON: "times" in seconds, and for the record lists the
time of the first (warm-up) call, the record count and the peak memory
growth of one more call after the others.
"""

import gc
import json
import os
import sys
import time

FROM = 946684800   # the arguments of every client (floor_client.cpp uses the same)
TO = 2000000000


def status_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def reset_peak():
    """Sets the peak resident size (VmHWM) back to the current one."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def peak_growth(call):
    """Peak resident growth, in bytes, of one call from a settled state."""
    gc.collect()
    before = status_kb("VmRSS")
    if not reset_peak():
        return -1
    result = call()
    growth = (status_kb("VmHWM") - before) * 1024
    del result
    return growth


def module_calls(target):
    import borvane as brv
    if not brv.initialize(target):
        sys.exit("initialize failed: %r" % (brv.last_error(),))

    def checked(call):
        def run():
            result = call()
            if result is None:
                sys.exit("call failed: %r" % (brv.last_error(),))
            return result
        return run

    return {
        "tick": lambda: brv.symbol_info_tick("EURUSD"),
        "rates": checked(lambda: brv.copy_rates_range("EURUSD", 1, FROM, TO)),
        "ticks": checked(lambda: brv.copy_ticks_range("EURUSD", FROM, TO, -1)),
        "positions": checked(lambda: brv.positions_get()),
        "group": lambda group: checked(lambda: brv.positions_get(group=group)),
    }, brv


def baseline_calls(target):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from baseline import Client
    client = Client(target)
    return {
        "tick": lambda: client.symbol_info_tick("EURUSD"),
        "rates": lambda: client.copy_rates_range("EURUSD", 1, FROM, TO),
        "ticks": lambda: client.copy_ticks_range("EURUSD", FROM, TO, -1),
        "positions": client.positions_get,
    }, None


def main(argv):
    client, target, case = argv[:3]
    rest = argv[3:]
    calls, brv = (module_calls if client == "module" else baseline_calls)(target)
    clock = time.perf_counter
    out = {}

    if case == "tick":
        batches, per_batch, warmup = map(int, rest[:3])
        call = calls["tick"]
        for _ in range(warmup):
            call()
        if call() is None:
            sys.exit("call failed: %r" % (brv.last_error(),))
        loop = range(per_batch)
        times = []
        for _ in range(batches):
            start = clock()
            for _ in loop:
                call()
            times.append((clock() - start) / per_batch)
        out["times"] = times
    else:
        count, warmup = int(rest[0]), int(rest[1])
        if case == "positions" and len(rest) > 2:
            call = calls["group"](rest[2])
        else:
            call = calls[case]
        for i in range(warmup):
            start = clock()
            result = call()
            del result
            if i == 0:
                out["first"] = clock() - start
        times = []
        # A call is timed with the release of its result, as the floor
        # client's time includes freeing its block.
        for _ in range(count):
            start = clock()
            result = call()
            out["count"] = len(result)
            del result
            times.append(clock() - start)
        out["times"] = times
        out["peak_growth"] = peak_growth(call)
    json.dump(out, sys.stdout)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main(sys.argv[1:])
