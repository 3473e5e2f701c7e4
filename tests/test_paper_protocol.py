"""The paper terminal's server on the wire, with a raw socket client: framing,
bad requests, its folders and its life cycle."""

import os
import signal
import socket
import struct
import subprocess

import pytest

import borvane.paper as paper
from conftest import WINDOWS, posix_only
from paper_helpers import RawClient, install, isolated, started  # noqa: F401
from records import pack_string as s16


def authorize(c, login, password, server=""):
    status, payload = c.call(5, struct.pack("<IQ", 0, login) + s16(password) + s16(server))
    assert payload == b""
    return status


def test_authorisation_and_readiness_state(started):
    t = started()
    c, other = RawClient(t.socket), RawClient(t.socket)
    assert authorize(c, 70010002, "wrong") == -6
    assert c.call(109)[1] == struct.pack("<I", paper.STATE_AUTHORIZATION_FAILED)
    # The failure belongs to the connection that made it.
    assert other.call(109)[1] == struct.pack("<I", paper.STATE_READY)
    assert authorize(c, 70010002, "euro-demo", paper.SERVER) >= 0
    assert c.call(109)[1] == struct.pack("<I", paper.STATE_READY)
    assert authorize(c, 70010001, "paper-demo", "Other-Server") == -6
    assert authorize(c, 99, "paper-demo") == -6
    assert authorize(c, 0, "") >= 0  # no credentials: stays on the current account


@pytest.mark.parametrize(
    "command, body, status",
    [
        (9999, b"", -7),                                   # unknown command
        (172, struct.pack("<I", 50) + b"EU", -2),          # string longer than the body
        (172, s16("EURUSD") + b"\0", -2),                  # a byte too many
        (161, b"\0" * 231, -2),                            # trade request one byte short
        (106, s16("EURUSD") + struct.pack("<iqi", 7, 0, 5), -2),  # no such timeframe
        (104, s16("EURUSD") + struct.pack("<qii", 0, 5, 9), -2),  # no such tick selection
        (123, struct.pack("<Q", 12345), -4),               # no such position
    ],
)
def test_bad_requests_get_a_bare_negative_status_and_the_connection_lives(started, command, body, status):
    c = RawClient(started().socket)
    c.send(command, body)
    echo, got, payload = c.reply()
    assert (echo, got, payload) == (command, status, b"")
    assert c.call(109)[0] >= 0


@pytest.mark.parametrize("length", [0, 3, 0x7FFFFFFF])
def test_unframeable_length_closes_only_that_connection(started, length):
    t = started()
    bystander = RawClient(t.socket)
    bad = RawClient(t.socket)
    bad.sock.sendall(struct.pack("<I", length) + b"\1\0\0\0")
    assert bad.closed_by_peer()
    assert bystander.call(109)[0] >= 0
    assert RawClient(t.socket).call(173)[0] >= 0
    assert t.running()


def test_clients_served_at_once(started):
    t = started()
    clients = [RawClient(t.socket) for _ in range(4)]
    # Every client has a request in flight before any reply is read.
    for i, c in enumerate(clients):
        c.send(108, s16("EURUSD") + struct.pack("<iii", 1, 0, 100 + i))
    for i, c in enumerate(clients):
        echo, status, payload = c.reply()
        assert status >= 0 and struct.unpack_from("<I", payload)[0] == 100 + i


def test_portable_terminal_keeps_its_data_in_its_folder(started):
    t = started(portable=True)
    folder = os.path.dirname(os.path.realpath(t.path))
    assert t.data_folder == folder
    assert os.path.isfile(os.path.join(folder, "config", "terminal.ini"))
    assert not os.path.exists(os.path.join(os.environ["XDG_DATA_HOME"], "Halcyra", "Terminal"))


def test_second_instance_is_refused(started):
    t = started()
    second = subprocess.run([t.path], stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    assert second.returncode == 3
    assert b"serves" in second.stderr
    assert RawClient(t.socket).call(109)[0] >= 0


@posix_only("a stale socket file; a pipe goes with its server")
def test_stale_socket_is_replaced(started, install):
    path = paper.socket_path(install)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    stale = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    stale.bind(path)  # a socket file that nobody listens on
    stale.close()
    t = started()
    assert RawClient(t.socket).call(109)[0] >= 0


def test_sigterm_stops_cleanly(started):
    t = started()
    c = RawClient(t.socket)
    pid_file = os.path.join(t.data_folder, "paper.pid")
    if WINDOWS:  # the terminal's stop event stands for SIGTERM there
        assert paper._windows.set_event(paper._stop_event(t.path))
    else:
        os.kill(t.pid, signal.SIGTERM)
    assert t.process.wait(10) == 0
    assert c.closed_by_peer()
    assert not os.path.exists(t.socket)
    assert not os.path.exists(pid_file)


def test_start_reports_a_terminal_that_cannot_start(isolated, install):
    with pytest.raises(paper.PaperTerminalError, match="unknown argument"):
        paper.start(install, args=["--bogus"])
