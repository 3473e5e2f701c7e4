"""Minute bars resampled to hours with pandas, checked against the terminal's
own hourly bars.

    python examples/resample_history.py [SYMBOL] [DAYS]

Reads DAYS days (default 3) of M1 bars from the paper terminal, resamples
them to H1 (first open, highest high, lowest low, last close, summed tick
volume), and compares every complete hour with the terminal's H1 bars.
Needs pandas (`pip install borvane[pandas]`).
"""

from __future__ import annotations

import sys

import pandas as pd

import borvane as brv
import borvane.paper as paper
from borvane.frames import rates_frame


def compare(symbol: str, days: int) -> int:
    minutes = brv.copy_rates_from_pos(symbol, paper.TIMEFRAME_M1, 0, days * 24 * 60)
    if minutes is None:
        print("copy_rates_from_pos M1 failed:", brv.last_error())
        return 1
    hours = brv.copy_rates_from_pos(symbol, paper.TIMEFRAME_H1, 0, days * 24 + 1)
    if hours is None:
        print("copy_rates_from_pos H1 failed:", brv.last_error())
        return 1
    m1, h1 = rates_frame(minutes), rates_frame(hours)

    resampled = m1.resample("1h").agg({"open": "first", "high": "max", "low": "min", "close": "last",
                                       "tick_volume": "sum"}).dropna()
    # The first hour may have started before the first minute read, and the
    # last one is still forming: compare the complete hours both sides have.
    common = resampled.index.intersection(h1.index)[1:-1]
    if len(common) == 0:
        print("no complete hour in both series")
        return 1
    ours, theirs = resampled.loc[common], h1.loc[common, list(resampled.columns)]
    info = brv.symbol_info(symbol)
    digits = info.digits if info is not None else 5

    print("%s: %d M1 bars resampled to %d hours; %d complete hours compared with the terminal's H1 bars"
          % (symbol, len(m1), len(resampled), len(common)))
    print()
    print("%-12s %14s %8s" % ("column", "largest diff", "equal"))
    mismatched = 0
    for column in ours.columns:
        diff = (ours[column] - theirs[column]).abs()
        equal = int((diff < 10.0 ** -(digits + 2)).sum())
        mismatched += len(common) - equal
        print("%-12s %14.*f %5d/%d" % (column, digits, diff.max(), equal, len(common)))
    print()
    last = common[-1]
    print("last compared hour, %s UTC:" % last.strftime("%Y-%m-%d %H:%M"))
    print(pd.DataFrame({"resampled M1": ours.loc[last], "terminal H1": theirs.loc[last]}).to_string())
    print()
    print("every hour agrees" if mismatched == 0 else "%d values differ" % mismatched)
    return 0 if mismatched == 0 else 1


def main(argv: list[str]) -> int:
    symbol = argv[1] if len(argv) > 1 else "EURUSD"
    days = int(argv[2]) if len(argv) > 2 else 3
    path = paper.executable()
    was_running = paper.is_running(path)
    if not brv.initialize(path=path):
        print("initialize failed:", brv.last_error())
        return 1
    try:
        return compare(symbol, days)
    finally:
        brv.shutdown()
        if not was_running:
            paper.stop(path)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
