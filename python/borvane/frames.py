"""Bars and ticks as pandas DataFrames.

Needs pandas (``pip install borvane[pandas]``)::

    import borvane as brv
    from borvane.frames import rates_frame

    bars = rates_frame(brv.copy_rates_from_pos("EURUSD", 16385, 0, 100))
    bars["close"].resample("4h").last()

The frames are indexed by a timezone-aware UTC ``DatetimeIndex`` named
"time": bar times in seconds, tick times in milliseconds (from
``time_msc``). The numeric columns are views of the array that the module
returned, not copies, so a frame of a million bars costs only its index.
"""

from __future__ import annotations

from typing import Literal, Optional, Sequence

import numpy as np
import numpy.typing as npt
import pandas as pd

__all__ = ["rates_frame", "ticks_frame"]

RATE_COLUMNS = ("open", "high", "low", "close", "tick_volume", "spread", "real_volume")
TICK_COLUMNS = ("bid", "ask", "last", "volume", "flags", "volume_real")


def _frame(records: Optional[npt.NDArray[np.void]], what: str, time_field: str, unit: Literal["s", "ms"],
           columns: Sequence[str]) -> pd.DataFrame:
    if records is None:
        raise ValueError("no %s to convert: the call that should have returned them failed "
                         "(see borvane.last_error())" % what)
    missing = [name for name in (time_field,) + tuple(columns) if name not in (records.dtype.names or ())]
    if missing:
        raise ValueError("not an array of %s: no field %s" % (what, ", ".join(missing)))
    stamps = np.asarray(records[time_field], dtype=np.int64)
    index = pd.DatetimeIndex(pd.to_datetime(stamps, unit=unit, utc=True), name="time")
    # One block per column, each a strided view of the records: nothing is
    # copied, and the frame keeps the array alive.
    return pd.DataFrame({name: records[name] for name in columns}, index=index, copy=False)


def rates_frame(rates: Optional[npt.NDArray[np.void]]) -> pd.DataFrame:
    """Bars (from the ``copy_rates_*`` functions) as a DataFrame indexed by
    bar time (UTC), with columns open, high, low, close, tick_volume, spread
    and real_volume."""
    return _frame(rates, "bars", "time", "s", RATE_COLUMNS)


def ticks_frame(ticks: Optional[npt.NDArray[np.void]]) -> pd.DataFrame:
    """Ticks (from the ``copy_ticks_*`` functions) as a DataFrame indexed by
    tick time in milliseconds (UTC), with columns bid, ask, last, volume,
    flags and volume_real."""
    return _frame(ticks, "ticks", "time_msc", "ms", TICK_COLUMNS)
