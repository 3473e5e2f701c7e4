"""A started terminal on Windows, for test_discovery.

There the "terminal64.exe" that the module starts is a copy of the Windows
Python interpreter, which runs no script of ours: this file, on PYTHONPATH,
turns such a copy into the terminal of test_discovery's TERMINAL_SCRIPT. It
records how it was started (its command line and standard handles), then
serves the fake terminal's pipe named from its own path. Any other Python
that imports it is left alone.
"""

import ctypes
import json
import os
import sys
import threading

if os.path.basename(sys.executable).lower() == "terminal64.exe" and os.environ.get("BRV_TEST_STARTED"):
    k32 = ctypes.WinDLL("kernel32")
    k32.GetCommandLineW.restype = ctypes.c_wchar_p
    k32.GetStdHandle.restype = ctypes.c_void_p
    exe = sys.executable
    line = k32.GetCommandLineW()
    record = dict(pid=os.getpid(), exe=exe, args=line.split()[1:] if line.startswith('"') else [],
                  cmdline=line, std=[k32.GetStdHandle(n) for n in (-10, -11, -12)], cwd=os.getcwd())
    with open(exe + ".tmp", "w") as f:
        json.dump(record, f)
    os.replace(exe + ".tmp", exe + ".started")
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from fake_terminal import _Server, socket_path

    threading.Timer(120, os._exit, (0,)).start()
    _Server(socket_path(exe)).accept_loop()
    os._exit(0)
