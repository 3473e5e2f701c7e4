"""Bars and ticks as numpy arrays, against the fake terminal: the arrays are
laid over the received records, in the dtypes of the record tables."""

import datetime
import gc
import struct
import warnings

import numpy as np
import pytest

import borvane as brv
import records as R
from records import frame_request, pack_string

SUCCESS = (1, "Success")
INVALID = (-2, "Invalid arguments")

UTC = datetime.timezone.utc
JAN10 = datetime.datetime(2020, 1, 10, tzinfo=UTC)  # 1578614400


def packed_dtype(layout):
    """The unaligned structured dtype of a record table."""
    kinds = {"i32": "<i4", "u32": "<u4", "i64": "<i8", "u64": "<u8", "f64": "<f8"}
    return np.dtype({"names": layout.names, "formats": [kinds[f.kind] for f in layout.fields],
                     "offsets": [f.offset for f in layout.fields], "itemsize": layout.size})


BAR_DTYPE, TICK_DTYPE = packed_dtype(R.BAR), packed_dtype(R.TICK)

# name, a valid call, command, layout, dtype
FUNCTIONS = {
    "copy_rates_from": (("EURUSD", 1, 0, 10), 106, R.BAR, BAR_DTYPE),
    "copy_rates_from_pos": (("EURUSD", 1, 0, 10), 108, R.BAR, BAR_DTYPE),
    "copy_rates_range": (("EURUSD", 1, 0, 10), 107, R.BAR, BAR_DTYPE),
    "copy_ticks_from": (("EURUSD", 0, 10, 0), 104, R.TICK, TICK_DTYPE),
    "copy_ticks_range": (("EURUSD", 0, 10, 0), 105, R.TICK, TICK_DTYPE),
}


@pytest.fixture(params=sorted(FUNCTIONS))
def function(request):
    args, cmd, layout, dtype = FUNCTIONS[request.param]
    return getattr(brv, request.param), args, cmd, layout, dtype


def make_records(layout, n):
    return [layout.build(**layout.sample(i)) for i in range(n)]


def check_array(array, layout, dtype, raws):
    assert isinstance(array, np.ndarray) and array.shape == (len(raws),)
    # the dtype is the record table's, field for field, over the received bytes
    assert array.dtype == dtype and array.dtype.flags == dtype.flags
    assert array.tobytes() == b"".join(raws)


# ------------------------------------------------------------ request bytes

@pytest.mark.parametrize("name, args, cmd, tail", [
    ("copy_rates_from", ("EURUSD", 16385, JAN10, 7), 106, struct.pack("<iqi", 16385, 1578614400, 7)),
    ("copy_rates_from_pos", ("EURUSD", 16385, 2**31 - 1, -2**31), 108,
     struct.pack("<iii", 16385, 2**31 - 1, -2**31)),
    ("copy_rates_range", ("EURUSD", 60, -2**31, 2**31 - 1), 107,
     struct.pack("<iqq", 60, -2**31, 2**31 - 1)),
    ("copy_ticks_from", ("EURUSD", JAN10 + datetime.timedelta(milliseconds=500), -1, 2**31 - 1), 104,
     struct.pack("<qii", 1578614400000, -1, 2**31 - 1)),
    ("copy_ticks_range", ("EURUSD", -2**31, 2**31 - 1, -3), 105,
     struct.pack("<qqi", -2**31 * 1000, (2**31 - 1) * 1000, -3)),
], ids=lambda v: v if isinstance(v, str) else None)
def test_request_bytes(connected, name, args, cmd, tail):
    connected.on(cmd, 0, records=[])
    assert getattr(brv, name)(*args) is not None
    assert brv.last_error() == SUCCESS
    body = pack_string(args[0]) + tail
    assert [r.raw for r in connected.requests()] == [frame_request(cmd, body)]


# ------------------------------------------------------------------- arrays

@pytest.mark.parametrize("n", [0, 1, 300])  # under and over the 8192-byte direct read
def test_array_over_the_records(connected, function, n):
    fn, args, cmd, layout, dtype = function
    raws = make_records(layout, n)
    connected.on(cmd, 0, records=raws)
    check_array(fn(*args), layout, dtype, raws)
    assert brv.last_error() == SUCCESS


