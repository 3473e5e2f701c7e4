"""The paper terminal: Borvane's own terminal program, with a simulated market.

The package ships a terminal program (``borvane/terminal/terminal64.exe``)
that serves the connector's protocol over its socket (its named pipe on
Windows), with a deterministic
market model and a trading engine behind it. ``borvane.initialize(path=...)``
starts it when it is not running; this module gives its path, starts and
stops it explicitly, and names the codes it uses (timeframes, trade actions,
order types, result codes and so on): the connector passes such values
through unchanged, so they are the terminal's own.

    import borvane
    import borvane.paper as paper

    borvane.initialize(path=paper.executable())
    rates = borvane.copy_rates_from_pos("EURUSD", paper.TIMEFRAME_H1, 0, 20)

See docs/paper-terminal.md for the accounts, the market model and the
semantics of every request.
"""

from __future__ import annotations

import argparse
import errno
import hashlib
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
from typing import Any, Dict, List, Mapping, NamedTuple, Optional, Sequence, Union

_Path = Union[str, "os.PathLike[str]"]

_WINDOWS = os.name == "nt"
if _WINDOWS:
    from borvane import _windows

# ---- the terminal's codes -------------------------------------------------

#: Build number reported by the handshake and in ``terminal_info().build``.
BUILD = 4410

# Timeframes: the code is the bar length in minutes (MN1: calendar months,
# W1: weeks starting Monday 00:00 UTC).
TIMEFRAME_M1 = 1
TIMEFRAME_M2 = 2
TIMEFRAME_M3 = 3
TIMEFRAME_M4 = 4
TIMEFRAME_M5 = 5
TIMEFRAME_M6 = 6
TIMEFRAME_M10 = 10
TIMEFRAME_M12 = 12
TIMEFRAME_M15 = 15
TIMEFRAME_M20 = 20
TIMEFRAME_M30 = 30
TIMEFRAME_H1 = 60
TIMEFRAME_H2 = 120
TIMEFRAME_H3 = 180
TIMEFRAME_H4 = 240
TIMEFRAME_H6 = 360
TIMEFRAME_H8 = 480
TIMEFRAME_H12 = 720
TIMEFRAME_D1 = 1440
TIMEFRAME_W1 = 10080
TIMEFRAME_MN1 = 43200
TIMEFRAMES = (1, 2, 3, 4, 5, 6, 10, 12, 15, 20, 30, 60, 120, 180, 240, 360, 480, 720, 1440, 10080, 43200)

# Trade actions (the "action" of a trade request).
TRADE_ACTION_DEAL = 1       # market order: open, or close with "position"
TRADE_ACTION_PENDING = 2    # place a pending order
TRADE_ACTION_SLTP = 3       # change a position's stop loss and take profit
TRADE_ACTION_MODIFY = 4     # change a pending order
TRADE_ACTION_REMOVE = 5     # cancel a pending order
TRADE_ACTION_CLOSE_BY = 6   # close a position by an opposite one

# Order types (the "type" of a trade request and of orders; also the
# "action" argument of order_calc_margin and order_calc_profit).
ORDER_TYPE_BUY = 1
ORDER_TYPE_SELL = 2
ORDER_TYPE_BUY_LIMIT = 3
ORDER_TYPE_SELL_LIMIT = 4
ORDER_TYPE_BUY_STOP = 5
ORDER_TYPE_SELL_STOP = 6
ORDER_TYPE_BUY_STOP_LIMIT = 7
ORDER_TYPE_SELL_STOP_LIMIT = 8
ORDER_TYPE_CLOSE_BY = 9

# Filling modes (0 in a request means FOK).
ORDER_FILLING_FOK = 1
ORDER_FILLING_IOC = 2
ORDER_FILLING_RETURN = 3

# Order lifetimes (0 in a request means GTC).
ORDER_TIME_GTC = 1
ORDER_TIME_DAY = 2
ORDER_TIME_SPECIFIED = 3
ORDER_TIME_SPECIFIED_DAY = 4

# Order states.
ORDER_STATE_PLACED = 1
ORDER_STATE_CANCELED = 2
ORDER_STATE_FILLED = 3
ORDER_STATE_REJECTED = 4
ORDER_STATE_EXPIRED = 5

