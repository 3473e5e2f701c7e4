"""Shared fixtures: a private environment, fake terminals and time limits.

$XDG_RUNTIME_DIR (sockets, directly under /tmp: a socket path has at most 107
bytes), $XDG_DATA_HOME and $HOME point at private folders.  On Windows the
data folders live under the roaming folder, from the registry: under Wine
`use_roaming` points it at a private folder; on real Windows such tests skip.
"""

import faulthandler
import os
import shutil
import signal
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fake_terminal import FakeTerminal  # noqa: E402

WINDOWS = os.name == "nt"
WINE = WINDOWS and hasattr(__import__("ctypes").windll.ntdll, "wine_get_version")



def posix_only(why):
    """Skips a test that is POSIX by nature on Windows, saying why."""
    return pytest.mark.skipif(WINDOWS, reason="POSIX only: " + why)


#: a symbolic link made under Wine 8 cannot be opened, nor resolved
NO_WINE_SYMLINKS = pytest.mark.skipif(WINE, reason="Wine 8 makes no usable symbolic links")

if WINE:
    # Wine 8 lacks CopyFile2, which shutil.copy2 calls on Windows.
    shutil.copy2 = lambda src, dst, **kwargs: shutil.copy(src, dst)

_PRIVATE = {
    "XDG_RUNTIME_DIR": tempfile.mkdtemp(prefix="brv-rt-", dir=None if WINDOWS else "/tmp"),
    "HOME": tempfile.mkdtemp(prefix="brv-home-"),
}
_PRIVATE["XDG_DATA_HOME"] = os.path.join(_PRIVATE["HOME"], ".local", "share")
os.makedirs(_PRIVATE["XDG_DATA_HOME"])
os.environ.update(_PRIVATE)

_SHELL_FOLDERS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
# Put back at the end: the prefix's own value, even after a run that was
# killed before it could restore it.
_ROAMING_DEFAULT = (r"%USERPROFILE%\AppData\Roaming", 2)  # REG_EXPAND_SZ
_ROAMING_CHANGED = False


def use_roaming(monkeypatch, folder):
    """Makes `folder` the root of the data folders that discovery and the
    paper terminal see (for the rest of the test)."""
    global _ROAMING_CHANGED
    monkeypatch.setenv("XDG_DATA_HOME", str(folder))
    if WINDOWS:
        if not WINE:
            pytest.skip("needs a private roaming folder, which only the suite's Wine prefix gives")
        import winreg
        os.makedirs(str(folder), exist_ok=True)
        with winreg.OpenKey(winreg.HKEY_CURRENT_USER, _SHELL_FOLDERS, 0, winreg.KEY_ALL_ACCESS) as key:
            winreg.SetValueEx(key, "AppData", 0, winreg.REG_EXPAND_SZ, str(folder))
        _ROAMING_CHANGED = True


@pytest.fixture(autouse=True)
def _private_roaming(monkeypatch):
    if WINE:
        use_roaming(monkeypatch, _PRIVATE["XDG_DATA_HOME"])


# numpy reads this once, at import: an array that owns memory numpy does not
# know how to release then warns when it is freed.
os.environ["NUMPY_WARN_IF_NO_MEM_POLICY"] = "1"


#: Every test's time limit, setup and teardown included; a test that needs
#: more says so with @pytest.mark.time_limit(seconds).  SOAK_CALLS and the
#: sanitizers stretch the soak and the whole run: the limit scales with
#: TIME_LIMIT_SCALE.
TIME_LIMIT = 20
SCALE = float(os.environ.get("TIME_LIMIT_SCALE", "1"))


def pytest_configure(config):
    config.addinivalue_line("markers", "time_limit(seconds): this test's time limit")


class TimeLimitExceeded(Exception):
    pass


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item, nextitem):
    """A hang fails the test in seconds: SIGALRM raises in the test (the
    module stops a wait on the pipe when a handler raises), and should even
    that not end it, the process ends with every thread's traceback.
    Windows has no SIGALRM: there a hang ends the process at once."""
    marker = item.get_closest_marker("time_limit")
    limit = (marker.args[0] if marker else TIME_LIMIT) * SCALE

    def expired(signum, frame):
        raise TimeLimitExceeded("%s took more than %g s" % (item.nodeid, limit))

    if not WINDOWS:
        previous = signal.signal(signal.SIGALRM, expired)
        signal.setitimer(signal.ITIMER_REAL, limit)
    faulthandler.dump_traceback_later(limit if WINDOWS else limit + 30, exit=True)
    try:
        yield
    finally:
        faulthandler.cancel_dump_traceback_later()
        if not WINDOWS:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)


def pytest_unconfigure(config):
    if _ROAMING_CHANGED:
        import winreg
        with winreg.OpenKey(winreg.HKEY_CURRENT_USER, _SHELL_FOLDERS, 0, winreg.KEY_ALL_ACCESS) as key:
            winreg.SetValueEx(key, "AppData", 0, _ROAMING_DEFAULT[1], _ROAMING_DEFAULT[0])
    for key in ("XDG_RUNTIME_DIR", "HOME"):
        shutil.rmtree(_PRIVATE[key], ignore_errors=True)


def make_exe(folder, name="terminal64.exe"):
    """A terminal path for a fake: an existing file (its real path is what gets
    hashed) that cannot be run (so that starting it fails at once)."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.realpath(os.path.join(str(folder), name))
    with open(path, "wb") as f:
        f.write(b"not a terminal\n")
    os.chmod(path, 0o644)
    return path


def _shutdown_module():
    mod = sys.modules.get("borvane")
    if mod is not None and hasattr(mod, "shutdown"):
        mod.shutdown()


@pytest.fixture
def fake_factory(tmp_path):
    """Start more fakes: `fake_factory(name="b")` gives a started FakeTerminal
    serving `<tmp>/<name>/terminal64.exe`; all are stopped at teardown."""
    started = []

    def start(name=None):
        folder = tmp_path / (name or "inst%d" % len(started))
        fake = FakeTerminal(make_exe(folder))
        started.append(fake)
        return fake

    yield start
    _shutdown_module()
    for fake in started:
        fake.stop()


@pytest.fixture
def fake(fake_factory):
    """A started fake terminal; `fake.exe` is the path to give `initialize`."""
    return fake_factory("inst")


@pytest.fixture(scope="module")
def terminal(tmp_path_factory):
    """One fake terminal shared by a whole test module."""
    fake = FakeTerminal(make_exe(tmp_path_factory.mktemp("shared")))
    yield fake
    _shutdown_module()
    fake.stop()


@pytest.fixture
def connected(fake):
    """`fake` with the module connected to it and its requests cleared."""
    import borvane

    assert borvane.initialize(fake.exe) is True, borvane.last_error()
    fake.clear()
    return fake


@pytest.fixture
def missing_exe(tmp_path):
    """A terminal path whose file does not exist: connecting fails at once."""
    return os.path.join(os.path.realpath(str(tmp_path)), "absent", "terminal64.exe")


def assert_disconnected(fake):
    """The module has no connection, and the one `fake` accepted is closed."""
    import borvane

    assert borvane.version() == (0, 0, "")
    assert borvane.last_error() == (-10004, "No IPC connection")
    assert fake.wait_connections([False]) == [False]


class BadTruth:
    """An argument whose truth test raises."""

    def __bool__(self):
        raise RuntimeError("no truth")
