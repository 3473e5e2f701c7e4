"""Helpers for the paper terminal's tests: isolated folders, started
terminals that are always stopped, and a raw client written from the framing."""

import os
import shutil
import socket
import struct
import tempfile
import time

import pytest

import borvane
import borvane.paper as paper
from conftest import WINDOWS, use_roaming
from records import frame_request

FAR = 2**31 - 1  # a time after every deal and order


class _Pipe:
    """A client end of a named pipe with the socket calls RawClient uses."""

    def __init__(self, name, timeout=30.0):
        # Every instance may be taken for a moment (the server makes the next
        # one once a client has come): wait for one, as the module does.
        import _winapi

        deadline = time.monotonic() + timeout
        while True:
            try:
                self.file = open(name, "r+b", buffering=0)
                return
            except OSError:  # the C library reports a busy pipe as EINVAL
                if time.monotonic() > deadline:
                    raise
            try:
                _winapi.WaitNamedPipe(name, 100)
            except OSError as exc:
                if exc.winerror != 121:  # not a time-out: no such pipe
                    raise

    def sendall(self, data):
        self.file.write(data)

    def recv(self, n):
        return self.file.read(n)  # b"" once the server has gone


class RawClient:
    """One connection to a terminal's socket, speaking the framing by hand."""

    def __init__(self, sock_path, timeout=30.0):
        if WINDOWS:
            self.sock = _Pipe(sock_path)  # a hang ends the run (conftest)
            return
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(sock_path)

    def send(self, command, body=b""):
        self.sock.sendall(frame_request(command, body))

    def recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError("connection closed after %d of %d bytes" % (len(data), n))
            data += chunk
        return data

    def reply(self):
        (length,) = struct.unpack("<I", self.recv_exact(4))
        rest = self.recv_exact(length)
        echo, status = struct.unpack("<Ii", rest[:8])
        return echo, status, rest[8:]

    def call(self, command, body=b""):
        self.send(command, body)
        echo, status, payload = self.reply()
        assert echo == command
        return status, payload

    def closed_by_peer(self):
        try:
            return self.sock.recv(1) == b""
        except (ConnectionResetError, BrokenPipeError):
            return True


def as_other_user(path, uid=65534):
    """What a client of user `uid` gets: "reply" or "closed" (in a child process)."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child only connects and reports
        result = b"closed"
        try:
            os.setgid(uid)
            os.setuid(uid)
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.settimeout(10)
            s.connect(path)
            s.sendall(struct.pack("<II", 4, 109))
            if s.recv(16):
                result = b"reply"
        except OSError as e:
            result = b"closed" if isinstance(e, (ConnectionError, socket.timeout)) else str(e).encode()
        os.write(write, result)
        os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as f:
        out = f.read().decode()
    os.waitpid(pid, 0)
    return out


def send(request=None, **fields):
    """order_send through the module, which must answer; the result."""
    result = borvane.order_send(dict(request or {}, **fields))
    assert result is not None, borvane.last_error()
    return result


@pytest.fixture
def isolated(monkeypatch):
    """Private socket and data folders (short: a socket path has under 108 bytes)."""
    short = None if WINDOWS else "/tmp"
    runtime = tempfile.mkdtemp(prefix="brvp", dir=short)
    data = tempfile.mkdtemp(prefix="brvd", dir=short)
    monkeypatch.setenv("XDG_RUNTIME_DIR", runtime)
    use_roaming(monkeypatch, data)
    yield {"runtime": runtime, "data": data}
    shutil.rmtree(runtime, ignore_errors=True)
    shutil.rmtree(data, ignore_errors=True)


# With BRV_WINE_TERMINAL naming a Windows paper terminal (`make
# test-wine-bridge`), the terminal under test is that one, run under Wine
# from inside the Wine prefix $WINEPREFIX and reached through the bridge.
WINE_TERMINAL = os.environ.get("BRV_WINE_TERMINAL")


@pytest.fixture
def install(tmp_path):
    """A private installation: a copy of the paper terminal in its own folder."""
    if WINE_TERMINAL:
        drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        folder = tempfile.mkdtemp(prefix="brv-test-", dir=drive_c)
        exe = os.path.join(folder, "Paper Terminal", "terminal64.exe")
        os.mkdir(os.path.dirname(exe))
        shutil.copy2(WINE_TERMINAL, exe)
        yield exe
        shutil.rmtree(folder, ignore_errors=True)
        return
    folder = tmp_path / "Paper Terminal"
    folder.mkdir()
    exe = folder / "terminal64.exe"
    shutil.copy2(paper.executable(), exe)
    yield str(exe)


#: Wednesday 2026-12-02 12:00 UTC: the tests' terminals start their clock
#: there, so that forex, metals and indices are open whatever the day.
WEEKDAY_NOON = 1796212800


def pin_clock(install, portable=False, start_time=WEEKDAY_NOON):
    """Writes the terminal's settings file so that its clock starts at `start_time`."""
    config = os.path.join(paper.data_folder(install, portable), "config")
    os.makedirs(config, mode=0o700, exist_ok=True)
    with open(os.path.join(config, "terminal.ini"), "w") as f:
        f.write("[Paper]\nStartTime=%d\n" % start_time)


@pytest.fixture
def started(isolated, install):
    """Starts terminals (clock at WEEKDAY_NOON) in the isolated folders; stops
    them afterwards, and those the module started too."""
    terminals = []

    def run(*args, path=None, portable=False):
        pin_clock(path or install, portable)
        t = paper.start(path or install, portable=portable, args=args)
        terminals.append(t)
        return t

    run.install = install
    yield run
    borvane.shutdown()
    for t in terminals:
        t.stop()
    paper.stop(install)


@pytest.fixture
def connected(started):
    """The module connected to a started paper terminal."""
    t = started()
    assert borvane.initialize(path=t.path), borvane.last_error()
    return t
