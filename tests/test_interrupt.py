"""A call blocked on the terminal runs the signal handlers: when one raises,
the call stops, closes the connection and raises it (the next call reports
-10004); a handler that returns lets the call go on.  Each case runs in a
child interpreter, signalled once it sleeps in the kernel where expected."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import records as R
from conftest import make_exe, posix_only
from fake_terminal import script_terminal

pytestmark = posix_only("signals sent to a child, its kernel wait channel in /proc (Windows: test_windows.py)")

NO_CONNECTION = "((0, 0, ''), (-10004, 'No IPC connection'))"
GOOD_VERSION = "((5, 4410, '5.00 build 4410'), (1, 'Success'))"

# Kernel functions a blocked main thread sleeps in (by substring).
READING = ("read", "data_wait", "recv")
WRITING = ("send", "wmem")
SLEEPING = ("sleep",)

_CHILD = textwrap.dedent("""
    import signal, sys, threading, time
    import borvane as brv

    exe, case, masked = sys.argv[1], sys.argv[2], sys.argv[3] == "masked"

    def write_until_blocked():
        # every request is about 4 KB; the terminal stopped reading, so the
        # socket's buffer fills and a write blocks
        for _ in range(10000):
            assert brv.symbols_get(group="x" * 1997) == (), brv.last_error()

    if case.endswith(" wait"):  # readiness or launch
        call = lambda: brv.initialize(exe)
    else:
        assert brv.initialize(exe) is True, brv.last_error()
        call = write_until_blocked if case == "write" else brv.version
    if masked:
        # The main thread blocks SIGINT, a helper thread takes it: the signal
        # then interrupts none of the main thread's system calls, like a
        # Ctrl-C that lands between two of them.
        threading.Thread(target=time.sleep, args=(3600,), daemon=True).start()
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    handled = []
    signal.signal(signal.SIGUSR1, lambda *a: handled.append("SIGUSR1"))
    print("calling")
    try:
        result = call()
    except KeyboardInterrupt:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        print("raised KeyboardInterrupt")
    else:
        print("returned", repr(result), handled)
    print(repr((brv.version(), brv.last_error())))  # after the call
""")


class Child:
    """A child interpreter running one case of _CHILD.  Its waits have no
    limits of their own: a frozen child fails the test by its time limit."""

    def __init__(self, exe, case, masked=False):
        self.proc = subprocess.Popen([sys.executable, "-u", "-c", _CHILD, exe, case, "masked" if masked else "-"],
                                     stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        assert self.line() == "calling"

    def line(self):
        return self.proc.stdout.readline().rstrip("\n")

    def wait_blocked(self, places):
        """Until the main thread sleeps in one of the kernel `places`."""
        pid = self.proc.pid
        while True:
            try:
                with open("/proc/%d/task/%d/stat" % (pid, pid)) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
                with open("/proc/%d/task/%d/wchan" % (pid, pid)) as f:
                    wchan = f.read().strip()
            except OSError:
                pytest.fail("the child ended early: %r" % self.proc.stdout.read())
            if state == "S" and (wchan in ("", "0") or any(p in wchan for p in places)):
                return  # ("0" when the kernel does not tell: sleeping is all we know)
            time.sleep(0.005)

    def outcome(self):
        """What the call did, and what the next call returns."""
        return self.line(), self.line()


@pytest.fixture
def child():
    started = []

    def start(*args, **kwargs):
        started.append(Child(*args, **kwargs))
        return started[-1]

    yield start
    for c in started:
        c.proc.kill()
        c.proc.wait()
        c.proc.stdout.close()


def _wait_requests(fake, cmd, n=1):
    while len(fake.requests(cmd)) < n:
        time.sleep(0.005)


# ------------------------------------------------------------ reads and waits

@pytest.mark.parametrize("case, masked", [
    ("read", False), ("inside a reply", False), ("readiness wait", False), ("launch wait", False),
    # Masked, the signal interrupts no system call (see _CHILD): it is taken at
    # the next byte of a reply trickling in, or before the next readiness sleep.
    ("read", True), ("readiness wait", True),
])
def test_ctrl_c_stops_a_call_waiting_on_a_silent_terminal(fake, child, tmp_path, case, masked):
    reply = R.frame_reply(1, 1, R.pack_version(5, 4410, "5.00 build 4410"))
    exe = fake.exe
    if case == "launch wait":
        # a terminal program that starts and ends at once: its socket never comes
        exe = os.path.join(os.path.realpath(str(tmp_path)), "terminal64.exe")
        with open(exe, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(exe, 0o755)
    elif case == "readiness wait":
        fake.readiness(0)  # never ready
    elif masked:
        fake.queue(reply, cmd=1, chunks=[1] * len(reply), pause=0.2)
    elif case == "read":
        fake.hang_next(cmd=1)  # takes the request, never answers
    else:
        fake.queue(reply[:15], cmd=1)
    c = child(exe, case, masked=masked)
    if case == "readiness wait":
        _wait_requests(fake, 109, 3)
    elif case != "launch wait":
        _wait_requests(fake, 1)
    c.wait_blocked({"readiness wait": SLEEPING + READING, "launch wait": SLEEPING}.get(case, READING))
    polls = len(fake.requests(109))
    c.proc.send_signal(signal.SIGINT)
    assert c.outcome() == ("raised KeyboardInterrupt", NO_CONNECTION)
    assert len(fake.requests(109)) <= polls + 2
    if case in ("inside a reply", "readiness wait"):  # (a hanging or trickling fake does not look)
        assert fake.wait_connections([False]) == [False]


# ------------------------------------------------------------ writes

# After the handshake and the readiness poll the terminal sends the replies of
# many requests in advance and stops reading: the requests fill the socket.
_DEAF_TERMINAL = """
cmd = None
while cmd != 109:
    cmd = request()
    answer(cmd)
