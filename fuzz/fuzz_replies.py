"""Hostile replies for every client operation, through the fake terminal.

A case is one reply to one request: the operation (a name of
`client_ops.operations`), the raw bytes sent for it (length field included;
`fill` bytes 0xA5 follow them), whether the fake then closes the connection,
and how the bytes are cut into parts: a well-formed reply changed by one of
`MUTATIONS`.  Every case must leave the call returning (no exception, crash or
hang) its failure value on a failure, and the next `version()` working
(framed reply) or reporting -10004 (reply cut short).

    fuzz_replies.py fuzz --seconds N --corpus DIR [--seed S]

saves each failing case in DIR (tests/test_fuzz.py replays them).  Cases run
in a worker process that announces each before running it, so that the
driver knows which case crashed or hung the interpreter.
"""

import argparse
import contextlib
import hashlib
import json
import os
import queue
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
# The fake terminal and the table of client operations live with the tests.
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

HANG_SECONDS = 20.0
SUCCESS = (1, "Success")
NO_VERSION = (0, 0, "")
GOOD_VERSION = (5, 4410, "5.00 build 4410")

MUTATIONS = ["status", "echo", "short", "long", "count", "garbage", "flip", "tiny", "cut", "huge"]


# ---------------------------------------------------------------- cases

def generate(rng, ops):
    """One random case (a dict that JSON can hold): a well-formed reply (a list
    of 0 to 5 records, for a list) changed by one mutation."""
    import client_ops
    import records as R

    op = rng.choice(ops)
    count = rng.choice((0, 1, 2, 3, 5))
    body = client_ops.payload(op, count=count, rng=rng if rng.random() < 0.5 else None)
    echo, status, close = op.cmd, 1, False
    kind = rng.choice(MUTATIONS)
    raw, fill = None, 0
    if kind == "status":
        status = rng.choice([0, 2, -1, -2, -4, -5, -6, -7, -8, -9, -10002, 2**31 - 1, -2**31])
        if status < 0 and rng.random() < 0.5:
            body = b""
    elif kind == "echo":
        echo = rng.choice([op.cmd + 1, 0, 4, 109, 0xFFFFFFFF, rng.getrandbits(32)])
        status = rng.choice([0, 1, -4])
    elif kind == "short":
        body = body[:rng.randrange(len(body))] if body else b""
        if not body and op.shape == "status":
            body = b"\0"  # nothing to cut: one byte too many instead
    elif kind == "long":
        body += bytes(rng.getrandbits(8) for _ in range(rng.choice([1, 3, 4, 8, 61])))
        fill = rng.choice([0, 0, 5000, 16384, 20000, 100000])
    elif kind == "count":
        at = {"list": 0, "version": 8}.get(op.shape)
        if at is None or len(body) < at + 4:
            body = bytes(rng.getrandbits(8) for _ in range(rng.randrange(2 * len(body) + 16)))
        else:
            size = op.layout.size if op.shape == "list" else 2
            n = struct.unpack_from("<I", body, at)[0]
            new = rng.choice([0, n + 1, max(n - 1, 0), 0xFFFFFFFF, 0x7FFFFFFF, (1 << 32) // size + 1,
                              (1 << 31) // size + n, rng.getrandbits(32), rng.getrandbits(16)])
            body = body[:at] + struct.pack("<I", new) + body[at + 4:]
    elif kind == "garbage":
        body = bytes(rng.getrandbits(8) for _ in range(rng.randrange(2 * len(body) + 16)))
    elif kind == "flip":
        data = bytearray(body or b"\0")
        for _ in range(rng.choice([1, 2, 8, 64])):
            data[rng.randrange(len(data))] = rng.getrandbits(8)
        body = bytes(data)
    elif kind == "tiny":
        # a length field too small for the header, the bytes it announces after it
        length = rng.randrange(8)
        raw = struct.pack("<I", length) + bytes(rng.getrandbits(8) for _ in range(length))
    elif kind == "cut":
        # the terminal dies inside its reply: the announced bytes never all come
        full = R.frame_reply(echo, status, body)
        raw = full[:rng.randrange(len(full))]
        close = True
    else:  # huge: an absurd length, some bytes of it, then the terminal dies
        length = rng.choice([0x01000001, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0, 12 + (1 << 24)])
        raw = struct.pack("<IIi", length, echo, status) + body
        fill = rng.choice([0, 4, 100, 16384, 20000])
        close = True
    if raw is None:
        raw = R.frame_reply(echo, status, body)
        if fill:  # the filler bytes count in the length field
            raw = struct.pack("<I", len(raw) - 4 + fill) + raw[4:]
    case = dict(op=op.name, mutation=kind, reply=raw.hex(), close=close)
    if fill:
        case["fill"] = fill
    raw += b"\xA5" * fill
    if rng.random() < 0.3 and len(raw) > 1:
        # sent in parts, so that the module's reads see partial data
        cuts = sorted(rng.sample(range(1, len(raw)), min(len(raw) - 1, rng.choice([1, 2, 5]))))
        case["chunks"] = [b - a for a, b in zip([0] + cuts, cuts)]
    return case


def case_id(case):
    return hashlib.sha1(json.dumps(case, sort_keys=True).encode()).hexdigest()[:12]


# ---------------------------------------------------------------- running

class CaseFailed(AssertionError):
    pass


def _check(condition, case, what):
    if not condition:
        raise CaseFailed("%s: %s (op %s, mutation %s)" % (case_id(case), what, case["op"], case.get("mutation")))


def run_case(fake, ops, case):
    """Runs one case against a connected module; raises CaseFailed."""
    import borvane as brv

    op = ops[case["op"]]
    raw = bytes.fromhex(case["reply"]) + b"\xA5" * case.get("fill", 0)
    fake.queue(raw, cmd=op.cmd, chunks=case.get("chunks"), pause=0.0005,
               close=case["close"])
    try:
        result = op.call()
    except BaseException as exc:  # the module must never raise
        _check(False, case, "the call raised %r" % (exc,))
    code, message = brv.last_error()
    _check(isinstance(code, int) and isinstance(message, str), case, "last_error() is %r" % ((code, message),))
    _check(code == 1 or code < 0, case, "code %r" % code)
    if code < 0:
        _check(result == op.failure, case, "failure %r returned %r" % (code, result))
    _check(fake.pending() == 0, case, "the reply was not asked for")

    after = brv.version(), brv.last_error()
    if case["close"]:
        # cut short: the module cannot be in step and must have closed its end
        _check(after == (NO_VERSION, (-10004, "No IPC connection")), case,
               "after a cut reply the next call gave %r" % (after,))
    else:
        _check(after == (GOOD_VERSION, SUCCESS), case, "the next call gave %r" % (after,))
    if case["close"] or op.name == "initialize":
        # a fresh connection (and the fake's own build number) for the next case
        _check(brv.initialize(fake.exe) is True, case, "initialize failed: %r" % (brv.last_error(),))


# ---------------------------------------------------------------- worker

@contextlib.contextmanager
def _private_fake():
    """A fake terminal serving a terminal path in a private runtime folder."""
    import borvane as brv
    from fake_terminal import FakeTerminal

    root = tempfile.mkdtemp(prefix="brv-fz-", dir=None if os.name == "nt" else "/tmp")
    os.environ["XDG_RUNTIME_DIR"] = root
    os.environ["XDG_DATA_HOME"] = os.path.join(root, "data")
    exe = os.path.join(root, "terminal64.exe")
    with open(exe, "wb") as f:
        f.write(b"not a terminal\n")
    fake = FakeTerminal(os.path.realpath(exe))
    try:
        yield fake
    finally:
        brv.shutdown()
        fake.stop()
        shutil.rmtree(root, ignore_errors=True)


def worker_main(argv):
    """Runs cases, announcing each on stdout before running it.

    Cases come from files (replay) or from a seeded generator until a time
    limit (fuzz).  Exit status 1 after a broken rule, with the message."""
    import borvane as brv
    import client_ops

    p = argparse.ArgumentParser()
    p.add_argument("--seed", type=int)
    p.add_argument("--seconds", type=float, default=0)
    p.add_argument("files", nargs="*")
    args = p.parse_args(argv)
    with _private_fake() as fake:
        ops = client_ops.by_name(fake.exe)
        if not brv.initialize(fake.exe):
            print("error initialize failed: %r" % (brv.last_error(),), flush=True)
            return 2
        if args.files:
            cases = (c for f in args.files for c in load(f))
        else:
            rng = random.Random(args.seed)
            deadline = time.monotonic() + args.seconds
            pool = [ops[n] for n in sorted(ops)]
            cases = (generate(rng, pool) for _ in iter(lambda: time.monotonic() < deadline, False))
        n = 0
        for case in cases:
            print("case " + json.dumps(case), flush=True)
            try:
                run_case(fake, ops, case)
            except CaseFailed as exc:
                print("fail %s" % exc, flush=True)
                return 1
            n += 1
        print("done %d" % n, flush=True)
    return 0


# ---------------------------------------------------------------- driver

def load(path):
    with open(path) as f:
        return json.load(f)  # a list of cases


def run_worker(args, timeout=HANG_SECONDS):
    """Runs a worker; returns (ok, cases run, failing case or None, reason)."""
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "worker"] + args,
                            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    # Lines come through a thread: select() takes no pipes on Windows.
    lines = queue.Queue()

    def read():
        for line in proc.stdout:
            lines.put(line)
        lines.put("")

    threading.Thread(target=read, daemon=True).start()
    last, count, reason = None, 0, None
    try:
        while True:
            try:
                line = lines.get(timeout=timeout)
            except queue.Empty:
                reason = "no answer for %.0f s (a hang)" % timeout
                proc.kill()
                break
            if not line:
                break
            kind, _, rest = line.rstrip("\n").partition(" ")
            if kind == "case":
                last, count = json.loads(rest), count + 1
            elif kind == "fail":
                reason = rest
            elif kind == "done":
                last = None
            elif kind == "error":
                reason, last = rest, None
    finally:
        status = proc.wait()
    if reason is None and status != 0:
        reason = "the worker ended with status %d (a crash)" % status
    return reason is None, count, last, reason


def save_case(folder, case):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "found-%s.json" % case_id(case))
    with open(path, "w") as f:
        json.dump([case], f, indent=1, sort_keys=True)
        f.write("\n")
    return path


def fuzz_main(argv):
    p = argparse.ArgumentParser(prog="fuzz_replies.py fuzz")
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--corpus", default=CORPUS)
    p.add_argument("--seed", type=int, default=None)
    args = p.parse_args(argv)
    seed = args.seed if args.seed is not None else random.SystemRandom().getrandbits(32)
    deadline = time.monotonic() + args.seconds
    total, failures = 0, []
    while time.monotonic() < deadline - 1:
        budget = min(20, deadline - time.monotonic())  # a worker per 20 s: a crash ends one
        ok, count, last, reason = run_worker(["--seed", str(seed), "--seconds", "%.1f" % budget])
        total += count
        if not ok:
            where = save_case(args.corpus, last) if last else "(no case: %s)" % reason
            failures.append(where)
            print("seed %d: %s -> %s" % (seed, reason, where), flush=True)
        seed += 1
    print("%d cases, %d failures" % (total, len(failures)), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command not in ("worker", "fuzz"):
        print(__doc__)
        sys.exit(2)
    sys.exit((worker_main if command == "worker" else fuzz_main)(sys.argv[2:]))
