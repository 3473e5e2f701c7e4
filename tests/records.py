"""Wire records and messages of the terminal protocol, built with struct.

Every layout below is typed in from the protocol's record tables, with the
byte offset of each field written out, so that the tests check the module's
wire bytes independently of its C++ structures.  A layout verifies at import
that its fields tile the record exactly (each field starts where the one
before it ends), so a mistyped offset or width fails loudly here instead of
hiding in a test.

Builders take keyword values; every field not given is 0, 0.0, false or the
empty text.  Unknown keywords raise TypeError.  Text values may be a str
(UTF-16LE, NUL-padded to the field; a text filling the whole field carries
no NUL) or raw bytes of at most the field's width (padded with zero bytes),
for tests that need garbage in a text field.  A flag accepts a bool or any
byte value (2 must read as true).
"""

import struct

__all__ = [
    "Layout", "text", "pack_string", "unpack_string", "pack_value",
    "pack_record_list", "pack_version", "frame_request", "frame_reply",
    "ACCOUNT", "TERMINAL", "SYMBOL", "SYMBOL_LEGACY_SIZE", "TICK", "BAR",
    "POSITION", "ORDER", "DEAL", "BOOK_ENTRY", "TRADE_REQUEST",
    "CHECK_RESULT", "SEND_RESULT",
    "account", "terminal", "symbol", "symbol_legacy", "tick", "bar",
    "position", "order", "deal", "book_entry", "trade_request",
    "check_result", "send_result", "parse_trade_request",
]

# ---------------------------------------------------------------- texts

def text(units, s):
    """A fixed text field of `units` UTF-16 units holding `s`.

    The text is NUL-padded to the field; a text of exactly `units` units
    fills the field without a NUL.  Longer texts raise ValueError.
    """
    if isinstance(s, (bytes, bytearray)):
        raw = bytes(s)
    else:
        raw = s.encode("utf-16-le")
    if len(raw) > 2 * units:
        raise ValueError("text of %d bytes does not fit %d units" % (len(raw), units))
    return raw + b"\0" * (2 * units - len(raw))


def read_text(raw):
    """The str of a text field: its units up to the first NUL unit."""
    for i in range(0, len(raw) - 1, 2):
        if raw[i] == 0 and raw[i + 1] == 0:
            raw = raw[:i]
            break
    return raw.decode("utf-16-le", "surrogatepass")


