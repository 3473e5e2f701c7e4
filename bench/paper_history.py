"""First-request time of long history from the paper terminal.

Each measurement starts a fresh paper terminal (its own private folders, so
nothing is cached), connects, and times one request for all the daily or
weekly bars since 2010 of one symbol; then the same request again (cached).
Run it against an installed package, or during development with
PYTHONPATH=build/<name>/pkg:

    python bench/paper_history.py [--runs N] [--symbols EURUSD,BTCUSD]
"""

import argparse
import os
import shutil
import statistics
import tempfile
import time

import borvane as brv
import borvane.paper as paper

# A fixed weekday noon, so that every run serves the same bars.
START_TIME = 1796212800  # 2026-12-02 12:00 UTC


def once(symbol, timeframe):
    folder = tempfile.mkdtemp(prefix="brvb", dir="/tmp")
    os.mkdir(os.path.join(folder, "run"), 0o700)
    os.environ.update(XDG_RUNTIME_DIR=os.path.join(folder, "run"), XDG_DATA_HOME=os.path.join(folder, "data"))
    exe = os.path.join(folder, "terminal64.exe")
    shutil.copy2(paper.executable(), exe)
    t = paper.start(exe, args=["--start-time=%d" % START_TIME])
    try:
        assert brv.initialize(path=exe), brv.last_error()
        begin = time.perf_counter()
        first = brv.copy_rates_range(symbol, timeframe, paper.HISTORY_START, START_TIME)
        cold = time.perf_counter() - begin
        begin = time.perf_counter()
        again = brv.copy_rates_range(symbol, timeframe, paper.HISTORY_START, START_TIME)
        warm = time.perf_counter() - begin
        assert first[:-1].tobytes() == again[:-1].tobytes()  # the current bar goes on forming
        return cold, warm, len(first)
    finally:
        brv.shutdown()
        t.stop()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--symbols", default="EURUSD,USDJPY,EURJPY,XAUUSD,BTCUSD")
    ns = parser.parse_args()
    print("| Symbol | Timeframe | Bars | First request (median, ms) | Lowest to highest (ms) | Cached (ms) |")
    print("|---|---|---|---|---|---|")
    for symbol in ns.symbols.split(","):
        for name, timeframe in (("D1", paper.TIMEFRAME_D1), ("W1", paper.TIMEFRAME_W1)):
            runs = [once(symbol, timeframe) for _ in range(ns.runs)]
            cold = [r[0] for r in runs]
            print("| %s | %s | %d | %.0f | %.0f to %.0f | %.1f |" % (
                symbol, name, runs[0][2], 1000 * statistics.median(cold), 1000 * min(cold), 1000 * max(cold),
                1000 * statistics.median(r[1] for r in runs)))


if __name__ == "__main__":
    main()
