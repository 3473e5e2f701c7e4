"""The terminal link: socket naming, request framing, the call cycle's reply
checks (in detail through `version()`, then the failures every exchange must
report alike through each client operation) and broken pipes.
"""

import os
import socket
import struct

import pytest

import borvane as brv
import client_ops
import records as R
from conftest import NO_WINE_SYMLINKS, WINDOWS, assert_disconnected, make_exe, posix_only
from fake_terminal import script_terminal, socket_path

SUCCESS = (1, "Success")
NO_VERSION = (0, 0, "")
NO_IPC = (-10004, "No IPC connection")
RECV_FAILED = (-10002, "IPC recv failed")
DEFAULT_VERSION = (5, 4410, "5.00 build 4410")
VERSION = R.pack_version(*DEFAULT_VERSION)

TEXTS = {
    -1: "Terminal: Call failed",
    -2: "Terminal: Invalid params",
    -3: "Terminal: Out of memory",
    -4: "Terminal: Not found",
    -5: "Terminal: Incompatible versions, please install the latest version of Terminal and Python module",
    -6: "Terminal: Authorization failed",
    -7: "Terminal: Unsupported function",
}


# ---------------------------------------------------------------- naming

@pytest.mark.parametrize("variant", [
    "as given", "upper case", pytest.param("symbolic link", marks=NO_WINE_SYMLINKS), "dot dot"])
def test_spellings_of_one_executable_reach_one_terminal(fake, tmp_path, variant):
    folder, name = os.path.split(fake.exe)
    path = {
        "as given": fake.exe,
        # no such file on a case-sensitive file system: hashed as given, lower-cased
        "upper case": fake.exe.upper(),
        "symbolic link": str(tmp_path / "link64.exe"),
        "dot dot": os.path.join(folder, "..", os.path.basename(folder), name),
    }[variant]
    if variant == "symbolic link":
        os.symlink(fake.exe, path)
    assert brv.initialize(path) is True, brv.last_error()
    assert brv.last_error() == SUCCESS
    assert fake.connections() == [True]


@posix_only("a socket file that nobody listens on; a pipe without its server does not exist")
def test_socket_without_listener_gives_ipc_initialize_failed(tmp_path):
    exe = make_exe(tmp_path / "stale")
    dead = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    dead.bind(socket_path(exe))
    dead.close()
    try:
        assert brv.initialize(exe) is False
        assert brv.last_error() == (-10003, "IPC initialize failed, Process create failed '%s'" % exe)
    finally:
        os.unlink(socket_path(exe))


@posix_only("the peer's user id of a Unix socket")
@pytest.mark.skipif(WINDOWS or os.geteuid() != 0, reason="listening as another user needs root")
def test_terminal_of_another_user_is_refused(tmp_path):
    exe = make_exe(tmp_path / "other")
    with script_terminal(exe, "while True:\n    answer(request())\n", listen_uid=65534):
        assert brv.initialize(exe) is False
        assert brv.last_error() == (-10003, "IPC initialize failed, Process create failed '%s'" % exe)


# ---------------------------------------------------------------- requests

def test_handshake_readiness_and_version_request_bytes(fake):
    assert brv.initialize(fake.exe) is True
    brv.version()
    assert [r.raw for r in fake.requests()] == [
        struct.pack("<IIII", 24, 4, 3, 6) + "Python".encode("utf-16-le"),
        struct.pack("<II", 4, 109),
        struct.pack("<III", 8, 1, 0),
    ]


# ---------------------------------------------------------------- replies

@pytest.mark.parametrize("case, reply, error", [
    *(("status %d, bare header" % s, R.frame_reply(1, s), (s, text)) for s, text in sorted(TEXTS.items())),
    ("negative status, full payload", R.frame_reply(1, -4, VERSION), (-4, "Terminal: Not found")),
    ("status 0, full payload", R.frame_reply(1, 0, VERSION), SUCCESS),   # zero values, no failure
    ("status 0, bare header", R.frame_reply(1, 0), RECV_FAILED),
    ("length shorter than a header", struct.pack("<I", 2) + b"\x01\x00", RECV_FAILED),
    ("wrong echo on a failed read", R.frame_reply(2, -4), (-4, "Terminal: Not found")),
], ids=lambda v: v if isinstance(v, str) else "")
def test_reply_checks(connected, case, reply, error):
    connected.queue(reply)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == error
    # the connection stays open and in step: the next exchange works
    assert brv.version() == DEFAULT_VERSION
    assert brv.last_error() == SUCCESS
    assert connected.connections() == [True]


