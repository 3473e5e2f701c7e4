"""The terminal link: socket naming, request framing, reply checks, broken pipes.

`version()` is the vehicle for the reply checks: it is the one request of the
connection lifecycle with a payload of its own (u32 version, u32 build, string).
"""

import os
import socket
import struct

import pytest

import borvane as brv
import records as R
from conftest import make_exe, require_discovery
from fake_terminal import pipe_name, socket_path

SUCCESS = (1, "Success")
NO_VERSION = (0, 0, "")

TEXTS = {
    -1: "Terminal: Call failed",
    -2: "Terminal: Invalid params",
    -3: "Terminal: Out of memory",
    -4: "Terminal: Not found",
    -5: "Terminal: Incompatible versions, please install the latest version of Terminal and Python module",
    -6: "Terminal: Authorization failed",
    -7: "Terminal: Unsupported function",
    -8: "Terminal: Call failed",
    -9: "Terminal: Call failed",
    -100: "Terminal: Call failed",
}

VERSION = R.pack_version(5, 4410, "5.00 build 4410")


# ---------------------------------------------------------------- naming

def test_pipe_name_recipe():
    # an independent check of the recipe the fakes rely on
    name = pipe_name("/opt/Borvane/terminal64.exe")
    digest = name[len("BRV.Terminal."):]
    assert name.startswith("BRV.Terminal.") and len(digest) == 64
    assert digest == digest.upper() and int(digest, 16) >= 0


def test_initialize_reaches_the_socket_named_from_the_path(fake):
    assert os.path.basename(fake.socket_path) == pipe_name(fake.exe)
    assert brv.initialize(fake.exe) is True
    assert brv.last_error() == SUCCESS
    assert fake.connections() == [True]


@pytest.mark.parametrize("variant", ["upper case", "symbolic link", "dot dot"])
def test_spellings_of_one_executable_reach_one_terminal(fake, tmp_path, variant):
    folder, name = os.path.split(fake.exe)
    if variant == "upper case":
        # no such file on a case-sensitive file system: hashed as given, lower-cased
        path = fake.exe.upper()
        assert not os.path.exists(path)
    elif variant == "symbolic link":
        path = str(tmp_path / "link64.exe")
        os.symlink(fake.exe, path)
    else:
        path = os.path.join(folder, "..", os.path.basename(folder), name)
    assert brv.initialize(path) is True, brv.last_error()
    assert fake.connections() == [True]


def _assert_initialize_failed(path, *messages):
    assert brv.initialize(path) is False
    code, message = brv.last_error()
    assert code == -10003
    assert message in ["IPC initialize failed, " + m for m in messages]


def test_missing_terminal_gives_ipc_initialize_failed(missing_exe):
    # before terminal launch: the open fails with ENOENT; with launch: the
    # start of the missing file fails at once
    _assert_initialize_failed(missing_exe, "CreateFile failed [2]",
                              "Process create failed '%s'" % missing_exe)


def test_socket_without_listener_gives_ipc_initialize_failed(tmp_path):
    exe = make_exe(tmp_path / "stale")
    dead = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    dead.bind(socket_path(exe))
    dead.close()
    try:
        _assert_initialize_failed(exe, "CreateFile failed [111]",
                                  "Process create failed '%s'" % exe)
    finally:
        os.unlink(socket_path(exe))


def test_no_path_and_no_data_folders_finds_no_terminal(private_env):
    assert not os.path.exists(os.path.join(private_env["XDG_DATA_HOME"], "Halcyra"))
    assert brv.initialize() is False
    require_discovery()
    assert brv.last_error() == (-10003, "IPC initialize failed, Borvane x64 not found")


# ---------------------------------------------------------------- requests

def test_initialize_sends_handshake_then_readiness(fake):
    assert brv.initialize(fake.exe) is True
    handshake, ready = fake.requests()
    assert handshake.raw == struct.pack("<IIII", 24, 4, 3, 6) + "Python".encode("utf-16-le")
    assert len(handshake.raw) == 28
    assert ready.raw == struct.pack("<II", 4, 109)


def test_version_request_bytes(connected):
    brv.version()
    assert [r.raw for r in connected.requests()] == [struct.pack("<III", 8, 1, 0)]


# ---------------------------------------------------------------- replies

def test_version_returns_the_reply_values(connected):
    connected.set_version(5, 4411, "5.00 build 4411")
    assert brv.version() == (5, 4411, "5.00 build 4411")
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("status", sorted(TEXTS))
def test_negative_status_on_a_bare_header(connected, status):
    connected.queue_reply(status)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (status, TEXTS[status])
    assert brv.version() == (5, 4410, "5.00 build 4410")


def test_negative_status_with_a_full_payload(connected):
    connected.queue_reply(-4, VERSION)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-4, "Terminal: Not found")


