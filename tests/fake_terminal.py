"""A scriptable fake terminal for the tests.

The module keeps the interpreter lock for a whole exchange, so the terminal
runs in a child process: it listens where the module looks for the terminal
of an executable path, answers and records every request, and is steered
over a control channel; every control call waits for the child's answer.

By default it answers the handshake (build 4410), authorisation (status 0),
readiness (state 2) and version (5, 4410, "5.00 build 4410"), and every other
command with status -7 on a bare header.  One-shot entries (queue,
queue_reply, drop_next, hang_next) come first, then replies set with `on`.
"""

import contextlib
import hashlib
import os
import socket
import struct
import subprocess
import sys
import threading
import time
from collections import namedtuple
from multiprocessing.connection import Client, Listener

WINDOWS = os.name == "nt"
if WINDOWS:
    import _overlapped
    import _winapi

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from records import frame_reply, pack_record_list, pack_value, pack_version  # noqa: E402

CMD_VERSION = 1
CMD_HANDSHAKE = 4
CMD_AUTHORIZE = 5
CMD_READY = 109

#: one recorded request: command (None for a message shorter than 4 bytes),
#: body after the command word, and the raw bytes with the length field
Request = namedtuple("Request", "cmd body raw")


def socket_path(exe_path):
    """Where the module looks for the terminal of `exe_path`: `BRV.Terminal.`
    and the upper-case SHA-256 of the lower-cased real path (on Windows the
    system's final path and lower-casing), a named pipe or a Unix socket."""
    if WINDOWS:
        from borvane import _windows
        final = _windows.lower(_windows.final_path(str(exe_path)))
    else:
        final = os.path.realpath(exe_path).lower()
    name = "BRV.Terminal." + hashlib.sha256(final.encode("utf-16-le")).hexdigest().upper()
    if WINDOWS:
        return "\\\\.\\pipe\\" + name
    return os.path.join(os.environ["XDG_RUNTIME_DIR"], name)


def _unlink(path):
    if not WINDOWS:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(path)


# ---------------------------------------------------------------- test side

