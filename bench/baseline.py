"""The baseline of the benchmarks: the same calls written in pure Python.

This is the client a competent user would write instead of using the
extension: one socket, precompiled `struct.Struct` objects, `recv_into`
preallocated buffers, named tuples for records and `np.frombuffer` over the
received bytes for bars and ticks.  It speaks the same protocol and sends the
same request bytes as the extension.
"""

import socket
import struct
from collections import namedtuple

import numpy as np

_U32 = struct.Struct("<I")
_REQUEST_HEAD = struct.Struct("<II")       # length, command
_REPLY_HEAD = struct.Struct("<IIi")        # length, echo, status
_LIST_HEAD = struct.Struct("<IIiI")        # length, echo, status, count
_RATES_ARGS = struct.Struct("<iqq")        # timeframe, date_from, date_to
_TICKS_ARGS = struct.Struct("<qqi")        # date_from ms, date_to ms, flags
_HANDSHAKE_BODY = struct.Struct("<II").pack(3, 6) + "Python".encode("utf-16-le")

_TICK = struct.Struct("<qdddQqId")
_POSITION = struct.Struct("<QqqqqIQQIddddd8xdd64s64s64s")

Tick = namedtuple("Tick", "time bid ask last volume time_msc flags volume_real")
TradePosition = namedtuple(
    "TradePosition",
    "ticket time time_msc time_update time_update_msc type magic identifier reason "
    "volume price_open sl tp price_current swap profit symbol comment external_id")

BAR_DTYPE = np.dtype({
    "names": ["time", "open", "high", "low", "close", "tick_volume", "spread", "real_volume"],
    "formats": ["<i8", "<f8", "<f8", "<f8", "<f8", "<u8", "<i4", "<u8"],
    "offsets": [0, 8, 16, 24, 32, 40, 48, 52],
    "itemsize": 60,
})
TICK_DTYPE = np.dtype({
    "names": ["time", "bid", "ask", "last", "volume", "time_msc", "flags", "volume_real"],
    "formats": ["<i8", "<f8", "<f8", "<f8", "<u8", "<i8", "<u4", "<f8"],
    "offsets": [0, 8, 16, 24, 32, 40, 48, 52],
    "itemsize": 60,
})


class TerminalError(Exception):
    pass


def _string(text):
    units = text.encode("utf-16-le")
    return _U32.pack(len(units) // 2) + units


def _text(raw):
    """A fixed UTF-16 field read up to its first NUL."""
    return raw.decode("utf-16-le").partition("\x00")[0]


class Client:
    """One connection to the terminal serving `socket_path`."""

    def __init__(self, socket_path):
        self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._sock.connect(socket_path)
        self._buf = bytearray(16384)
        self._view = memoryview(self._buf)
        self.build = self._value(4, _HANDSHAKE_BODY)
        if self._value(109) != 2:
            raise TerminalError("terminal not ready")

    def close(self):
        self._sock.close()

    # ---- transport -------------------------------------------------------

    def _send(self, command, body=b""):
        self._sock.sendall(_REQUEST_HEAD.pack(len(body) + 4, command) + body)

    def _recv_exact(self, view):
        recv_into = self._sock.recv_into
        while view:
            got = recv_into(view)
            if not got:
                raise TerminalError("connection closed")
            view = view[got:]

    def _small_reply(self, command):
        """A whole reply of at most 16 KiB into the buffer; returns its size."""
        recv_into = self._sock.recv_into
        view = self._view
        have = recv_into(view)
        while have < 12:
            got = recv_into(view[have:])
            if not got:
                raise TerminalError("connection closed")
            have += got
        length, echo, status = _REPLY_HEAD.unpack_from(self._buf)
        size = 4 + length
        if size > len(self._buf):
            raise TerminalError("reply too long")
        while have < size:
            got = recv_into(view[have:size])
            if not got:
                raise TerminalError("connection closed")
            have += got
        if status < 0:
            raise TerminalError(status)
        if echo != command:
            raise TerminalError("wrong echo")
        return size

    def _value(self, command, body=b""):
        self._send(command, body)
        if self._small_reply(command) != 16:
            raise TerminalError("not a value reply")
        return _U32.unpack_from(self._buf, 12)[0]

    def _list_head(self, command, record_size):
        """Reads the header of a record list reply; returns (count, bytes)."""
        self._recv_exact(self._view[:16])
        length, echo, status, count = _LIST_HEAD.unpack_from(self._buf)
        if status < 0:
            raise TerminalError(status)
        if echo != command or length - 12 != count * record_size:
            raise TerminalError("malformed reply")
        return count, length - 12

    def _array(self, command, body, dtype):
        self._send(command, body)
        count, nbytes = self._list_head(command, 60)
        raw = np.empty(nbytes, np.uint8)
        self._recv_exact(memoryview(raw))
        return np.frombuffer(raw, dtype)

    # ---- the calls ---------------------------------------------------------

    def symbol_info_tick(self, symbol):
        self._send(172, _string(symbol))
        if self._small_reply(172) != 72:
            raise TerminalError("not a tick reply")
        return Tick._make(_TICK.unpack_from(self._buf, 12))

    def copy_rates_range(self, symbol, timeframe, date_from, date_to):
        return self._array(107, _string(symbol) + _RATES_ARGS.pack(timeframe, date_from, date_to),
                           BAR_DTYPE)

    def copy_ticks_range(self, symbol, date_from, date_to, flags):
        return self._array(105, _string(symbol) + _TICKS_ARGS.pack(date_from * 1000, date_to * 1000, flags),
                           TICK_DTYPE)

    def positions_get(self):
        self._send(121)
        count, nbytes = self._list_head(121, 320)
        data = bytearray(nbytes)
        self._recv_exact(memoryview(data))
        make = TradePosition._make
        return tuple([
            make(fields[:16] + (_text(fields[16]), _text(fields[17]), _text(fields[18])))
            for fields in _POSITION.iter_unpack(data)
        ])
