"""The Windows facilities that ``borvane.paper`` needs, through ctypes.

The paper terminal names its pipe from its final path as the system gives it
(``GetFinalPathNameByHandleW``, lower-cased by ``CharLowerBuffW``) and keeps
its data under the roaming application data folder; these helpers ask the
same system calls, so that Python finds what the terminal made.
"""

import ctypes
from ctypes import wintypes
from typing import Any, Optional

# Looked up by name: type checkers on other systems know no WinDLL.
_WinDLL: Any = getattr(ctypes, "WinDLL")
_kernel32 = _WinDLL("kernel32", use_last_error=True)
_user32 = _WinDLL("user32", use_last_error=True)
_shell32 = _WinDLL("shell32", use_last_error=True)
_ole32 = _WinDLL("ole32", use_last_error=True)

_INVALID = wintypes.HANDLE(-1).value
GENERIC_READ = 0x80000000
FILE_SHARE_READ_WRITE = 0x3
OPEN_EXISTING = 3
EVENT_MODIFY_STATE = 0x2
SYNCHRONIZE = 0x00100000
PROCESS_TERMINATE = 0x1
WAIT_OBJECT_0 = 0

_kernel32.CreateFileW.restype = wintypes.HANDLE
_kernel32.CreateFileW.argtypes = [wintypes.LPCWSTR, wintypes.DWORD, wintypes.DWORD, wintypes.LPVOID,
                                  wintypes.DWORD, wintypes.DWORD, wintypes.HANDLE]
_kernel32.GetFinalPathNameByHandleW.argtypes = [wintypes.HANDLE, wintypes.LPWSTR, wintypes.DWORD, wintypes.DWORD]
_kernel32.CloseHandle.argtypes = [wintypes.HANDLE]
_kernel32.OpenEventW.restype = wintypes.HANDLE
_kernel32.OpenEventW.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.LPCWSTR]
_kernel32.SetEvent.argtypes = [wintypes.HANDLE]
_kernel32.OpenProcess.restype = wintypes.HANDLE
_kernel32.OpenProcess.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
_kernel32.WaitForSingleObject.argtypes = [wintypes.HANDLE, wintypes.DWORD]
_kernel32.TerminateProcess.argtypes = [wintypes.HANDLE, wintypes.UINT]
_user32.CharLowerBuffW.argtypes = [wintypes.LPWSTR, wintypes.DWORD]
_shell32.SHGetKnownFolderPath.argtypes = [ctypes.c_void_p, wintypes.DWORD, wintypes.HANDLE,
                                          ctypes.POINTER(ctypes.c_wchar_p)]
_ole32.CoTaskMemFree.argtypes = [ctypes.c_void_p]


class _Guid(ctypes.Structure):
    _fields_ = [("a", ctypes.c_uint32), ("b", ctypes.c_uint16), ("c", ctypes.c_uint16),
                ("d", ctypes.c_ubyte * 8)]


# FOLDERID_RoamingAppData {3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}
_ROAMING = _Guid(0x3EB685DB, 0x65F9, 0x4CF6, (ctypes.c_ubyte * 8)(0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D))


def final_path(path: str, capacity: int = 260) -> str:
    """The system's final path of an existing file (``\\\\?\\C:\\...``), else `path`."""
    handle = _kernel32.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ_WRITE, None, OPEN_EXISTING, 0, None)
    if handle in (None, _INVALID):
        return path[:capacity]
    try:
        buffer = ctypes.create_unicode_buffer(capacity)
        n = _kernel32.GetFinalPathNameByHandleW(handle, buffer, capacity, 0)
        return buffer.value if 0 < n < capacity else path[:capacity]
    finally:
        _kernel32.CloseHandle(handle)


def lower(text: str) -> str:
    """``CharLowerBuffW``, unit by unit, as the terminal and the connector lower-case."""
    buffer = ctypes.create_unicode_buffer(text, len(text) + 1)
    _user32.CharLowerBuffW(buffer, len(text))
    return buffer.value


def roaming_folder() -> str:
    """The current user's roaming application data folder."""
    value = ctypes.c_wchar_p()
    if _shell32.SHGetKnownFolderPath(ctypes.byref(_ROAMING), 0, None, ctypes.byref(value)) != 0:
        raise OSError("no roaming application data folder")
    try:
        return value.value or ""
    finally:
        _ole32.CoTaskMemFree(value)


def everyday_path(path: str) -> str:
    """`path` without the ``\\\\?\\`` of a final path on a drive letter."""
    if path.startswith("\\\\?\\") and path[5:6] == ":":
        return path[4:]
    return path


def set_event(name: str) -> bool:
    """Sets the named event; False when there is none."""
    handle = _kernel32.OpenEventW(EVENT_MODIFY_STATE, False, name)
    if not handle:
        return False
    try:
        return bool(_kernel32.SetEvent(handle))
    finally:
        _kernel32.CloseHandle(handle)


def wait_process(pid: int, timeout: float, kill: bool = False) -> bool:
    """Waits up to `timeout` seconds for process `pid` to end (ending it when
    `kill` is set and it has not); True when it has ended."""
    handle = _kernel32.OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, False, pid)
    if not handle:
        return True
    try:
        if _kernel32.WaitForSingleObject(handle, int(timeout * 1000)) == WAIT_OBJECT_0:
            return True
        if kill:
            _kernel32.TerminateProcess(handle, 1)
            _kernel32.WaitForSingleObject(handle, 5000)
        return False
    finally:
        _kernel32.CloseHandle(handle)


def pipe_exchange(name: str, request: bytes, size: int) -> Optional[bytes]:
    """Opens the pipe `name`, writes `request`, reads `size` bytes; None on failure."""
    try:
        with open(name, "r+b", buffering=0) as pipe:
            pipe.write(request)
            reply = b""
            while len(reply) < size:
                chunk = pipe.read(size - len(reply))
                if not chunk:
                    return None
                reply += chunk
            return reply
    except OSError:
        return None