class FakeTerminal:
    """Controls one fake terminal process serving the terminal of `exe`."""

    START_TIMEOUT = 10.0
    CALL_TIMEOUT = 10.0

    def __init__(self, exe):
        self.exe = str(exe)
        self.socket_path = socket_path(self.exe)
        # The child dials back on a control channel (no descriptors pass to a
        # child on Windows); the accept waits in a thread to have a time limit.
        with Listener(family="AF_PIPE" if WINDOWS else "AF_UNIX") as listener:
            self._proc = subprocess.Popen(
                [sys.executable, os.path.abspath(__file__), self.socket_path, listener.address],
                stdin=subprocess.DEVNULL)
            accepted = []
            waiter = threading.Thread(target=lambda: accepted.append(listener.accept()), daemon=True)
            waiter.start()
            waiter.join(self.START_TIMEOUT)
            self._conn = accepted[0] if accepted else None
        if self._conn is None or not self._conn.poll(self.START_TIMEOUT):
            self._kill()
            raise RuntimeError("fake terminal did not start")
        reply = self._conn.recv()
        if reply[0] != "ready":
            self._kill()
            raise RuntimeError("fake terminal failed to start: %r" % (reply,))

    # ------------------------------------------------------------ plumbing

    def _call(self, op, **kwargs):
        if self._conn is None:
            raise RuntimeError("fake terminal stopped")
        self._conn.send((op, kwargs))
        if not self._conn.poll(self.CALL_TIMEOUT + kwargs.get("timeout", 0)):
            raise RuntimeError("fake terminal does not answer %r" % op)
        status, value = self._conn.recv()
        if status != "ok":
            raise RuntimeError("fake terminal: %s" % value)
        return value

    def _kill(self):
        if self._proc.poll() is None:
            self._proc.kill()
        self._proc.wait()
        if self._conn is not None:
            self._conn.close()
            self._conn = None
        _unlink(self.socket_path)

    def stop(self):
        """End the process; its socket file and connections go away."""
        if self._conn is None:
            return
        with contextlib.suppress(RuntimeError, OSError, EOFError):
            self._call("stop")
        with contextlib.suppress(subprocess.TimeoutExpired):
            self._proc.wait(5)
        self._kill()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # ------------------------------------------------------------ scripting

    def on(self, cmd, status=0, payload=b"", *, value=None, records=None, echo=None):
        """Answer every request `cmd` with this reply (echo defaults to `cmd`) until
        changed; `value=n` makes the payload one u32, `records=[...]` a record list."""
        self._call("on", cmd=cmd, reply=_reply_spec(status, payload, value, records, echo))

    def queue(self, raw, *, cmd=None, chunks=None, pause=0.02, close=False):
        """Answer the next request (of command `cmd`, if given) with exactly `raw`,
        in `chunks` (a number of nearly equal parts, or a list of part sizes and
        the rest) sent `pause` seconds apart; `close` closes the connection after."""
        self._call("queue", entry=dict(action="reply", cmd=cmd, reply=dict(raw=bytes(raw)),
                                       chunks=chunks, pause=pause, close=close))

    def queue_reply(self, status=0, payload=b"", *, value=None, records=None, echo=None, cmd=None):
        """A one-shot framed reply; arguments as for `on` and `queue`."""
        self._call("queue", entry=dict(action="reply", cmd=cmd,
                                       reply=_reply_spec(status, payload, value, records, echo)))

    def drop_next(self, cmd=None):
        """Read the next request (of command `cmd`), then close the connection unanswered."""
        self._call("queue", entry=dict(action="drop", cmd=cmd))

    def hang_next(self, cmd=None, seconds=None, then="drop"):
        """Read the next request and do not answer; after `seconds` (or on `release()`
        or `stop()`) "drop" closes the connection, "reply" sends the normal answer."""
        self._call("queue", entry=dict(action="hang", cmd=cmd, seconds=seconds, then=then))

    def release(self):  # ends every hang now
        self._call("release")

    def clear_queue(self):
        self._call("clear_queue")

    def pending(self):  # one-shot entries not used yet
        return self._call("pending")

    def readiness(self, *states):
        """Readiness states for the next polls; the last one repeats."""
        self._call("set", name="ready_states", value=list(states))

    def set_build(self, build):
        self._call("set", name="build", value=build)

    def set_version(self, version, build, text_value):
        self._call("set", name="version", value=(version, build, text_value))

    # ------------------------------------------------------------ observing

    def requests(self, cmd=None):
        """The recorded requests, in order, optionally of one command."""
        reqs = [Request(*r) for r in self._call("requests")]
        return [r for r in reqs if cmd is None or r.cmd == cmd]

    def commands(self):
        return [r.cmd for r in self.requests()]

    def clear(self):
        self._call("clear")

    def connections(self):
        """One flag per connection accepted so far, in order: still open?"""
        return self._call("connections")

    def wait_connections(self, expected, timeout=3.0):
        """Wait until `connections()` equals `expected`; returns the last value seen."""
        return self._call("wait_connections", expected=list(expected), timeout=timeout)


def _reply_spec(status, payload, value, records, echo):
    if value is not None:
        payload = pack_value(value)
    elif records is not None:
        payload = pack_record_list(records)
    return dict(status=status, payload=bytes(payload), echo=echo)


#: The start of a one-purpose POSIX terminal for what the scriptable fake
#: cannot do (stop reading, listen as another user): it listens on the socket
#: argv[1], prints "ready", accepts one client as `conn`; `request()` reads the
#: next request and returns its command, `answer(cmd)` sends the handshake's
#: build, the readiness poll's "ready" or a zero value.
_SCRIPT_START = """
import os, signal, socket, struct, sys, time
def frame(echo, status, payload=b""):
    return struct.pack("<IIi", 8 + len(payload), echo, status) + payload
def exact(n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data
def request():
    (length,) = struct.unpack("<I", exact(4))
    return struct.unpack_from("<I", exact(length))[0]
def answer(cmd):
    conn.sendall(frame(cmd, 0, struct.pack("<I", {4: 4410, 109: 2}.get(cmd, 0))))
server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
server.bind(sys.argv[1])
if os.environ.get("LISTEN_UID"):  # a terminal of another user
    os.setuid(int(os.environ["LISTEN_UID"]))
server.listen(1)
print("ready", flush=True)
conn, _ = server.accept()
"""


@contextlib.contextmanager
def script_terminal(exe, script, listen_uid=None):
    """Runs `script` after `_SCRIPT_START` as the terminal of `exe`; yields the
    process once it listens, and kills it at the end.  listen_uid: the user the
    terminal switches to after binding its socket, before it listens."""
    path = socket_path(exe)
    env = dict(os.environ, LISTEN_UID=str(listen_uid or ""))
    proc = subprocess.Popen([sys.executable, "-c", _SCRIPT_START + script, path],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env=env)
    try:
        assert proc.stdout.readline().rstrip() == b"ready"
        yield proc
    finally:
        proc.kill()
        proc.wait()
        proc.stdout.close()
        _unlink(path)