def pack_string(s):
    """A string on the wire: u32 count of UTF-16 units, then the units."""
    raw = s.encode("utf-16-le", "surrogatepass")
    return struct.pack("<I", len(raw) // 2) + raw


def unpack_string(data, offset=0):
    """Read a wire string at `offset`; returns (str, offset after it)."""
    (n,) = struct.unpack_from("<I", data, offset)
    start = offset + 4
    end = start + 2 * n
    if end > len(data):
        raise ValueError("string of %d units runs past the data" % n)
    return data[start:end].decode("utf-16-le", "surrogatepass"), end


# ------------------------------------------------------------- messages

def frame_request(cmd, body=b""):
    """A request: u32 length (4 + body), u32 command, body."""
    return struct.pack("<II", 4 + len(body), cmd) + body


def frame_reply(echo, status, payload=b""):
    """A reply: u32 length (8 + payload), u32 echo, i32 status, payload."""
    return struct.pack("<IIi", 8 + len(payload), echo, status) + payload


def pack_value(value):
    """Payload of a value reply: one u32."""
    return struct.pack("<I", value)


def pack_record_list(records):
    """Payload of a record list reply: u32 count, then the records."""
    records = list(records)
    return struct.pack("<I", len(records)) + b"".join(records)


def pack_version(version, build, text_value):
    """Payload of the version reply: u32 version, u32 build, string."""
    return struct.pack("<II", version, build) + pack_string(text_value)


# -------------------------------------------------------------- layouts

_SCALARS = {
    "u8": "<B", "flag": "<B", "u32": "<I", "i32": "<i",
    "u64": "<Q", "i64": "<q", "f64": "<d",
}
_DEFAULTS = {"u8": 0, "flag": False, "u32": 0, "i32": 0, "u64": 0, "i64": 0, "f64": 0.0}


def _width(kind):
    if kind.startswith("text"):
        return 2 * int(kind[4:])
    if kind.startswith("pad"):
        return int(kind[3:] or 8)
    return struct.calcsize(_SCALARS[kind])


class Field:
    __slots__ = ("offset", "name", "kind", "index", "width")

    def __init__(self, offset, name, kind, index):
        self.offset, self.name, self.kind, self.index = offset, name, kind, index
        self.width = _width(kind)

    def __repr__(self):
        return "Field(%d, %r, %r, %r)" % (self.offset, self.name, self.kind, self.index)


class Layout:
    """A packed record: (offset, name, kind[, Python index]) rows in record order.

    kind is one of u8, flag, u32, i32, u64, i64, f64, textN (N UTF-16
    units) or padN (N bytes the module does not read).  The Python index is
    the field's position in the record type when it differs from the record
    order; it defaults to the order of the named fields.
    """

    def __init__(self, name, size, rows):
        self.name = name
        self.size = size
        self.fields = []
        end = 0
        for n, row in enumerate(rows):
            f = Field(row[0], row[1], row[2], row[3] if len(row) > 3 else None)
            if f.offset != end:
                raise AssertionError("%s.%s starts at %d, previous field ends at %d"
                                     % (name, f.name, f.offset, end))
            end = f.offset + f.width
            self.fields.append(f)
        if end != size:
            raise AssertionError("%s fields end at %d, record is %d bytes" % (name, end, size))
        named = [f for f in self.fields if not f.kind.startswith("pad")]
        for i, f in enumerate(named):
            if f.index is None:
                f.index = i
        if sorted(f.index for f in named) != list(range(len(named))):
            raise AssertionError("%s: Python indices are not 0..%d" % (name, len(named) - 1))
        self.by_name = {f.name: f for f in named}
        #: field names in the order of the Python record type
        self.names = [f.name for f in sorted(named, key=lambda f: f.index)]

    def offset(self, name):
        return self.by_name[name].offset

    def width(self, name):
        return self.by_name[name].width

    def build(self, **values):
        """The record's bytes with the given field values, the rest zero."""
        unknown = set(values) - set(self.by_name)
        if unknown:
            raise TypeError("%s has no field %s" % (self.name, ", ".join(sorted(unknown))))
        buf = bytearray(self.size)
        for name, value in values.items():
            f = self.by_name[name]
            if f.kind.startswith("text"):
                buf[f.offset:f.offset + f.width] = text(f.width // 2, value)
            else:
                struct.pack_into(_SCALARS[f.kind], buf, f.offset, int(value) if f.kind == "flag" else value)
        return bytes(buf)

    def parse(self, data):
        """A dict of the record's field values (texts up to their NUL, flags as bool)."""
        if len(data) != self.size:
            raise ValueError("%s record is %d bytes, got %d" % (self.name, self.size, len(data)))
        out = {}
        for f in self.fields:
            if f.kind.startswith("pad"):
                continue
            if f.kind.startswith("text"):
                out[f.name] = read_text(data[f.offset:f.offset + f.width])
            else:
                (v,) = struct.unpack_from(_SCALARS[f.kind], data, f.offset)
                out[f.name] = bool(v) if f.kind == "flag" else v
        return out

    def values(self, data):
        """The tuple the module must make of the record: parse() in Python field order."""
        d = self.parse(data)
        return tuple(d[n] for n in self.names)

    def defaults(self):
        return {f.name: ("" if f.kind.startswith("text") else _DEFAULTS[f.kind])
                for f in self.fields if not f.kind.startswith("pad")}


# ------------------------------------------------------ record tables

#: account record, 851 bytes; record order = AccountInfo order
ACCOUNT = Layout("account", 851, [
    (0, "login", "u64", 0),
    (8, "trade_mode", "u32", 1),
    (12, "leverage", "u32", 2),
    (16, "limit_orders", "u32", 3),
    (20, "margin_so_mode", "u32", 4),
    (24, "trade_allowed", "flag", 5),
    (25, "trade_expert", "flag", 6),
    (26, "margin_mode", "u32", 7),
    (30, "currency_digits", "u32", 8),
    (34, "fifo_close", "flag", 9),
    (35, "balance", "f64", 10),
    (43, "credit", "f64", 11),
    (51, "profit", "f64", 12),
    (59, "equity", "f64", 13),
    (67, "margin", "f64", 14),
    (75, "margin_free", "f64", 15),
    (83, "margin_level", "f64", 16),
    (91, "margin_so_call", "f64", 17),
    (99, "margin_so_so", "f64", 18),
    (107, "margin_initial", "f64", 19),
    (115, "margin_maintenance", "f64", 20),
    (123, "assets", "f64", 21),
    (131, "liabilities", "f64", 22),
    (139, "commission_blocked", "f64", 23),
    (147, "name", "text128", 24),
    (403, "server", "text64", 25),
    (531, "currency", "text32", 26),
    (595, "company", "text128", 27),
])

#: terminal record, 3162 bytes; build first, hcid after maxbars,
#: tradeapi_disabled the last byte (fourth column: TerminalInfo index)
TERMINAL = Layout("terminal", 3162, [
    (0, "build", "u32", 10),
    (4, "community_account", "flag", 0),
    (5, "community_connection", "flag", 1),
    (6, "connected", "flag", 2),
    (7, "dlls_allowed", "flag", 3),
    (8, "trade_allowed", "flag", 4),
    (9, "email_enabled", "flag", 6),
    (10, "ftp_enabled", "flag", 7),
    (11, "notifications_enabled", "flag", 8),
    (12, "maxbars", "u32", 11),
    (16, "hcid", "flag", 9),
    (17, "codepage", "i32", 12),
    (21, "ping_last", "i32", 13),
    (25, "community_balance", "f64", 14),
    (33, "retransmission", "f64", 15),
    (41, "company", "text260", 16),
    (561, "name", "text260", 17),
    (1081, "language", "text260", 18),
    (1601, "path", "text260", 19),
    (2121, "data_path", "text260", 20),
    (2641, "commondata_path", "text260", 21),
    (3161, "tradeapi_disabled", "flag", 5),
])

#: symbol record, 2993 bytes; name is last in the record, index 93 in SymbolInfo
SYMBOL = Layout("symbol", 2993, [
    (0, "custom", "flag", 0),
    (1, "chart_mode", "u32", 1),
    (5, "select", "flag", 2),
    (6, "visible", "flag", 3),
    (7, "session_deals", "u64", 4),
    (15, "session_buy_orders", "u64", 5),
    (23, "session_sell_orders", "u64", 6),
    (31, "volume", "u64", 7),
    (39, "volumehigh", "u64", 8),
    (47, "volumelow", "u64", 9),
    (55, "time", "i64", 10),
    (63, "digits", "u32", 11),
    (67, "spread", "i32", 12),
    (71, "spread_float", "flag", 13),
    (72, "ticks_bookdepth", "u32", 14),
    (76, "trade_calc_mode", "u32", 15),
    (80, "trade_mode", "u32", 16),
    (84, "start_time", "i64", 17),
    (92, "expiration_time", "i64", 18),
    (100, "trade_stops_level", "i32", 19),
    (104, "trade_freeze_level", "i32", 20),
    (108, "trade_exemode", "u32", 21),
    (112, "swap_mode", "u32", 22),
    (116, "swap_rollover3days", "u32", 23),
    (120, "margin_hedged_use_leg", "flag", 24),
    (121, "expiration_mode", "i32", 25),
    (125, "filling_mode", "i32", 26),
    (129, "order_mode", "i32", 27),
    (133, "order_gtc_mode", "u32", 28),
    (137, "option_mode", "u32", 29),
    (141, "option_right", "u32", 30),
    (145, "bid", "f64", 31),
    (153, "bidhigh", "f64", 32),
    (161, "bidlow", "f64", 33),
    (169, "ask", "f64", 34),
    (177, "askhigh", "f64", 35),
    (185, "asklow", "f64", 36),
    (193, "last", "f64", 37),
    (201, "lasthigh", "f64", 38),
    (209, "lastlow", "f64", 39),
    (217, "volume_real", "f64", 40),
    (225, "volumehigh_real", "f64", 41),
    (233, "volumelow_real", "f64", 42),
    (241, "option_strike", "f64", 43),
    (249, "point", "f64", 44),
    (257, "trade_tick_value", "f64", 45),
    (265, "trade_tick_value_profit", "f64", 46),
    (273, "trade_tick_value_loss", "f64", 47),
    (281, "trade_tick_size", "f64", 48),
    (289, "trade_contract_size", "f64", 49),
    (297, "trade_accrued_interest", "f64", 50),
    (305, "trade_face_value", "f64", 51),
    (313, "trade_liquidity_rate", "f64", 52),
    (321, "volume_min", "f64", 53),
    (329, "volume_max", "f64", 54),
    (337, "volume_step", "f64", 55),
    (345, "volume_limit", "f64", 56),
    (353, "swap_long", "f64", 57),
    (361, "swap_short", "f64", 58),
    (369, "margin_initial", "f64", 59),
    (377, "margin_maintenance", "f64", 60),
    (385, "session_volume", "f64", 61),
    (393, "session_turnover", "f64", 62),
    (401, "session_interest", "f64", 63),
    (409, "session_buy_orders_volume", "f64", 64),
    (417, "session_sell_orders_volume", "f64", 65),
    (425, "session_open", "f64", 66),
    (433, "session_close", "f64", 67),
    (441, "session_aw", "f64", 68),
    (449, "session_price_settlement", "f64", 69),
    (457, "session_price_limit_min", "f64", 70),
    (465, "session_price_limit_max", "f64", 71),
    (473, "margin_hedged", "f64", 72),
    (481, "price_change", "f64", 73),
    (489, "price_volatility", "f64", 74),
    (497, "price_theoretical", "f64", 75),
    (505, "price_greeks_delta", "f64", 76),
    (513, "price_greeks_theta", "f64", 77),
    (521, "price_greeks_gamma", "f64", 78),
    (529, "price_greeks_vega", "f64", 79),
    (537, "price_greeks_rho", "f64", 80),
    (545, "price_greeks_omega", "f64", 81),
    (553, "price_sensitivity", "f64", 82),
    (561, "basis", "text32", 83),
    (625, "category", "text64", 84),
    (753, "currency_base", "text16", 85),
    (785, "currency_profit", "text16", 86),
    (817, "currency_margin", "text16", 87),
    (849, "bank", "text256", 88),
    (1361, "description", "text64", 89),
    (1489, "exchange", "text64", 90),
    (1617, "formula", "text256", 91),
    (2129, "isin", "text16", 92),
    (2161, "page", "text256", 94),
    (2673, "path", "text128", 95),
    (2929, "name", "text32", 93),
])
#: terminals below build 2364 send the record without its name
SYMBOL_LEGACY_SIZE = 2929

#: tick record, 60 bytes (symbol_info_tick and the tick arrays)
TICK = Layout("tick", 60, [
    (0, "time", "i64", 0),
    (8, "bid", "f64", 1),
    (16, "ask", "f64", 2),
    (24, "last", "f64", 3),
    (32, "volume", "u64", 4),
    (40, "time_msc", "i64", 5),
    (48, "flags", "u32", 6),
    (52, "volume_real", "f64", 7),
])

#: bar record, 60 bytes (the bar arrays)
BAR = Layout("bar", 60, [
    (0, "time", "i64"),
    (8, "open", "f64"),
    (16, "high", "f64"),
    (24, "low", "f64"),
    (32, "close", "f64"),
    (40, "tick_volume", "u64"),
    (48, "spread", "i32"),
    (52, "real_volume", "u64"),
])

#: position record, 320 bytes; bytes 104..111 are not read
POSITION = Layout("position", 320, [
    (0, "ticket", "u64", 0),
    (8, "time", "i64", 1),
    (16, "time_msc", "i64", 2),
    (24, "time_update", "i64", 3),
    (32, "time_update_msc", "i64", 4),
    (40, "type", "u32", 5),
    (44, "magic", "u64", 6),
    (52, "identifier", "u64", 7),
    (60, "reason", "u32", 8),
    (64, "volume", "f64", 9),
    (72, "price_open", "f64", 10),
    (80, "sl", "f64", 11),
    (88, "tp", "f64", 12),
    (96, "price_current", "f64", 13),
    (104, "_unused", "pad8"),
    (112, "swap", "f64", 14),
    (120, "profit", "f64", 15),
    (128, "symbol", "text32", 16),
    (192, "comment", "text32", 17),
    (256, "external_id", "text32", 18),
])

#: order record, 340 bytes (active and history orders)
ORDER = Layout("order", 340, [
    (0, "ticket", "u64", 0),
    (8, "time_setup", "i64", 1),
    (16, "time_setup_msc", "i64", 2),
    (24, "time_done", "i64", 3),
    (32, "time_done_msc", "i64", 4),
    (40, "time_expiration", "i64", 5),
    (48, "type", "u32", 6),
    (52, "type_time", "u32", 7),
    (56, "type_filling", "u32", 8),
    (60, "state", "u32", 9),
    (64, "magic", "u64", 10),
    (72, "position_id", "u64", 11),
    (80, "position_by_id", "u64", 12),
    (88, "reason", "u32", 13),
    (92, "volume_initial", "f64", 14),
    (100, "volume_current", "f64", 15),
    (108, "price_open", "f64", 16),
    (116, "sl", "f64", 17),
    (124, "tp", "f64", 18),
    (132, "price_current", "f64", 19),
    (140, "price_stoplimit", "f64", 20),
    (148, "symbol", "text32", 21),
    (212, "comment", "text32", 22),
    (276, "external_id", "text32", 23),
])

#: deal record, 300 bytes
DEAL = Layout("deal", 300, [
    (0, "ticket", "u64", 0),
    (8, "order", "u64", 1),
    (16, "time", "i64", 2),
    (24, "time_msc", "i64", 3),
    (32, "type", "u32", 4),
    (36, "entry", "u32", 5),
    (40, "magic", "u64", 6),
    (48, "position_id", "u64", 7),
    (56, "reason", "u32", 8),
    (60, "volume", "f64", 9),
    (68, "price", "f64", 10),
    (76, "commission", "f64", 11),
    (84, "swap", "f64", 12),
    (92, "profit", "f64", 13),
    (100, "fee", "f64", 14),
    (108, "symbol", "text32", 15),
    (172, "comment", "text32", 16),
    (236, "external_id", "text32", 17),
])

#: book entry record, 28 bytes
BOOK_ENTRY = Layout("book entry", 28, [
    (0, "type", "u32", 0),
    (4, "price", "f64", 1),
    (12, "volume", "u64", 2),
    (20, "volume_dbl", "f64", 3),
])

#: trade request record, 232 bytes, sent by order_check and order_send
TRADE_REQUEST = Layout("trade request", 232, [
    (0, "action", "u32"),
    (4, "magic", "u64"),
    (12, "order", "u64"),
    (20, "symbol", "text32"),
    (84, "volume", "f64"),
    (92, "price", "f64"),
    (100, "stoplimit", "f64"),
    (108, "sl", "f64"),
    (116, "tp", "f64"),
    (124, "deviation", "u64"),
    (132, "type", "u32"),
    (136, "type_filling", "u32"),
    (140, "type_time", "u32"),
    (144, "expiration", "i64"),
    (152, "comment", "text32"),
    (216, "position", "u64"),
    (224, "position_by", "u64"),
])

#: check result record, 252 bytes (OrderCheckResult without its request)
CHECK_RESULT = Layout("check result", 252, [
    (0, "retcode", "u32"),
    (4, "balance", "f64"),
    (12, "equity", "f64"),
    (20, "profit", "f64"),
    (28, "margin", "f64"),
    (36, "margin_free", "f64"),
    (44, "margin_level", "f64"),
    (52, "comment", "text100"),
])

#: send result record, 260 bytes (OrderSendResult without its request)
SEND_RESULT = Layout("send result", 260, [
    (0, "retcode", "u32"),
    (4, "deal", "u64"),
    (12, "order", "u64"),
    (20, "volume", "f64"),
    (28, "price", "f64"),
    (36, "bid", "f64"),
    (44, "ask", "f64"),
    (52, "comment", "text100"),
    (252, "request_id", "u32"),
    (256, "retcode_external", "i32"),
])

# ------------------------------------------------------------ builders

account = ACCOUNT.build
terminal = TERMINAL.build
symbol = SYMBOL.build
tick = TICK.build
bar = BAR.build
position = POSITION.build
order = ORDER.build
deal = DEAL.build
book_entry = BOOK_ENTRY.build
trade_request = TRADE_REQUEST.build
check_result = CHECK_RESULT.build
send_result = SEND_RESULT.build
parse_trade_request = TRADE_REQUEST.parse


def symbol_legacy(**values):
    """The 2929-byte symbol record of terminals below build 2364 (no name)."""
    if "name" in values:
        raise TypeError("the legacy symbol record has no name")
    return SYMBOL.build(**values)[:SYMBOL_LEGACY_SIZE]
