"""Wire records and messages of the terminal protocol, built with struct.

Every layout is typed in from the protocol's record tables as "offset name
kind" entries, independently of the module's C++ structures, and checks at
import that its fields tile the record; "#n" marks a field whose place in the
Python record type differs from its place in the record.  Builders take
keyword values (the rest 0, false or empty; unread bytes 0xFF); a text is a
str or raw bytes, a flag a bool or any byte value.
"""

import struct

# ---------------------------------------------------------------- texts

def text(units, s):
    """A fixed text field of `units` UTF-16 units holding `s` (str or raw bytes)."""
    raw = bytes(s) if isinstance(s, (bytes, bytearray)) else s.encode("utf-16-le")
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

_SCALARS = {"u8": "<B", "flag": "<B", "u32": "<I", "i32": "<i", "u64": "<Q", "i64": "<q", "f64": "<d"}


class Field:
    __slots__ = ("offset", "name", "kind", "index", "width")

    def __init__(self, offset, name, kind, index):
        self.offset, self.name, self.kind, self.index = offset, name, kind, index
        if kind.startswith("text"):
            self.width = 2 * int(kind[4:])
        elif kind.startswith("pad"):
            self.width = int(kind[3:])
        else:
            self.width = struct.calcsize(_SCALARS[kind])