# Position types.
POSITION_TYPE_BUY = 1
POSITION_TYPE_SELL = 2

# Deal types and entries.
DEAL_TYPE_BUY = 1
DEAL_TYPE_SELL = 2
DEAL_TYPE_BALANCE = 3
DEAL_ENTRY_IN = 1
DEAL_ENTRY_OUT = 2
DEAL_ENTRY_OUT_BY = 3

# Reasons of orders, deals and positions.
REASON_API = 1
REASON_SL = 2
REASON_TP = 3
REASON_DEPOSIT = 4
REASON_SO = 5          # closed by the terminal at stop-out

# Trade result codes (``retcode`` of order_check and order_send).
RETCODE_DONE = 1
RETCODE_PLACED = 2
RETCODE_INVALID = 10
RETCODE_INVALID_VOLUME = 11
RETCODE_INVALID_PRICE = 12
RETCODE_INVALID_STOPS = 13
RETCODE_INVALID_FILL = 14
RETCODE_INVALID_EXPIRATION = 15
RETCODE_NO_MONEY = 16
RETCODE_NOT_FOUND = 17
RETCODE_TRADE_DISABLED = 18
RETCODE_REQUOTE = 19
RETCODE_INVALID_ORDER = 20
RETCODE_LIMIT_ORDERS = 21
RETCODE_INVALID_CLOSE_BY = 22
RETCODE_UNKNOWN_SYMBOL = 23
RETCODE_ERROR = 24            # the terminal could not commit the change to disk
RETCODE_MARKET_CLOSED = 25

# Tick flags (bits of ``flags``).
TICK_FLAG_BID = 1
TICK_FLAG_ASK = 2
TICK_FLAG_LAST = 4
TICK_FLAG_VOLUME = 8
TICK_FLAG_BUY = 16
TICK_FLAG_SELL = 32

# Selections of copy_ticks_from and copy_ticks_range (their "flags").
COPY_TICKS_ALL = 0
COPY_TICKS_QUOTES = 1   # ticks with a bid or ask change
COPY_TICKS_TRADES = 2   # ticks that carry a trade

# Book entry types.
BOOK_TYPE_SELL = 1
BOOK_TYPE_BUY = 2

# Symbol and account properties.
SYMBOL_CHART_MODE_BID = 1
SYMBOL_CALC_MODE_FOREX = 1
SYMBOL_CALC_MODE_CFD = 2
SYMBOL_TRADE_MODE_FULL = 5
SYMBOL_TRADE_EXECUTION_MARKET = 1
ACCOUNT_TRADE_MODE_DEMO = 1
ACCOUNT_STOPOUT_MODE_PERCENT = 1
ACCOUNT_MARGIN_MODE_HEDGING = 1

# Readiness states of the terminal (answer to the readiness poll).
STATE_READY = 2
STATE_AUTHORIZATION_FAILED = 3

# Reply limits.
MAX_BARS = 1000000
MAX_TICKS = 1000000
HISTORY_START = 1262304000  # 2010-01-01 00:00:00 UTC: the first bar and tick

# ---- accounts ----------------------------------------------------------------

class Account(NamedTuple):
    """A paper account that the terminal knows."""

    login: int
    password: str
    server: str
    currency: str
    leverage: int
    deposit: float
    name: str


SERVER = "BorvanePaper-Demo"
ACCOUNTS = (
    Account(70010001, "paper-demo", SERVER, "USD", 100, 10000.0, "Paper Trader"),
    Account(70010002, "euro-demo", SERVER, "EUR", 30, 5000.0, "Paper Trader EUR"),
    Account(70010003, "pro-demo", SERVER, "USD", 500, 100000.0, "Paper Trader Pro"),
)
DEFAULT_LOGIN = 70010001


class PaperTerminalError(RuntimeError):
    """The paper terminal could not be started or stopped."""


# ---- paths ---------------------------------------------------------------------