# ---------------------------------------------------------------- terminal side (the child)

MAX_REQUEST = 64 << 20


class _Server:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Condition()
        self.requests = []
        self.conns = []          # [socket, open flag]
        self.handlers = {}
        self.queue = []
        self.ready_states = [2]
        self.build = 4410
        self.version = (5, 4410, "5.00 build 4410")
        self.release_event = threading.Event()
        self.stopping = False
        if WINDOWS:
            self.listener = _PipeListener(path)
            return
        _unlink(path)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(16)

    # ---------------------------------------------------- connections

    def accept_loop(self):
        while True:
            try:
                sock, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                if self.stopping:
                    sock.close()
                    return
                index = len(self.conns)
                self.conns.append([sock, True])
            threading.Thread(target=self.serve, args=(sock, index), daemon=True).start()

    def serve(self, sock, index):
        try:
            while True:
                head = _recv_exact(sock, 4)
                (length,) = struct.unpack("<I", head)
                if length > MAX_REQUEST:
                    break
                body = _recv_exact(sock, length)
                cmd = struct.unpack_from("<I", body)[0] if length >= 4 else None
                with self.lock:
                    self.requests.append((cmd, body[4:], head + body))
                    entry = self.pick(cmd)
                if not self.perform(sock, cmd, entry):
                    break
        except OSError:  # the client went, or the connection was shut
            pass
        sock.close()
        with self.lock:
            self.conns[index][1] = False
            self.lock.notify_all()

    def pick(self, cmd):
        for i, entry in enumerate(self.queue):
            if entry.get("cmd") is None or entry["cmd"] == cmd:
                del self.queue[i]
                return entry
        return dict(action="reply", reply=None)

    def perform(self, sock, cmd, entry):
        """Carry out one answer; False when the connection is to be closed."""
        action = entry["action"]
        if action == "hang":
            self.release_event.wait(entry["seconds"])
        if action == "drop" or action == "hang" and (entry["then"] == "drop" or self.stopping):
            _shut(sock)
            return False
        data = self.reply_bytes(cmd, entry.get("reply"))
        for n, part in enumerate(_split(data, entry.get("chunks"))):
            if n:
                time.sleep(entry.get("pause", 0.02))
            sock.sendall(part)
        if entry.get("close"):
            _shut(sock)
            return False
        return True

    def reply_bytes(self, cmd, reply):
        if reply is None:
            with self.lock:
                reply = self.handlers.get(cmd)
                if reply is None:
                    return self.builtin(cmd)
        if "raw" in reply:
            return reply["raw"]
        echo = reply.get("echo")
        return frame_reply(cmd if echo is None else echo, reply["status"], reply["payload"])

    def builtin(self, cmd):
        # called with the lock held
        if cmd == CMD_HANDSHAKE:
            return frame_reply(cmd, 0, pack_value(self.build))
        if cmd == CMD_AUTHORIZE:
            return frame_reply(cmd, 0)
        if cmd == CMD_READY:
            state = self.ready_states[0]
            if len(self.ready_states) > 1:
                self.ready_states.pop(0)
            return frame_reply(cmd, 0, pack_value(state))
        if cmd == CMD_VERSION:
            # the module takes the values only from a positive status
            return frame_reply(cmd, 1, pack_version(*self.version))
        return frame_reply(cmd if cmd is not None else 0, -7)

    # ---------------------------------------------------- control

    def control(self, op, kw):
        with self.lock:
            if op == "wait_connections":
                deadline = time.monotonic() + kw["timeout"]
                while [c[1] for c in self.conns] != kw["expected"] and time.monotonic() < deadline:
                    self.lock.wait(deadline - time.monotonic())
                op = "connections"
            if op == "queue" and kw["entry"]["action"] == "hang":
                self.release_event.clear()
            return {
                "on": lambda: self.handlers.__setitem__(kw["cmd"], kw["reply"]),
                "queue": lambda: self.queue.append(kw["entry"]),
                "clear_queue": self.queue.clear,
                "pending": lambda: len(self.queue),
                "release": self.release_event.set,
                "set": lambda: setattr(self, kw["name"], kw["value"]),
                "requests": lambda: list(self.requests),
                "clear": self.requests.clear,
                "connections": lambda: [c[1] for c in self.conns],
            }[op]()

    def stop(self):
        with self.lock:
            self.stopping = True
            socks = [c[0] for c in self.conns]
        self.release_event.set()
        self.listener.close()
        _unlink(self.path)
        for s in socks:
            _shut(s)


