"""Runs the benchmarks and prints the table.

    python bench/run.py [--tools DIR] [--runs N] [--readme]

Starts three replay terminals (bench/replay_terminal.cpp) in a private
runtime folder, holding 10,000 positions, 100,000 positions of which 5 in 8
pass the group filter measured, and 100,000 positions that all pass it; all
answer bars and ticks with 1,000,000 records each.  Then, in rounds, runs every
measurement in a fresh process -- the raw C++ floor client, the pure-Python
baseline (baseline.py) and the extension itself (workers.py) -- so that a
change of load during the run touches all clients alike.  Each figure is the
median over the rounds of each process's median; the spread column gives
the lowest and highest of those process medians, as a measure of the noise.

`borvane` is imported from wherever the interpreter finds it: the installed
package, or a development build put first with PYTHONPATH.  With --readme
the tables replace the results section of bench/README.md.
"""

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
README = os.path.join(HERE, "README.md")
BEGIN, END = "<!-- results:begin -->", "<!-- results:end -->"

RECORDS = 1_000_000
PAYLOAD = RECORDS * 60
GROUP = "*USD*,!EUR*"


# ---- measurements -------------------------------------------------------------

class Measure:
    """One client doing one case; `argv(env)` gives its command line."""

    def __init__(self, key, label, unit, argv, terminal):
        self.key, self.label, self.unit, self.argv, self.terminal = key, label, unit, argv, terminal
        self.medians = []       # per process
        self.growth = []        # peak memory growth per process, bytes
        self.first = []         # first (warm-up) call per process
        self.count = None

    @property
    def median(self):
        return statistics.median(self.medians)


def plan(tools, py, terminals, quick):
    floor = os.path.join(tools, "floor_client")
    workers = os.path.join(HERE, "workers.py")
    small, large, passing = terminals
    tick_args = ["100", "100", "500"] if quick else ["200", "100", "2000"]
    list_args = ["5", "1"] if quick else ["10", "2"]
    big_args = ["3", "1"] if quick else ["7", "2"]

    def fl(case, *extra):
        return lambda t: [floor, t["socket"], case, *extra]

    def wk(client, case, *extra):
        return lambda t: [py, workers, client, t["socket"] if client == "baseline" else t["exe"], case, *extra]

    m = []
    add = lambda *a: m.append(Measure(*a))
    add("tick/floor", "floor (C++)", "us", fl("tick", *tick_args), small)
    add("tick/baseline", "baseline (Python)", "us", wk("baseline", "tick", *tick_args), small)
    add("tick/module", "borvane", "us", wk("module", "tick", *tick_args), small)
    for case in ("rates", "ticks"):
        add(case + "/floor", "floor (C++), new block in huge pages", "ms", fl(case, *list_args, "huge"), small)
        add(case + "/floor-plain", "floor (C++), new block in 4 KiB pages", "ms", fl(case, *list_args, "plain"), small)
        add(case + "/floor-reuse", "floor (C++), one reused block", "ms", fl(case, *list_args, "reuse"), small)
        add(case + "/baseline", "baseline (Python)", "ms", wk("baseline", case, *list_args), small)
        add(case + "/module", "borvane", "ms", wk("module", case, *list_args), small)
    add("pos10k/floor", "floor (C++), no decoding", "ms", fl("positions", *list_args, "huge"), small)
    add("pos10k/baseline", "baseline (Python)", "ms", wk("baseline", "positions", *list_args), small)
    add("pos10k/module", "borvane", "ms", wk("module", "positions", *list_args), small)
    add("pos100k/floor", "floor (C++), no decoding", "ms", fl("positions", *big_args, "huge"), large)
    add("pos100k/baseline", "baseline (Python)", "ms", wk("baseline", "positions", *big_args), large)
    add("pos100k/module", "borvane, all", "ms", wk("module", "positions", *big_args), large)
    add("pos100k/group", "borvane, group='%s'" % GROUP, "ms",
        wk("module", "positions", *big_args, GROUP), large)
    add("passing/module", "borvane, all", "ms", wk("module", "positions", *big_args), passing)
    add("passing/group", "borvane, group='%s'" % GROUP, "ms",
        wk("module", "positions", *big_args, GROUP), passing)
    return m


def run_json(argv, env):
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit("failed: %s\n%s%s" % (" ".join(argv), done.stdout, done.stderr))
    return json.loads(done.stdout.strip().splitlines()[-1])


IMPORT_SNIPPET = "import time; t = time.perf_counter(); import %s; print(time.perf_counter() - t)"