def executable() -> str:
    """Path of the paper terminal installed with this package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "terminal", "terminal64.exe")


def bridge_executable() -> str:
    """Path of the bridge installed with this package (Linux, when built with
    Wine's winegcc): it serves a terminal running under Wine on the socket a
    native client connects to."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "bridge", "brv-bridge.exe.so")


def under_wine(path: Optional[_Path] = None) -> bool:
    """Whether the terminal at `path` is a Windows program, which runs here
    under Wine (never on Windows itself)."""
    if _WINDOWS:
        return False
    try:
        with open(os.fspath(path) if path is not None else executable(), "rb") as f:
            return f.read(2) == b"MZ"
    except OSError:
        return False


def _wine_environment(path: str, env: Optional[Mapping[str, str]]) -> Dict[str, str]:
    # The prefix is the folder holding the drive_c the executable lies in.
    out = dict(os.environ if env is None else env)
    at = path.rfind("/drive_c/")
    if at > 0:
        out["WINEPREFIX"] = path[:at]
    return out


def _wine_pids(path: Optional[_Path]) -> List[int]:
    """This user's processes running the Windows program at `path` under Wine
    (Wine shows the program's Linux path as the process's first argument)."""
    final = _final_path(path)
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.stat("/proc/" + entry).st_uid != os.getuid():
                continue
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0", 1)[0].decode("utf-8", "surrogateescape")
        except OSError:
            continue
        if first and os.path.realpath(first) == final:
            pids.append(int(entry))
    return pids


def _final_path(path: Optional[_Path]) -> str:
    path = os.fspath(path) if path is not None else executable()
    if _WINDOWS:
        return _windows.final_path(path)
    return os.path.realpath(path) if os.path.exists(path) else path


def _lower(text: str) -> str:
    # One unit in, one unit out, as the terminal and the connector lower-case.
    if _WINDOWS:
        return _windows.lower(text)
    return "".join(c.lower() if len(c.lower()) == 1 else c for c in text)


def _digest(path: Optional[_Path]) -> str:
    units = _lower(_final_path(path)).encode("utf-16-le", "surrogatepass")
    return hashlib.sha256(units).hexdigest().upper()


def socket_folder() -> str:
    """Folder of the terminals' sockets: $XDG_RUNTIME_DIR or /tmp/brv-<uid>."""
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime.startswith("/"):
        return runtime
    return "/tmp/brv-%d" % os.getuid()


def socket_path(path: Optional[_Path] = None) -> str:
    """The socket a terminal at `path` serves (default: the bundled one); on
    Windows the name of its pipe."""
    if _WINDOWS:
        return "\\\\.\\pipe\\BRV.Terminal." + _digest(path)
    return os.path.join(socket_folder(), "BRV.Terminal." + _digest(path))


def data_folder(path: Optional[_Path] = None, portable: bool = False) -> str:
    """The data folder of a terminal at `path` (default: the bundled one)."""
    if portable:
        folder = os.path.dirname(_final_path(path))
        return _windows.everyday_path(folder) if _WINDOWS else folder
    if _WINDOWS:
        roaming = _windows.roaming_folder()
    else:
        roaming = os.environ.get("XDG_DATA_HOME", "")
        if not roaming.startswith("/"):
            roaming = os.path.join(os.path.expanduser("~"), ".local", "share")
    return os.path.join(roaming, "Halcyra", "Terminal", _digest(path)[:32])


def _stop_event(path: Optional[_Path]) -> str:
    return "Local\\BRV.Terminal." + _digest(path) + ".Stop"


def _ready(sock_path: str, timeout: float = 2.0) -> bool:
    """Whether a terminal answers the readiness poll on the socket."""
    if _WINDOWS:
        reply = _windows.pipe_exchange(sock_path, struct.pack("<II", 4, 109), 16)
        if reply is None:
            return False
        length, echo, status, _state = struct.unpack("<IIiI", reply)
        return bool(length == 12 and echo == 109 and status >= 0)
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(timeout)
            s.connect(sock_path)
            s.sendall(struct.pack("<II", 4, 109))
            reply = b""
            while len(reply) < 16:
                chunk = s.recv(16 - len(reply))
                if not chunk:
                    return False
                reply += chunk
            length, echo, status, _state = struct.unpack("<IIiI", reply)
            return bool(length == 12 and echo == 109 and status >= 0)
    except OSError:
        return False


def is_running(path: Optional[_Path] = None) -> bool:
    """Whether a terminal serves the socket of the terminal at `path`."""
    return _ready(socket_path(path))


# ---- starting and stopping ---------------------------------------------------

class PaperTerminal:
    """A paper terminal started by :func:`start`; stop it with :meth:`stop`."""

    def __init__(self, path: str, portable: bool, process: "subprocess.Popen[bytes]",
                 bridge: "Optional[subprocess.Popen[bytes]]" = None) -> None:
        self.path = path
        self.bridge = bridge
        self.portable = portable
        self.process = process
        self.pid = process.pid
        self.socket = socket_path(path)
        self.data_folder = data_folder(path, portable)

    def running(self) -> bool:
        return self.process.poll() is None

    def stop(self, timeout: float = 10.0) -> int:
        """Ends the terminal with SIGTERM (SIGKILL after `timeout`); returns its exit status.
        On Windows its stop event asks it to end."""
        if self.process.poll() is None:
            if _WINDOWS:
                _windows.set_event(_stop_event(self.path))
            else:
                self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.bridge is not None:
            # It leaves by itself once the terminal's pipe has gone.
            try:
                self.bridge.wait(timeout)
            except subprocess.TimeoutExpired:
                self.bridge.kill()
                self.bridge.wait()
        return self.process.returncode

    def __enter__(self) -> PaperTerminal:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()

    def __repr__(self) -> str:
        return "PaperTerminal(pid=%d, path=%r)" % (self.pid, self.path)


def start(path: Optional[_Path] = None, portable: bool = False, args: Sequence[str] = (),
          timeout: float = 30.0, env: Optional[Mapping[str, str]] = None) -> PaperTerminal:
    """Starts the paper terminal and returns when its socket answers.

    path: the executable (default: the one installed with the package).
    portable: start it with /portable (its data folder is then its own folder).
    args: further options, such as "--speed=60", "--seed=7",
    "--auto-trading=0" or "--login=70010002".
    Raises PaperTerminalError when it is already running, exits early, or
    does not answer within `timeout` seconds.
    """
    path = os.fspath(path) if path is not None else executable()
    if not os.path.isfile(path):
        raise PaperTerminalError("no terminal at %r" % path)
    sock = socket_path(path)
    if _ready(sock, 1.0):
        raise PaperTerminalError("a terminal already serves %s" % sock)
    argv = [path] + (["/portable"] if portable else []) + list(args)
    bridge = None
    if under_wine(path):
        # A Windows terminal: under Wine, with the bridge serving its socket.
        env = _wine_environment(path, env)
        argv = ["wine"] + argv
        bridge = subprocess.Popen(["wine", bridge_executable(), path], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                                  start_new_session=True)
    with tempfile.TemporaryFile() as errors:
        detach = dict(creationflags=getattr(subprocess, "CREATE_NEW_PROCESS_GROUP")) if _WINDOWS else \
            dict(start_new_session=True)
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=errors, env=env, **detach)
        deadline = time.monotonic() + timeout
        while True:
            code = process.poll()
            if code is not None:
                if bridge is not None:
                    bridge.kill()
                    bridge.wait()
                errors.seek(0)
                message = errors.read().decode("utf-8", "replace").strip()
                raise PaperTerminalError("paper terminal exited with status %d: %s" % (code, message))
            if _ready(sock, 1.0):
                return PaperTerminal(path, portable, process, bridge)
            if time.monotonic() > deadline:
                process.kill()
                process.wait()
                if bridge is not None:
                    bridge.kill()
                    bridge.wait()
                raise PaperTerminalError("paper terminal did not answer within %g s" % timeout)
            time.sleep(0.02)