@pytest.mark.parametrize("case, reply, error", [
    ("status 0, bare header", R.frame_reply(1, 0), (-10002, "IPC recv failed")),
    ("payload one byte short", R.frame_reply(1, 1, VERSION[:-1]), (-10002, "IPC recv failed")),
    ("text count past the end", R.frame_reply(1, 1, R.pack_version(5, 1, "abc")[:-2]),
     (-10002, "IPC recv failed")),
    ("four extra bytes", R.frame_reply(1, 1, VERSION + b"\0\0\0\0"), (-10002, "IPC recv failed")),
    ("one extra byte", R.frame_reply(1, 1, VERSION + b"\x01"), (-10002, "IPC recv failed")),
    ("length shorter than a header", struct.pack("<I", 2) + b"\x01\x00", (-10002, "IPC recv failed")),
    ("length of echo only", struct.pack("<II", 4, 1), (-10002, "IPC recv failed")),
    ("wrong echo", R.frame_reply(2, 1, VERSION), (-10000, "IPC call failed")),
    ("echo of the handshake", R.frame_reply(4, 0, VERSION), (-10000, "IPC call failed")),
    ("wrong echo on a failed read", R.frame_reply(2, -4), (-4, "Terminal: Not found")),
], ids=lambda v: v if isinstance(v, str) else "")
def test_reply_checks(connected, case, reply, error):
    connected.queue(reply)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == error
    # the connection stays open and in step: the next exchange works
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert brv.last_error() == SUCCESS
    assert connected.connections() == [True]


def test_status_zero_with_a_full_payload_gives_zero_values(connected):
    connected.queue_reply(0, VERSION)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("chunks", [2, [1, 3, 5], [4, 8, 1], [len(VERSION) + 11]])
def test_reply_arriving_in_several_chunks(connected, chunks):
    connected.queue(R.frame_reply(1, 1, R.pack_version(7, 8, "seven")), chunks=chunks, pause=0.03)
    assert brv.version() == (7, 8, "seven")
    assert brv.last_error() == SUCCESS


def test_slow_terminal_is_waited_for(connected):
    # reads have no time limit of their own: a late reply still counts
    connected.hang_next(seconds=0.3, then="reply")
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert brv.last_error() == SUCCESS


def test_large_reply_in_many_chunks(connected):
    text = "x" * 60
    connected.queue(R.frame_reply(1, 1, R.pack_version(1, 2, text)), chunks=[1] * 20, pause=0.002)
    assert brv.version() == (1, 2, text)


@pytest.mark.parametrize("text, expected", [
    ("", ""),
    ("a" * 127, "a" * 127),
    ("a" * 128, ""),
    ("\u00e9" * 63, "\u00e9" * 63),      # 126 bytes of UTF-8
    ("\u00e9" * 64, ""),                 # 128 bytes
    ("v\U0001F600", "v\U0001F600"),      # a surrogate pair becomes one character
])
def test_version_text_limit(connected, text, expected):
    connected.queue_reply(1, R.pack_version(5, 6, text))
    assert brv.version() == (5, 6, expected)
    assert brv.last_error() == SUCCESS


def test_version_values_read_as_signed(connected):
    connected.queue_reply(1, R.pack_version(0xFFFFFFFF, 0x80000000, "x"))
    assert brv.version() == (-1, -2147483648, "x")


# ---------------------------------------------------------------- broken pipe

def _assert_disconnected(fake):
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-10004, "No IPC connection")
    assert fake.wait_connections([False]) == [False]


def test_connection_dropped_before_the_reply(connected):
    connected.drop_next()
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-10002, "IPC recv failed")
    _assert_disconnected(connected)
    assert connected.commands() == [1]


@pytest.mark.parametrize("case, partial", [
    ("inside the length field", b"\x14\x00"),
    ("after the length field", struct.pack("<I", 20)),
    ("inside the payload", R.frame_reply(1, 1, VERSION)[:20]),
    ("implausible length", struct.pack("<I", 0xFFFFFFF0) + b"\x01\x00\x00\x00"),
], ids=lambda v: v if isinstance(v, str) else "")
def test_connection_dropped_inside_the_reply(connected, case, partial):
    connected.queue(partial, close=True)
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-10002, "IPC recv failed")
    _assert_disconnected(connected)


def test_connection_closed_before_the_request(connected):
    connected.queue_reply(1, VERSION, close=True)
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert connected.wait_connections([False]) == [False]
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-10001, "IPC send failed")
    assert brv.version() == NO_VERSION
    assert brv.last_error() == (-10004, "No IPC connection")


def test_initialize_reconnects_after_a_broken_pipe(connected):
    connected.drop_next()
    brv.version()
    assert brv.initialize(connected.exe) is True
    assert connected.wait_connections([False, True]) == [False, True]
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert brv.last_error() == SUCCESS


def test_login_on_a_broken_pipe(connected):
    connected.drop_next(cmd=5)
    assert brv.login(1) is False
    assert brv.last_error() == (-10002, "IPC recv failed")
    assert brv.login(1) is False
    assert brv.last_error() == (-10004, "No IPC connection")


def test_handshake_dropped(fake):
    fake.drop_next(cmd=4)
    assert brv.initialize(fake.exe) is False
    assert brv.last_error() == (-10002, "IPC recv failed")
    _assert_disconnected(fake)