def measure_imports(py, env, runs):
    """Import times of numpy alone and of borvane, in fresh interpreters."""
    times = {"numpy": [], "borvane": []}
    for name in times:  # once each to warm the file cache
        subprocess.run([py, "-c", IMPORT_SNIPPET % name], env=env, check=True, stdout=subprocess.DEVNULL)
    for _ in range(runs):
        for name in times:
            out = subprocess.run([py, "-c", IMPORT_SNIPPET % name], env=env, check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
            times[name].append(float(out))
    return times


# ---- the replay terminals -------------------------------------------------------

def start_terminal(tools, base, name, positions, env, *options):
    folder = os.path.join(base, name)
    os.mkdir(folder)
    exe = os.path.join(folder, "terminal64.exe")
    open(exe, "w").close()
    proc = subprocess.Popen(
        [os.path.join(tools, "replay_terminal"), "--exe", exe, "--bars", str(RECORDS),
         "--ticks", str(RECORDS), "--positions", str(positions), *options],
        env=env, stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().split()
    if len(line) != 2 or line[0] != "READY":
        proc.kill()
        raise SystemExit("replay terminal did not start")
    return {"exe": exe, "socket": line[1], "proc": proc, "positions": positions}


# ---- report -----------------------------------------------------------------------

def machine(py, env):
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            mem = "%.0f GiB" % (int(f.readline().split()[1]) / 2**20)
    except OSError:
        pass

    def thp(name):
        try:
            with open("/sys/kernel/mm/transparent_hugepage/" + name) as f:
                return f.read().strip()
        except OSError:
            return "n/a"

    probe = subprocess.run(
        [py, "-c", "import sys, numpy, borvane._core as c; print(sys.version.split()[0], numpy.__version__, c.__file__)"],
        env=env, stdout=subprocess.PIPE, text=True, check=True).stdout.split()
    return [
        ("CPU", "%s, %d logical cores" % (cpu, os.cpu_count() or 0)),
        ("Memory", mem),
        ("System", "%s %s" % (platform.system(), platform.release())),
        ("Transparent huge pages", "enabled %s; defrag %s" % (thp("enabled"), thp("defrag"))),
        ("Python, numpy", "%s, %s" % (probe[0], probe[1])),
        ("Extension", os.path.relpath(probe[2], ROOT) if probe[2].startswith(ROOT) else probe[2]),
    ]


def fmt(value, unit):
    if unit == "us":
        return "%.2f µs" % (value * 1e6)
    if unit == "ms":
        return "%.2f ms" % (value * 1e3)
    return "%.3g" % value


def figures_table(measures, imports):
    lines = ["| Case | Client | Median | Spread (process medians) | First call | Peak growth |",
             "|---|---|---|---|---|---|"]
    titles = {
        "tick": "`symbol_info_tick` round trip",
        "rates": "`copy_rates_range`, 1,000,000 bars",
        "ticks": "`copy_ticks_range`, 1,000,000 ticks",
        "pos10k": "`positions_get`, 10,000 positions",
        "pos100k": "`positions_get`, 100,000 positions (5 in 8 pass the group)",
        "passing": "`positions_get`, 100,000 positions (all pass the group)",
    }
    for m in measures:
        case = m.key.split("/")[0]
        first = fmt(statistics.median(m.first), m.unit) if m.first else ""
        growth = "%.1f MB" % (statistics.median(m.growth) / 1e6) if m.growth else ""
        lines.append("| %s | %s | %s | %s – %s | %s | %s |" % (
            titles[case], m.label, fmt(m.median, m.unit), fmt(min(m.medians), m.unit),
            fmt(max(m.medians), m.unit), first, growth))
    for name in ("numpy", "borvane"):
        t = imports[name]
        lines.append("| start-up | `import %s` | %s | %s – %s | | |" % (
            name, fmt(statistics.median(t), "ms"), fmt(min(t), "ms"), fmt(max(t), "ms")))
    return lines


def paired(by, top, bottom):
    """Median over the rounds of top / bottom measured in the same round."""
    return statistics.median(a / b for a, b in zip(by[top].medians, by[bottom].medians))


def targets_table(by, imports):
    rows = []

    def check(name, value, shown, limit, ok):
        rows.append("| %s | %s | %s | %s |" % (name, shown, limit, "pass" if ok else "**miss**"))

    floor, base, mod = by["tick/floor"].medians, by["tick/baseline"].medians, by["tick/module"].medians
    added = statistics.median(m - f for m, f in zip(mod, floor)) * 1e6
    check("`symbol_info_tick`: time added over the floor", added, "%.2f µs" % added, "≤ 2 µs", added <= 2.0)
    r = paired(by, "tick/module", "tick/floor")
    check("`symbol_info_tick`: borvane / floor", r, "%.2f ×" % r, "≤ 1.3 ×", r <= 1.3)
    rows.append("| `symbol_info_tick`: baseline time added over the floor (for comparison) | %.2f µs | about 15 µs | – |"
                % (statistics.median(b - f for b, f in zip(base, floor)) * 1e6))
    for case, title in (("rates", "`copy_rates_range` 1M bars"), ("ticks", "`copy_ticks_range` 1M ticks")):
        r = paired(by, case + "/module", case + "/floor")
        check("%s: borvane / floor" % title, r, "%.2f ×" % r, "≤ 1.15 ×", r <= 1.15)
        growth = statistics.median(by[case + "/module"].growth)
        g = growth / PAYLOAD
        check("%s: peak memory growth / payload (60 MB)" % title, g,
              "%.3f × (%.1f MB)" % (g, growth / 1e6), "≤ 1.1 ×", g <= 1.1)
    r = paired(by, "pos10k/baseline", "pos10k/module")
    check("`positions_get` 10,000: baseline / borvane", r, "%.2f ×" % r, "≥ 10 ×", r >= 10.0)
    r = paired(by, "pos100k/group", "pos100k/module")
    check("`positions_get(group='%s')` 100,000, 5 in 8 pass: filtered / unfiltered" % GROUP, r,
          "%.2f ×" % r, "≤ 1.2 ×", r <= 1.2)
    r = paired(by, "passing/group", "passing/module")
    check("`positions_get(group='%s')` 100,000, all pass: filtered / unfiltered" % GROUP, r,
          "%.2f ×" % r, "≤ 1.0 ×", r <= 1.0)
    r = statistics.median(b / n for b, n in zip(imports["borvane"], imports["numpy"]))
    check("`import borvane` / `import numpy`", r, "%.2f ×" % r, "≤ 1.5 ×", r <= 1.5)
    return ["| Target | Measured | Limit | Result |", "|---|---|---|---|"] + rows


def update_readme(text):
    with open(README) as f:
        doc = f.read()
    start, end = doc.index(BEGIN) + len(BEGIN), doc.index(END)
    with open(README, "w") as f:
        f.write(doc[:start] + "\n" + text + "\n" + doc[end:])


# ---- main ---------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tools", default=os.path.join(ROOT, "build", "bench-tools"),
                    help="folder holding replay_terminal and floor_client")
    ap.add_argument("--runs", type=int, default=7, help="fresh processes per measurement")
    ap.add_argument("--import-runs", type=int, default=25, help="fresh interpreters per import")
    ap.add_argument("--quick", action="store_true", help="fewer calls per process (development)")
    ap.add_argument("--readme", action="store_true", help="write the tables into bench/README.md")
    ap.add_argument("--only", help="comma-separated measurement keys to run (development)")
    ap.add_argument("--cpu", default=str((os.cpu_count() or 1) - 1),
                    help="the one CPU for the terminals and the clients, or 'any'")
    args = ap.parse_args()
    py = sys.executable
    # Client and terminal on one CPU: a round trip between two CPUs waits
    # for a cross-CPU wake-up, which on a virtual machine costs tens of
    # microseconds and depends on where the scheduler happens to put them.
    if args.cpu != "any":
        os.sched_setaffinity(0, {int(args.cpu)})

    base = tempfile.mkdtemp(prefix="brv-bench-")
    runtime = os.path.join(base, "run")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    terminals = []
    try:
        info = machine(py, env)
        load_before = os.getloadavg()
        started = time.time()
        terminals = [start_terminal(args.tools, base, "small", 10_000, env),
                     start_terminal(args.tools, base, "large", 100_000, env),
                     start_terminal(args.tools, base, "passing", 100_000, env, "--passing")]
        measures = plan(args.tools, py, terminals, args.quick)
        if args.only:
            keep = set(args.only.split(","))
            measures = [m for m in measures if m.key in keep]
        for round_no in range(args.runs):
            print("round %d/%d" % (round_no + 1, args.runs), file=sys.stderr, flush=True)
            for m in measures:
                out = run_json(m.argv(m.terminal), env)
                m.medians.append(statistics.median(out["times"]))
                if "peak_growth" in out:
                    m.growth.append(out["peak_growth"])
                if "first" in out:
                    m.first.append(out["first"])
                m.count = out.get("count", m.count)
        imports = measure_imports(py, env, args.import_runs)
        load_after = os.getloadavg()
        elapsed = time.time() - started
    finally:
        for t in terminals:
            t["proc"].terminate()
            t["proc"].wait()
        shutil.rmtree(base, ignore_errors=True)

    by = {m.key: m for m in measures}
    lines = ["| Machine | |", "|---|---|"] + ["| %s | %s |" % kv for kv in info]
    lines.append("| Load average (1, 5, 15 min) | before %.2f %.2f %.2f; after %.2f %.2f %.2f |"
                 % (load_before + load_after))
    lines.append("| Run | %d rounds of fresh processes, %d interpreters per import, %.0f s; CPU %s |"
                 % (args.runs, args.import_runs, elapsed, args.cpu))
    lines += ["", "Figures: medians over the rounds; times include releasing the result; the first call"
              " of each process is a warm-up, not among the timed calls; peak growth is that of one call"
              " after the timed ones.", ""]
    lines += figures_table(measures, imports)
    if not args.only:
        lines += ["", "Targets (each ratio is the median over the rounds of the ratio within a round):", ""]
        lines += targets_table(by, imports)
    text = "\n".join(lines)
    print(text)
    if args.readme:
        update_readme(text)


if __name__ == "__main__":
    main()