def test_arrays_are_read_only_owners_sharing_the_layout(connected, function):
    fn, args, cmd, layout, dtype = function
    connected.on(cmd, 0, records=make_records(layout, 2))
    a, b = fn(*args), fn(*args)
    # the block belongs to the array through its base, which numpy releases
    # with it: no "memory policy is not set" warning (enabled in conftest)
    assert type(a.base).__name__ == "PyCapsule" and not a.flags.writeable
    assert a.dtype is b.dtype
    assert a.__array_interface__["data"][0] != b.__array_interface__["data"][0]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        del a, b
        gc.collect()
    assert [str(w.message) for w in caught] == []


# ---------------------------------------------------------------- arguments

TIME_POSITIONS = {"copy_rates_from": [2], "copy_rates_from_pos": [], "copy_rates_range": [2, 3],
                  "copy_ticks_from": [1], "copy_ticks_range": [1, 2]}
INT_POSITIONS = {"copy_rates_from": [1, 3], "copy_rates_from_pos": [1, 2, 3], "copy_rates_range": [1],
                 "copy_ticks_from": [2, 3], "copy_ticks_range": [3]}


class BadStamp(datetime.datetime):
    def timestamp(self):
        raise ValueError("no time")


# one per reason: neither int, float nor datetime; out of the 32-bit range as
# an int, a float or a datetime; not a number; a timestamp() that raises
BAD_TIMES = [datetime.date(2020, 1, 10), np.int64(5), 2**31, -2**31 - 1, float("nan"), 3e9,
             datetime.datetime(2100, 1, 1, tzinfo=UTC), BadStamp(2001, 1, 1)]
BAD_INTS = [1.0, 2**31, -2**31 - 1]


def invalid_calls(name):
    args = FUNCTIONS[name][0]
    yield args[:3]
    yield args + (0,)
    for pos in TIME_POSITIONS[name]:
        for bad in BAD_TIMES:
            yield args[:pos] + (bad,) + args[pos + 1:]
    for pos in INT_POSITIONS[name]:
        for bad in BAD_INTS:
            yield args[:pos] + (bad,) + args[pos + 1:]


def test_invalid_arguments(connected, function):
    fn = function[0]
    for args in invalid_calls(fn.__name__):
        assert fn(*args) is None, args
        assert brv.last_error() == INVALID, args
    assert connected.requests() == []


# ------------------------------------------------------------------- pandas

def test_data_frames(connected, function):
    pytest.importorskip("pandas")
    from borvane import frames

    fn, args, cmd, layout, dtype = function
    bars = dtype is BAR_DTYPE
    # times in pandas' range (the samples' own are not): hours from JAN10,
    # and for ticks a millisecond part
    fields = [{"time": 1578614400 + 3600 * i} for i in range(3)]
    if not bars:
        for i, f in enumerate(fields):
            f["time_msc"] = f["time"] * 1000 + i
    raws = [layout.build(**dict(layout.sample(i), **f)) for i, f in enumerate(fields)]
    connected.on(cmd, 0, records=raws)
    array = fn(*args)
    frame = (frames.rates_frame if bars else frames.ticks_frame)(array)
    stamps = array["time"] * 1000 if bars else array["time_msc"]
    assert str(frame.index.tz) == "UTC" and frame.index.name == "time"
    assert [t.value // 10**6 for t in frame.index] == stamps.tolist()  # ns to ms
    assert list(frame.columns) == [n for n in dtype.names if n not in ("time", "time_msc")]
    for name in frame.columns:
        assert frame[name].tolist() == array[name].tolist(), name
        assert np.shares_memory(frame[name].to_numpy(), array), name  # a view, not a copy
    with pytest.raises(ValueError, match="last_error"):
        frames.rates_frame(None)
    with pytest.raises(ValueError, match="no field time_msc"):
        frames.ticks_frame(np.zeros(1, BAR_DTYPE))
