"""Windows only: Ctrl-C stops a call blocked on a silent terminal.

A Ctrl-C reaches Python through the console's control handler, which marks
SIGINT as tripped from a thread of its own; a system timer stands in for the
console here, its thread calling PyErr_SetInterruptEx(SIGINT).
"""

import ctypes
import os
import signal
from ctypes import wintypes

import pytest

import borvane as brv

pytestmark = pytest.mark.skipif(os.name != "nt", reason="Windows only")


def ctrl_c_after(ms):
    """Trips SIGINT from a system thread `ms` milliseconds from now."""
    k32 = ctypes.WinDLL("kernel32", use_last_error=True)
    k32.CreateTimerQueueTimer.argtypes = [ctypes.POINTER(wintypes.HANDLE), wintypes.HANDLE, ctypes.c_void_p,
                                          ctypes.c_void_p, wintypes.DWORD, wintypes.DWORD, wintypes.ULONG]
    callback = ctypes.cast(ctypes.pythonapi.PyErr_SetInterruptEx, ctypes.c_void_p)
    timer = wintypes.HANDLE()
    once = 0x8  # WT_EXECUTEONLYONCE
    assert k32.CreateTimerQueueTimer(ctypes.byref(timer), None, callback, int(signal.SIGINT), ms, 0, once)


def test_ctrl_c_stops_a_call_blocked_on_a_silent_terminal(connected):
    # As on Linux: the interrupt is raised, and the connection, whose reply
    # is now out of step, is closed.
    connected.hang_next(cmd=1, seconds=30)
    ctrl_c_after(300)
    with pytest.raises(KeyboardInterrupt):
        brv.version()
    assert brv.version() == (0, 0, "")
    assert brv.last_error() == (-10004, "No IPC connection")