conn.sendall(frame(175, 0, struct.pack("<I", 0)) * 10000)  # symbols_get by group: no symbols
print("deaf", flush=True)
time.sleep(3600)
"""


def test_ctrl_c_stops_a_blocked_write(tmp_path, child):
    exe = make_exe(tmp_path / "deaf")
    with script_terminal(exe, _DEAF_TERMINAL) as terminal:
        c = child(exe, "write")
        assert terminal.stdout.readline() == b"deaf\n"
        c.wait_blocked(WRITING)
        c.proc.send_signal(signal.SIGINT)
        assert c.outcome() == ("raised KeyboardInterrupt", NO_CONNECTION)


# ------------------------------------------------------------ other signals

def test_a_handler_that_returns_lets_the_call_go_on(fake, child):
    fake.hang_next(cmd=1, then="reply")
    c = child(fake.exe, "read")
    _wait_requests(fake, 1)
    c.wait_blocked(READING)
    c.proc.send_signal(signal.SIGUSR1)
    c.wait_blocked(READING)  # back to waiting after the handler ran
    fake.release()
    assert c.outcome() == ("returned (5, 4410, '5.00 build 4410') ['SIGUSR1']", GOOD_VERSION)


# ------------------------------------------------------------ re-entry

# A handler that calls the module while a call waits on the pipe: the nested
# call fails at once without touching the pipe; the waiting one reads its reply.
_REENTRANT_CHILD = textwrap.dedent("""
    import signal, sys
    import borvane as brv

    exe, period = sys.argv[1], float(sys.argv[2])
    assert brv.initialize(exe) is True, brv.last_error()
    nested, calls = set(), [0]

    def alarm(*a):
        nested.add((brv.symbol_info_tick("EURUSD"), brv.shutdown(), brv.last_error()))
        calls[0] += 1
        if calls[0] == 20:  # well inside the reply's 0.8 s: no call comes after it
            signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, alarm)
    signal.setitimer(signal.ITIMER_REAL, 0.05, period)
    ticks = brv.copy_ticks_range("EURUSD", 0, 10, 0)
    print(None if ticks is None else ticks["time"].tolist(), brv.last_error(), flush=True)
    print(sorted(nested), flush=True)
    print(brv.version(), brv.last_error(), flush=True)
""")


@pytest.mark.parametrize("period", [0.01, 0.0005])
def test_a_call_from_a_signal_handler_fails_at_once_and_leaves_the_exchange_intact(fake, period):
    ticks = [R.TICK.build(time=t, time_msc=t * 1000) for t in range(1, 41)]
    fake.queue(R.frame_reply(105, 40, R.pack_record_list(ticks)), cmd=105, chunks=16, pause=0.05)
    out = subprocess.run([sys.executable, "-c", _REENTRANT_CHILD, fake.exe, str(period)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0] == "%s (1, 'Success')" % list(range(1, 41))
    busy = (-10000, "IPC call failed, another call is in progress")
    assert lines[1] == repr([(None, False, busy)])
    assert lines[2] == "(5, 4410, '5.00 build 4410') (1, 'Success')"
    assert 172 not in fake.commands()
