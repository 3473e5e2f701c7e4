"""Draws a candlestick chart of a symbol's bars from the paper terminal.

    python examples/plot_history.py [SYMBOL] [TIMEFRAME] [COUNT] [OUTPUT.png]

TIMEFRAME is a name such as M15, H1 or D1 (default H1). Needs matplotlib
(`pip install matplotlib`); without it the script says so and stops.
"""

from __future__ import annotations

import datetime
import sys

import borvane as brv
import borvane.paper as paper


def main(argv: list[str]) -> int:
    symbol = argv[1] if len(argv) > 1 else "EURUSD"
    timeframe_name = (argv[2] if len(argv) > 2 else "H1").upper()
    count = int(argv[3]) if len(argv) > 3 else 60
    output = argv[4] if len(argv) > 4 else "%s_%s.png" % (symbol, timeframe_name)
    timeframe = getattr(paper, "TIMEFRAME_" + timeframe_name, None)
    if timeframe is None:
        print("unknown timeframe %r" % timeframe_name)
        return 2
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: pip install matplotlib")
        return 0

    path = paper.executable()
    was_running = paper.is_running(path)
    if not brv.initialize(path=path):
        print("initialize failed:", brv.last_error())
        return 1
    try:
        rates = brv.copy_rates_from_pos(symbol, timeframe, 0, count)
        error = brv.last_error()  # before shutdown, which sets its own
        info = brv.symbol_info(symbol)
    finally:
        brv.shutdown()
        if not was_running:
            paper.stop(path)
    if rates is None or len(rates) == 0:
        print("no bars:", error)
        return 1
    digits = info.digits if info is not None else 5

    fig, ax = plt.subplots(figsize=(12, 6))
    width = 0.6
    for i, r in enumerate(rates):
        up = r["close"] >= r["open"]
        color = "#2e8b57" if up else "#c0392b"
        ax.vlines(i, r["low"], r["high"], color=color, linewidth=1)
        bottom = min(r["open"], r["close"])
        height = max(abs(r["close"] - r["open"]), 10.0 ** -digits)
        ax.add_patch(plt.Rectangle((i - width / 2, bottom), width, height, facecolor=color, edgecolor=color))
    step = max(1, len(rates) // 10)
    ticks = list(range(0, len(rates), step))
    stamp = "%Y-%m-%d" if timeframe >= paper.TIMEFRAME_D1 else "%m-%d %H:%M"
    ax.set_xticks(ticks)
    ax.set_xticklabels([datetime.datetime.fromtimestamp(int(rates["time"][i]), datetime.timezone.utc)
                        .strftime(stamp) for i in ticks], rotation=30, ha="right")
    ax.set_xlim(-1, len(rates))
    ax.set_title("%s %s, %d bars (UTC), paper terminal" % (symbol, timeframe_name, len(rates)))
    ax.set_ylabel("bid")
    ax.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(output, dpi=100)
    print("wrote", output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