class Layout:
    """A packed record from "offset name kind[ #index]" entries, comma-separated.

    kind is one of u8, flag, u32, i32, u64, i64, f64, textN (N UTF-16
    units) or padN (N bytes the module does not read).
    """

    def __init__(self, name, size, table):
        self.name, self.size, self.fields = name, size, []
        end = 0
        for entry in table.split(","):
            offset, fname, kind, *index = entry.split()
            f = Field(int(offset), fname, kind, int(index[0][1:]) if index else None)
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

    def build(self, **values):
        """The record's bytes with the given field values, the rest zero."""
        unknown = set(values) - set(self.by_name)
        if unknown:
            raise TypeError("%s has no field %s" % (self.name, ", ".join(sorted(unknown))))
        buf = bytearray(self.size)
        for f in self.fields:
            if f.kind.startswith("pad"):
                buf[f.offset:f.offset + f.width] = b"\xff" * f.width
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
            if f.kind.startswith("text"):
                out[f.name] = read_text(data[f.offset:f.offset + f.width])
            elif not f.kind.startswith("pad"):
                (v,) = struct.unpack_from(_SCALARS[f.kind], data, f.offset)
                out[f.name] = bool(v) if f.kind == "flag" else v
        return out

    def values(self, data):
        """The tuple the module must make of the record: parse() in Python field order."""
        d = self.parse(data)
        return tuple(d[n] for n in self.names)

    def defaults(self):
        return {f.name: ("" if f.kind.startswith("text") else False if f.kind == "flag"
                         else 0.0 if f.kind == "f64" else 0) for f in self.by_name.values()}

    def sample(self, seed=0):
        """A value for every field, each unlike its neighbours' bytes.

        Flags alternate between 0 and a non-zero byte (1, 2 or 255); with seed
        0 the first unsigned 64-bit field has all bits set; every other text
        fills its whole field without a NUL, the others hold non-ASCII units.
        """
        values, first_u64 = {}, seed == 0
        for i, f in enumerate(self.fields):
            k = i + seed
            if f.kind == "flag":
                values[f.name] = 0 if k % 2 == 0 else (1, 2, 255)[(k // 2) % 3]
            elif f.kind == "u32":
                values[f.name] = (0xF1E2D3C4 + 0x01020304 * k) & 0xFFFFFFFF
            elif f.kind == "i32":
                values[f.name] = -(0x01020304 + 0x10101 * k)
            elif f.kind == "u64":
                values[f.name] = 2**64 - 1 if first_u64 else (0xFEDCBA9876543210 + 0x0101010101010101 * k) & (2**64 - 1)
                first_u64 = False
            elif f.kind == "i64":
                values[f.name] = -(0x0102030405060708 + 0x1000001 * k)
            elif f.kind == "f64":
                values[f.name] = (-1) ** k * (k + 1.0) * 1234.5678
            elif f.kind.startswith("text"):
                units = f.width // 2
                values[f.name] = chr(0x41 + k % 26) * units if k % 2 == 0 else \
                    ("t%d-\u00e9\u20ac\U0001F600" % k)[:units - 2]
        return values


def check_record(obj, layout, raw, type_name):
    """`obj` is the record type `type_name` holding exactly what `raw` holds."""
    assert type(obj).__name__ == type_name
    assert list(obj._asdict()) == layout.names
    assert tuple(obj) == layout.values(raw)
    kinds = {"flag": bool, "f64": float}
    for f in layout.by_name.values():
        expected = str if f.kind.startswith("text") else kinds.get(f.kind, int)
        assert type(obj[f.index]) is expected, f.name


# ------------------------------------------------------ record tables

ACCOUNT = Layout("account", 851, """
    0 login u64, 8 trade_mode u32, 12 leverage u32, 16 limit_orders u32, 20 margin_so_mode u32,
    24 trade_allowed flag, 25 trade_expert flag, 26 margin_mode u32, 30 currency_digits u32,
    34 fifo_close flag, 35 balance f64, 43 credit f64, 51 profit f64, 59 equity f64, 67 margin f64,
    75 margin_free f64, 83 margin_level f64, 91 margin_so_call f64, 99 margin_so_so f64,
    107 margin_initial f64, 115 margin_maintenance f64, 123 assets f64, 131 liabilities f64,
    139 commission_blocked f64, 147 name text128, 403 server text64, 531 currency text32,
    595 company text128""")

#: build first, hcid after maxbars, tradeapi_disabled the last byte
TERMINAL = Layout("terminal", 3162, """
    0 build u32 #10, 4 community_account flag #0, 5 community_connection flag #1, 6 connected flag #2,
    7 dlls_allowed flag #3, 8 trade_allowed flag #4, 9 email_enabled flag #6, 10 ftp_enabled flag #7,
    11 notifications_enabled flag #8, 12 maxbars u32 #11, 16 hcid flag #9, 17 codepage i32 #12,
    21 ping_last i32 #13, 25 community_balance f64 #14, 33 retransmission f64 #15,
    41 company text260 #16, 561 name text260 #17, 1081 language text260 #18, 1601 path text260 #19,
    2121 data_path text260 #20, 2641 commondata_path text260 #21, 3161 tradeapi_disabled flag #5""")

#: name is last in the record, index 93 in SymbolInfo
SYMBOL = Layout("symbol", 2993, """
    0 custom flag, 1 chart_mode u32, 5 select flag, 6 visible flag, 7 session_deals u64,
    15 session_buy_orders u64, 23 session_sell_orders u64, 31 volume u64, 39 volumehigh u64,
    47 volumelow u64, 55 time i64, 63 digits u32, 67 spread i32, 71 spread_float flag,
    72 ticks_bookdepth u32, 76 trade_calc_mode u32, 80 trade_mode u32, 84 start_time i64,
    92 expiration_time i64, 100 trade_stops_level i32, 104 trade_freeze_level i32,
    108 trade_exemode u32, 112 swap_mode u32, 116 swap_rollover3days u32,
    120 margin_hedged_use_leg flag, 121 expiration_mode i32, 125 filling_mode i32, 129 order_mode i32,
    133 order_gtc_mode u32, 137 option_mode u32, 141 option_right u32, 145 bid f64, 153 bidhigh f64,
    161 bidlow f64, 169 ask f64, 177 askhigh f64, 185 asklow f64, 193 last f64, 201 lasthigh f64,
    209 lastlow f64, 217 volume_real f64, 225 volumehigh_real f64, 233 volumelow_real f64,
    241 option_strike f64, 249 point f64, 257 trade_tick_value f64, 265 trade_tick_value_profit f64,
    273 trade_tick_value_loss f64, 281 trade_tick_size f64, 289 trade_contract_size f64,
    297 trade_accrued_interest f64, 305 trade_face_value f64, 313 trade_liquidity_rate f64,
    321 volume_min f64, 329 volume_max f64, 337 volume_step f64, 345 volume_limit f64,
    353 swap_long f64, 361 swap_short f64, 369 margin_initial f64, 377 margin_maintenance f64,
    385 session_volume f64, 393 session_turnover f64, 401 session_interest f64,
    409 session_buy_orders_volume f64, 417 session_sell_orders_volume f64, 425 session_open f64,
    433 session_close f64, 441 session_aw f64, 449 session_price_settlement f64,
    457 session_price_limit_min f64, 465 session_price_limit_max f64, 473 margin_hedged f64,
    481 price_change f64, 489 price_volatility f64, 497 price_theoretical f64,
    505 price_greeks_delta f64, 513 price_greeks_theta f64, 521 price_greeks_gamma f64,
    529 price_greeks_vega f64, 537 price_greeks_rho f64, 545 price_greeks_omega f64,
    553 price_sensitivity f64, 561 basis text32, 625 category text64, 753 currency_base text16,
    785 currency_profit text16, 817 currency_margin text16, 849 bank text256, 1361 description text64,
    1489 exchange text64, 1617 formula text256, 2129 isin text16, 2161 page text256 #94,
    2673 path text128 #95, 2929 name text32 #93""")
#: terminals below build 2364 send the record without its name
SYMBOL_LEGACY_SIZE = 2929

#: symbol_info_tick and the tick arrays
TICK = Layout("tick", 60, """
    0 time i64, 8 bid f64, 16 ask f64, 24 last f64, 32 volume u64, 40 time_msc i64, 48 flags u32,
    52 volume_real f64""")

BAR = Layout("bar", 60, """
    0 time i64, 8 open f64, 16 high f64, 24 low f64, 32 close f64, 40 tick_volume u64, 48 spread i32,
    52 real_volume u64""")

#: bytes 104..111 are not read
POSITION = Layout("position", 320, """
    0 ticket u64, 8 time i64, 16 time_msc i64, 24 time_update i64, 32 time_update_msc i64,
    40 type u32, 44 magic u64, 52 identifier u64, 60 reason u32, 64 volume f64, 72 price_open f64,
    80 sl f64, 88 tp f64, 96 price_current f64, 104 _unused pad8, 112 swap f64, 120 profit f64,
    128 symbol text32, 192 comment text32, 256 external_id text32""")

#: active and history orders
ORDER = Layout("order", 340, """
    0 ticket u64, 8 time_setup i64, 16 time_setup_msc i64, 24 time_done i64, 32 time_done_msc i64,
    40 time_expiration i64, 48 type u32, 52 type_time u32, 56 type_filling u32, 60 state u32,
    64 magic u64, 72 position_id u64, 80 position_by_id u64, 88 reason u32, 92 volume_initial f64,
    100 volume_current f64, 108 price_open f64, 116 sl f64, 124 tp f64, 132 price_current f64,
    140 price_stoplimit f64, 148 symbol text32, 212 comment text32, 276 external_id text32""")

DEAL = Layout("deal", 300, """
    0 ticket u64, 8 order u64, 16 time i64, 24 time_msc i64, 32 type u32, 36 entry u32, 40 magic u64,
    48 position_id u64, 56 reason u32, 60 volume f64, 68 price f64, 76 commission f64, 84 swap f64,
    92 profit f64, 100 fee f64, 108 symbol text32, 172 comment text32, 236 external_id text32""")

BOOK_ENTRY = Layout("book entry", 28, "0 type u32, 4 price f64, 12 volume u64, 20 volume_dbl f64")

#: sent by order_check and order_send
TRADE_REQUEST = Layout("trade request", 232, """
    0 action u32, 4 magic u64, 12 order u64, 20 symbol text32, 84 volume f64, 92 price f64,
    100 stoplimit f64, 108 sl f64, 116 tp f64, 124 deviation u64, 132 type u32, 136 type_filling u32,
    140 type_time u32, 144 expiration i64, 152 comment text32, 216 position u64, 224 position_by u64""")

#: OrderCheckResult without its request
CHECK_RESULT = Layout("check result", 252, """
    0 retcode u32, 4 balance f64, 12 equity f64, 20 profit f64, 28 margin f64, 36 margin_free f64,
    44 margin_level f64, 52 comment text100""")

#: OrderSendResult without its request
SEND_RESULT = Layout("send result", 260, """
    0 retcode u32, 4 deal u64, 12 order u64, 20 volume f64, 28 price f64, 36 bid f64, 44 ask f64,
    52 comment text100, 252 request_id u32, 256 retcode_external i32""")

# ------------------------------------------------------------ builders

account, terminal, symbol, tick, bar = ACCOUNT.build, TERMINAL.build, SYMBOL.build, TICK.build, BAR.build
position, order, deal, book_entry = POSITION.build, ORDER.build, DEAL.build, BOOK_ENTRY.build
trade_request, parse_trade_request = TRADE_REQUEST.build, TRADE_REQUEST.parse
check_result, send_result = CHECK_RESULT.build, SEND_RESULT.build