class _PipeListener:
    """The Windows transport: a byte-mode pipe instance per client, with
    overlapped I/O so that closing the server or a connection never waits
    for a client that sends nothing."""

    def __init__(self, name):
        self.name = name
        self.stopped = _overlapped.CreateEvent(None, True, False, None)
        self.waiting = self._instance(first=True)

    def _instance(self, first=False):
        return _winapi.CreateNamedPipe(
            self.name, _winapi.PIPE_ACCESS_DUPLEX | _winapi.FILE_FLAG_OVERLAPPED
            | (_winapi.FILE_FLAG_FIRST_PIPE_INSTANCE if first else 0),
            0,  # byte mode, blocking
            _winapi.PIPE_UNLIMITED_INSTANCES, 1 << 16, 1 << 16, 0, 0)

    def accept(self):
        handle = self.waiting
        ov = _winapi.ConnectNamedPipe(handle, overlapped=True)
        if not _wait(ov, self.stopped):
            raise OSError("listener closed")
        self.waiting = self._instance()
        return _PipeConn(handle, self.stopped), None

    def close(self):
        _overlapped.SetEvent(self.stopped)


def _wait(ov, *events):
    """Waits for an overlapped operation, or for one of `events` (then the
    operation is cancelled); True when it completed without error."""
    woke = _winapi.WaitForMultipleObjects([ov.event, *events], False, _winapi.INFINITE)
    if woke != _winapi.WAIT_OBJECT_0:
        ov.cancel()
    try:
        _, err = ov.GetOverlappedResult(True)
    except OSError:
        return False
    return woke == _winapi.WAIT_OBJECT_0 and err == 0


class _PipeConn:
    """One client's pipe instance, with the socket calls the server uses."""

    def __init__(self, handle, stopped):
        self.handle = handle
        self.stopped = stopped
        self.down = _overlapped.CreateEvent(None, True, False, None)
        self.lock = threading.Lock()

    def recv(self, n):
        try:
            ov, _ = _winapi.ReadFile(self.handle, n, overlapped=True)
        except OSError:
            return b""
        return ov.getbuffer() if _wait(ov, self.down, self.stopped) else b""

    def sendall(self, data):
        try:
            ov, _ = _winapi.WriteFile(self.handle, data, overlapped=True)
        except OSError as exc:
            raise OSError("pipe closed") from exc
        if not _wait(ov, self.down, self.stopped):
            raise OSError("pipe closed")

    def shutdown(self, how=None):
        # Wakes a wait of the serving thread, which then closes the instance.
        _overlapped.SetEvent(self.down)

    def close(self):
        # The client's next read fails with 109, after what was sent.
        with self.lock:
            if self.handle is not None:
                _winapi.CloseHandle(self.handle)
                self.handle = None


def _recv_exact(sock, n):
    parts = []
    while n:
        chunk = sock.recv(min(n, 1 << 20))
        if not chunk:
            raise ConnectionError("closed")
        parts.append(chunk)
        n -= len(chunk)
    return b"".join(parts)


def _shut(sock):
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    if WINDOWS and threading.current_thread() is not threading.main_thread():
        sock.close()  # from the serving thread itself: no wait is pending


def _split(data, chunks):
    if isinstance(chunks, int):
        chunks = [max(1, -(-len(data) // chunks))] * chunks
    parts, pos = [], 0
    for size in chunks or ():
        parts.append(data[pos:pos + size])
        pos += size
    parts.append(data[pos:])
    return [p for p in parts if p] or [data]


def _main(path, control):
    conn = Client(control)
    try:
        server = _Server(path)
    except OSError as exc:
        conn.send(("error", str(exc)))
        return 1
    threading.Thread(target=server.accept_loop, daemon=True).start()
    conn.send(("ready", os.getpid()))
    while True:
        try:
            op, kw = conn.recv()
        except (EOFError, OSError):
            break
        if op == "stop":
            server.stop()
            conn.send(("ok", None))
            break
        try:
            conn.send(("ok", server.control(op, kw)))
        except Exception as exc:  # reported to the test, which raises it
            conn.send(("error", "%s: %s" % (type(exc).__name__, exc)))
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1], sys.argv[2]))