@pytest.mark.parametrize("chunks", [2, [4, 8, 1], [1] * 20])
def test_reply_arriving_in_several_chunks(connected, chunks):
    connected.queue(R.frame_reply(1, 1, R.pack_version(7, 8, "x" * 60)), chunks=chunks, pause=0.005)
    assert brv.version() == (7, 8, "x" * 60)
    assert brv.last_error() == SUCCESS


def test_slow_terminal_is_waited_for(connected):
    # reads have no time limit of their own: a late reply still counts
    connected.hang_next(seconds=0.3, then="reply")
    assert brv.version() == DEFAULT_VERSION
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("sent, expected", [
    ((5, 6, ""), (5, 6, "")),
    ((5, 6, "a" * 127), (5, 6, "a" * 127)),
    ((5, 6, "a" * 128), (5, 6, "")),
    ((5, 6, "\u00e9" * 64), (5, 6, "")),                 # 128 bytes of UTF-8
    ((5, 6, "v\U0001F600"), (5, 6, "v\U0001F600")),      # a surrogate pair becomes one character
    ((0xFFFFFFFF, 0x80000000, "x"), (-1, -2**31, "x")),  # read as signed
])
def test_version_values(connected, sent, expected):
    connected.queue_reply(1, R.pack_version(*sent))
    assert brv.version() == expected
    assert brv.last_error() == SUCCESS


# ---------------------------------------------------------------- broken pipe

@pytest.mark.parametrize("cmd", [1, 4])  # version, the handshake of initialize
def test_connection_dropped_before_the_reply(fake, cmd):
    fake.drop_next(cmd=cmd)
    assert brv.initialize(fake.exe) is (cmd == 1)
    if cmd == 1:
        assert brv.version() == NO_VERSION
    assert brv.last_error() == RECV_FAILED
    assert_disconnected(fake)


# ------------------------------------------------- every exchange, one table
# (subscribing and releasing a book fail with a bare False, the last error left alone)

OPS = client_ops.operations("/unused/terminal64.exe")
SILENT = {"market_book_add", "market_book_release"}
FAULTS = {
    "negative status": (lambda p: dict(status=-3), (-3, "Terminal: Out of memory")),
    "wrong echo": (lambda p: dict(payload=p, echo=999), (-10000, "IPC call failed")),
    "byte short": (lambda p: dict(payload=p[:-1]), RECV_FAILED),
    "byte long": (lambda p: dict(payload=p + b"\0"), RECV_FAILED),
    "count high": (lambda p: dict(payload=struct.pack("<I", 3) + p[4:]), RECV_FAILED),
    "count low": (lambda p: dict(payload=struct.pack("<I", 1) + p[4:]), RECV_FAILED),
}


def failed_with(op, result):
    return result == op.failure if isinstance(op.failure, tuple) else result is op.failure


@pytest.fixture
def link(terminal):
    """The module connected to the shared fake, its requests cleared."""
    assert brv.initialize(terminal.exe) is True, brv.last_error()
    terminal.clear()
    yield terminal
    terminal.clear_queue()


@pytest.mark.parametrize("name, fault", [
    (op.name, fault) for op in OPS for fault in FAULTS
    if (fault != "byte short" or op.shape != "status") and (not fault.startswith("count") or op.shape == "list")])
def test_reply_faults(link, name, fault):
    op = client_ops.by_name(link.exe)[name]
    make, error = FAULTS[fault]
    link.queue_reply(cmd=op.cmd, **dict(dict(status=1), **make(client_ops.payload(op))))
    assert failed_with(op, op.call())
    assert brv.last_error() == (SUCCESS if name in SILENT else error)
    # the bad reply was consumed whole: the next exchange is in step
    link.queue_reply(1, client_ops.payload(op), cmd=op.cmd)
    assert not failed_with(op, op.call())
    assert brv.last_error() == SUCCESS
    assert link.commands().count(op.cmd) == 2


@pytest.mark.parametrize("name", [op.name for op in OPS if op.name != "initialize"])
def test_send_failure_closes_the_connection(connected, name):
    op = client_ops.by_name(connected.exe)[name]
    connected.stop()
    # On Windows a write to a pipe whose server has gone fails with 232, not
    # with 109, the broken pipe: the handle stays, and so does the failure.
    for error in [(-10001, "IPC send failed"), (-10001, "IPC send failed") if WINDOWS else NO_IPC]:
        assert failed_with(op, op.call())
        assert brv.last_error() == (SUCCESS if name in SILENT else error)
