"""Hostile replies, for every client operation (client_ops.py): counts are
checked before allocating; a reply failing its size check is read to its end,
or, when the rest is implausibly large, the connection is closed instead.
"""

import ctypes
import os
import struct
import tempfile

import pytest

import borvane as brv
import client_ops
import records as R

SUCCESS = (1, "Success")
RECV_FAILED = (-10002, "IPC recv failed")
NO_CONNECTION = (-10004, "No IPC connection")
GOOD_VERSION = (5, 4410, "5.00 build 4410")

ALL = client_ops.operations("/unused/terminal64.exe")
NAMES = [op.name for op in ALL]
COUNTED = [op.name for op in ALL if op.shape in ("list", "version")]


def _assert_failed(op, result, error):
    assert result == op.failure
    if op.name not in ("market_book_add", "market_book_release"):  # these report by False alone
        assert brv.last_error() == error


def _assert_in_step():
    assert brv.version() == GOOD_VERSION
    assert brv.last_error() == SUCCESS


# ------------------------------------------------------------ counts

_LIBC = None if os.name == "nt" else ctypes.CDLL(None)


def _peak_mapped_bytes():
    """glibc's high-water mark of memory mapped for large allocations (every
    allocation of the sizes below is mapped), or None under another allocator."""
    if not hasattr(_LIBC, "malloc_stats") or "asan" in os.environ.get("LD_PRELOAD", ""):
        return None
    saved = os.dup(2)
    with tempfile.TemporaryFile() as f:
        os.dup2(f.fileno(), 2)
        try:
            _LIBC.malloc_stats()
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        f.seek(0)
        text = f.read().decode(errors="replace")
    for line in text.splitlines():
        if line.startswith("max mmap bytes"):
            return int(line.split("=")[1])
    return None


@pytest.mark.parametrize("name", COUNTED)
def test_count_is_checked_before_allocation(connected, name):
    op = client_ops.by_name(connected.exe)[name]
    unit = op.layout.size if op.shape == "list" else 2
    # A count worth 512 MB, then the largest count (whose byte size, for the
    # larger records, no allocator could give), each with one record (or
    # text unit) behind it.
    large = (512 << 20) // unit
    before = _peak_mapped_bytes()
    if before is not None and before > large * unit // 2:
        pytest.skip("this process has mapped large allocations already: the mark cannot tell")
    for count in (large, 0xFFFFFFFF):
        if op.shape == "list":
            payload = struct.pack("<I", count) + client_ops.record_bytes(op.layout)
        else:
            payload = struct.pack("<III", 5, 4410, count) + "v".encode("utf-16-le")
        connected.queue(R.frame_reply(op.cmd, 1, payload), cmd=op.cmd)
        _assert_failed(op, op.call(), RECV_FAILED)
        _assert_in_step()
    if before is not None:
        assert _peak_mapped_bytes() - before < large * unit // 4


# ------------------------------------------------------------ draining

# (16 << 20) - 64: just under the most that is drained rather than closed
@pytest.mark.parametrize("name", ["version", "account_info", "positions_get", "copy_rates_from"])
@pytest.mark.parametrize("extra", [100_000, (16 << 20) - 64])
def test_long_reply_is_drained(connected, name, extra):
    op = client_ops.by_name(connected.exe)[name]
    connected.queue(R.frame_reply(op.cmd, 1, client_ops.payload(op) + b"\xEE" * extra), cmd=op.cmd)
    _assert_failed(op, op.call(), RECV_FAILED)
    _assert_in_step()
    assert connected.connections()[-1] is True


@pytest.mark.parametrize("name", NAMES)
def test_implausibly_large_reply_closes_the_connection(connected, name):
    # The terminal announces far more than it sends and then stays silent:
    # the module must not wait for the rest, nor read it.
    op = client_ops.by_name(connected.exe)[name]
    for length in (32 << 20, 0xFFFFFFFF):
        sent = struct.pack("<IIi", length, op.cmd, 1) + client_ops.payload(op) + b"\xEE" * 40_000
        connected.queue(sent, cmd=op.cmd)
        _assert_failed(op, op.call(), RECV_FAILED)
        assert brv.version() == client_ops.NO_VERSION
        assert brv.last_error() == NO_CONNECTION
        assert connected.wait_connections([False] * len(connected.connections()))[-1] is False
        assert brv.initialize(connected.exe) is True
