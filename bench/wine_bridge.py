"""The bridge's cost: native Linux Python through brv-bridge against Windows
Python under Wine on the terminal's named pipe, both driving the Windows paper
terminal under Wine.

Driver (native Python, with the package and its bridge on PYTHONPATH):
    wine_bridge.py --windows-python <python.exe> --windows-pkg <Z:... folder>
                   --terminal <Windows terminal64.exe> [--rounds N]
Worker (either interpreter): wine_bridge.py worker <terminal path>
prints one JSON line: the median symbol_info_tick round trip (batches of 100
calls) and the median time of a 1,000,000-bar copy_rates_from_pos, each
after warm-up calls.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BARS = 1_000_000


def worker(path):
    import borvane as brv
    assert brv.initialize(path=path), brv.last_error()
    for _ in range(200):
        brv.symbol_info_tick("EURUSD")
    batches = []
    for _ in range(20):
        t0 = time.perf_counter()
        for _ in range(100):
            brv.symbol_info_tick("EURUSD")
        batches.append((time.perf_counter() - t0) / 100)
    bars = []
    for i in range(6):
        t0 = time.perf_counter()
        rates = brv.copy_rates_from_pos("EURUSD", 1, 0, BARS)
        elapsed = time.perf_counter() - t0
        assert rates is not None and len(rates) == BARS, brv.last_error()
        del rates
        if i > 0:  # the first builds the terminal's history
            bars.append(elapsed)
    brv.shutdown()
    print(json.dumps({"tick_ms": statistics.median(batches) * 1e3, "bars_s": statistics.median(bars)}))


def run(argv, env):
    out = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, timeout=600).stdout.decode("utf-8", "replace")
    lines = [line for line in out.replace("\r", "").splitlines() if line.startswith("{")]
    if not lines:
        raise SystemExit("worker failed:\n" + out)
    return json.loads(lines[-1])


def main():
    if sys.argv[1:2] == ["worker"]:
        return worker(sys.argv[2])
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--windows-python", required=True)
    ap.add_argument("--windows-pkg", required=True, help="PYTHONPATH of the Windows package (Z:...)")
    ap.add_argument("--terminal", required=True, help="the Windows paper terminal64.exe")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    import borvane.paper as paper

    prefix = os.environ["WINEPREFIX"]
    folder = tempfile.mkdtemp(prefix="brv-bench-", dir=os.path.join(prefix, "drive_c"))
    runtime = tempfile.mkdtemp(prefix="brv-bench-", dir="/tmp")
    exe = os.path.join(folder, "terminal64.exe")
    shutil.copy2(args.terminal, exe)
    windows_exe = "C:\\" + os.path.basename(folder) + "\\terminal64.exe"
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WINEDEBUG="-all")
    os.environ.update(env)
    here = os.path.abspath(__file__)
    native = [sys.executable, here, "worker", exe]
    windows = ["wine", args.windows_python, "Z:" + here, "worker", windows_exe]
    windows_env = dict(env, PYTHONPATH=args.windows_pkg)
    figures = {"bridge": [], "direct": []}
    terminal = paper.start(exe, env=env, timeout=120)
    try:
        for _ in range(args.rounds):
            figures["bridge"].append(run(native, env))
            figures["direct"].append(run(windows, windows_env))
    finally:
        terminal.stop()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(runtime, ignore_errors=True)

    def med(client, key):
        return statistics.median(f[key] for f in figures[client])

    ratios = [b["tick_ms"] / d["tick_ms"] for b, d in zip(figures["bridge"], figures["direct"])]
    print("| Client | symbol_info_tick round trip | 1,000,000 bars |")
    print("|---|---|---|")
    for client, label in (("direct", "Windows Python under Wine, on the named pipe"),
                          ("bridge", "native Linux Python, through brv-bridge")):
        print("| %s | %.3f ms | %.2f s |" % (label, med(client, "tick_ms"), med(client, "bars_s")))
    print()
    print("bridge / direct round trip: %.2f (median of %d rounds; target at most 1.25)"
          % (statistics.median(ratios), len(ratios)))
    print("1,000,000 bars through the bridge: %.2f s (target under 2 s)" % med("bridge", "bars_s"))


if __name__ == "__main__":
    main()
