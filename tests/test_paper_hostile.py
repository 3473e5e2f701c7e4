"""The paper terminal's server against hostile local peers: it must stay
within a few MB per connection, never spin, and go on serving the others."""

import os
import struct
import time

import pytest

import borvane.paper as paper
from conftest import posix_only
from paper_helpers import RawClient, as_other_user, install, isolated, started  # noqa: F401
from records import pack_string as s16

if os.name != "nt":
    import resource

pytestmark = posix_only("the server's memory, processor time and descriptors through /proc and prlimit")

MiB = 1 << 20


def rss(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmRSS")


def cpu(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def quiet(pid, window=0.5, timeout=60):
    """Waits until the process uses (almost) no processor for `window` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        before = cpu(pid)
        time.sleep(window)
        if cpu(pid) - before < 0.05:
            return
    raise AssertionError("the terminal keeps working")


@pytest.mark.time_limit(120)
def test_clients_that_do_not_read_hold_a_few_mb(started, monkeypatch):
    # A sanitizer build keeps freed blocks aside to catch their reuse: without
    # that quarantine, what the terminal holds is what it really uses.
    if "ASAN_OPTIONS" in os.environ:
        monkeypatch.setenv("ASAN_OPTIONS", os.environ["ASAN_OPTIONS"] + ":quarantine_size_mb=0")
    t = started()
    RawClient(t.socket).call(109)
    base = rss(t.pid)
    # Eight requests of a million minute bars (about 60 MB of reply each),
    # never read; forty lengths of 1 MiB announced, four bytes sent.
    request = s16("EURUSD") + struct.pack("<iii", paper.TIMEFRAME_M1, 0, 1000000)
    greedy = [RawClient(t.socket, timeout=10) for _ in range(8)]
    for c in greedy:
        c.send(108, request)
    stalled = [RawClient(t.socket, timeout=10) for _ in range(40)]
    for c in stalled:
        c.sock.sendall(struct.pack("<II", MiB, 108))
    quiet(t.pid)
    held = rss(t.pid) - base
    assert held < 48 * MiB, held / MiB  # about 60 MB each before, 0.5 GB in all
    for c in greedy + stalled:
        c.sock.close()
    # Everybody else is served, and a whole long reply still arrives intact.
    c = RawClient(t.socket)
    c.send(108, s16("BTCUSD") + struct.pack("<iii", paper.TIMEFRAME_M1, 0, 40000))
    echo, status, payload = c.reply()
    assert (echo, status, struct.unpack("<I", payload[:4])[0]) == (108, 1, 40000)
    assert len(payload) == 4 + 40000 * 60


@pytest.mark.time_limit(60)
def test_connections_beyond_the_cap_or_the_descriptors_are_refused_without_spinning(started):
    t = started()
    RawClient(t.socket).call(109)
    soft, hard = resource.prlimit(t.pid, resource.RLIMIT_NOFILE)
    resource.prlimit(t.pid, resource.RLIMIT_NOFILE, (40, hard))
    clients = []
    for _ in range(100):
        try:
            clients.append(RawClient(t.socket, timeout=10))
        except OSError:
            break
    quiet(t.pid, timeout=10)  # no accept loop at full speed
    refused = 0
    for c in clients:
        try:
            c.send(109)
            refused += c.sock.recv(16) == b""
        except OSError:
            refused += 1
    assert refused > 0 and t.running()
    for c in clients:
        c.sock.close()
    resource.prlimit(t.pid, resource.RLIMIT_NOFILE, (soft, hard))
    assert RawClient(t.socket).call(109)[0] >= 0
    with open(os.path.join(t.data_folder, "logs", "paper.log")) as f:
        assert "connection refused" in f.read()


@pytest.mark.time_limit(60)
@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() != 0, reason="needs root to be another user")
def test_runtime_folder_and_clients_of_another_user(isolated, install):
    runtime = isolated["runtime"]
    os.chmod(runtime, 0o755)
    with pytest.raises(paper.PaperTerminalError, match="closed to others"):
        paper.start(install)
    os.chmod(runtime, 0o700)
    with paper.start(install) as t:
        # A socket opened to everybody by mistake still serves only its user.
        os.chmod(runtime, 0o755)
        os.chmod(t.socket, 0o777)
        assert as_other_user(t.socket) == "closed"
        assert RawClient(t.socket).call(109)[0] >= 0
        with open(os.path.join(t.data_folder, "logs", "paper.log")) as f:
            assert "client of user 65534" in f.read()