def _alive(pid: int) -> bool:
    try:
        if os.waitpid(pid, os.WNOHANG)[0] == pid:
            return False  # our child, now reaped
    except ChildProcessError:
        pass
    try:
        os.kill(pid, 0)
    except OSError as e:
        return e.errno == errno.EPERM
    return True


def stop(path: Optional[_Path] = None, portable: bool = False, timeout: float = 10.0) -> bool:
    """Stops the terminal at `path`, however it was started (by :func:`start`
    or by ``initialize``), through the pid file in its data folder.

    Returns True when a running terminal was stopped, False when none ran.
    """
    if under_wine(path):
        pids = _wine_pids(path)
        for pid in pids:
            _end(pid, timeout)
        return bool(pids)
    pid_file = os.path.join(data_folder(path, portable), "paper.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return False
    if _WINDOWS:
        # Only the terminal of `path` has this event: a stale pid file is harmless.
        if not _windows.set_event(_stop_event(path)):
            return False
        if not _windows.wait_process(pid, timeout, kill=True):
            _windows.wait_process(pid, timeout)
        return True
    link = "/proc/%d/exe" % pid
    exe = os.path.realpath(link)
    if exe != link and exe != _final_path(path):
        return False  # the pid file is stale and the number is someone else's
    return _end(pid, timeout)


def _end(pid: int, timeout: float) -> bool:
    # SIGTERM, then SIGKILL after `timeout`; waits until the process has gone.
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return False
    deadline = time.monotonic() + timeout
    while _alive(pid):
        if time.monotonic() > deadline:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                break  # it ended meanwhile
            deadline = time.monotonic() + timeout
        time.sleep(0.01)
    return True


def set_auto_trading(enabled: bool, path: Optional[_Path] = None, portable: bool = False) -> None:
    """Switches auto-trading of the terminal at `path` on or off.

    Writes AutoTrading in the [Paper] section of its config/terminal.ini,
    which the terminal reads again when the file changes: with auto-trading
    off, order_send fails with -8.
    """
    ini = os.path.join(data_folder(path, portable), "config", "terminal.ini")
    try:
        with open(ini, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError:
        lines = ["[Paper]"]
    value = "AutoTrading=%d" % (1 if enabled else 0)
    out, section, done = [], None, False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            if section == "paper" and not done:
                out.append(value)
                done = True
            section = stripped[1:-1].strip().lower()
        elif section == "paper" and stripped.split("=", 1)[0].strip().lower() == "autotrading":
            if not done:
                out.append(value)
                done = True
            continue
        out.append(line)
    if not done:
        if section != "paper":
            out.append("[Paper]")
        out.append(value)
    os.makedirs(os.path.dirname(ini), exist_ok=True)
    tmp = ini + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    os.replace(tmp, ini)


# ---- command line ----------------------------------------------------------

def _pid(path: Optional[_Path], portable: bool) -> Optional[int]:
    try:
        with open(os.path.join(data_folder(path, portable), "paper.pid")) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``python -m borvane.paper start|stop|status|reset|accounts``."""
    parser = argparse.ArgumentParser(prog="python -m borvane.paper",
                                     description="Start, stop and inspect the paper terminal.")
    parser.add_argument("command", choices=("start", "stop", "status", "reset", "accounts"))
    parser.add_argument("--path", default=None, help="the terminal's executable (default: the bundled one)")
    parser.add_argument("--portable", action="store_true", help="its data folder is its installation folder")
    parser.add_argument("--login", type=int, default=None, help="reset: the account (default: the default one)")
    parser.add_argument("options", nargs="*", help="start: further terminal options, such as --speed=60")
    ns = parser.parse_args(argv)
    path = ns.path if ns.path is not None else executable()
    portable_args = ["/portable"] if ns.portable else []

    def describe() -> str:
        return "pid %s, socket %s, data folder %s" % (
            _pid(path, ns.portable), socket_path(path), data_folder(path, ns.portable))

    def run_terminal(*args: str) -> int:
        done = subprocess.run([path] + portable_args + list(args), capture_output=True, text=True)
        sys.stdout.write(done.stdout)
        sys.stderr.write(done.stderr)
        return done.returncode

    if ns.command == "start":
        try:
            start(path, ns.portable, args=ns.options)
        except PaperTerminalError as e:
            print(e, file=sys.stderr)
            return 1
        print("started: " + describe())
        return 0
    if ns.command == "stop":
        if not stop(path, ns.portable):
            print("not running")
            return 1
        print("stopped")
        return 0
    if ns.command == "status":
        if not is_running(path):
            print("not running (data folder %s)" % data_folder(path, ns.portable))
            return 1
        print("running: " + describe())
        return 0
    if ns.command == "accounts":
        return run_terminal("--accounts")
    # reset: the terminal keeps the accounts in memory, so a running one is
    # stopped for the reset and started again afterwards.
    was_running = stop(path, ns.portable)
    status = run_terminal("--reset", *(["--login=%d" % ns.login] if ns.login is not None else []))
    if was_running:
        try:
            start(path, ns.portable)
        except PaperTerminalError as e:
            print(e, file=sys.stderr)
            return 1
    return status


if __name__ == "__main__":
    sys.exit(main())
