"""Finding a terminal under the data root and starting it.

The installation picked is read from the failure "Process create failed
'<path>'" of a plain `terminal64.exe`; launching uses a script (on Windows a
copy of the interpreter, see winstart/) that records how it started."""

import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys

import pytest

import borvane as brv
from conftest import NO_WINE_SYMLINKS, WINDOWS, WINE, posix_only, use_roaming
from fake_terminal import FakeTerminal

TESTS = os.path.dirname(os.path.abspath(__file__))
S = 1_000_000_000             # file times are in nanoseconds
T0 = 1_600_000_000 * S        # 2020-09-13

NOT_FOUND = (-10003, "IPC initialize failed, Borvane x64 not found")


def touch(path, ns=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb"):
        pass
    if ns is not None:
        os.utime(path, ns=(ns, ns))


def origin_bytes(folder):
    return b"\xff\xfe" + str(folder).encode("utf-16-le")


# A started terminal: records how it was started (before its socket exists),
# then serves the socket named from its own path for at most two minutes.
TERMINAL_SCRIPT = """#!{python}
import json, os, sys, threading
sys.path.insert(0, {tests!r})
from fake_terminal import _Server, socket_path

exe = sys.argv[0]
record = dict(
    pid=os.getpid(), exe=exe, args=sys.argv[1:], sid=os.getsid(0), cwd=os.getcwd(),
    fds=sorted(int(fd) for fd in os.listdir("/proc/self/fd")),
    std=[os.readlink("/proc/self/fd/%d" % fd) for fd in range(3)],
)
with open(exe + ".tmp", "w") as f:
    json.dump(record, f)
os.rename(exe + ".tmp", exe + ".started")
threading.Timer(120, os._exit, (0,)).start()
_Server(socket_path(exe)).accept_loop()
"""


class DataRoot:
    """The data root of one test and the installations it refers to."""

    def __init__(self, base):
        self.base = base
        self.home = base / "data"
        self.root = self.home / "Halcyra" / "Terminal"
        self.scripts = []

    def install(self, name, kind="plain"):
        """An installation folder; `kind` of terminal64.exe: "plain", "script", None."""
        folder = self.base / "inst" / name
        folder.mkdir(parents=True, exist_ok=True)
        exe = folder / "terminal64.exe"
        if kind == "plain":
            exe.write_bytes(b"not a terminal\n")  # not executable
        elif kind == "script" and WINDOWS:
            shutil.copy(sys.executable, str(exe))
        elif kind == "script":
            exe.write_text(TERMINAL_SCRIPT.format(python=sys.executable, tests=TESTS))
            exe.chmod(0o755)
        if kind == "script":
            self.scripts.append(str(exe))
        return str(folder)

    def folder(self, name, *, install=None, kind="plain", origin=None, norrik=True,
               portable=None, accounts=None, ini=None):
        """A data folder `name`; returns the executable path it names.  origin:
        bytes of origin.txt (default: naming `install`; False: none); portable,
        accounts, ini: times of those files (None: no such file)."""
        data = self.root / name
        data.mkdir(parents=True)
        if install is None:
            install = self.install(name, kind)
        if norrik == "file":
            touch(str(data / "Norrik"))
        elif norrik:
            (data / "Norrik").mkdir()
        for file, ns in (("portable.txt", portable), ("config/accounts.dat", accounts),
                         ("config/terminal.ini", ini)):
            if ns is not None:
                touch(str(data / file), ns)
        if origin is None:
            origin = origin_bytes(install)
        if origin is not False:
            (data / "origin.txt").write_bytes(origin)
        return os.path.join(install, "terminal64.exe")

    def started(self, exe):
        """The record of the terminal started from `exe`: there once connected."""
        with open(exe + ".started") as f:
            return json.load(f)

    def stop_started(self):
        """Kills the started terminals (not our children)."""
        for exe in self.scripts:
            if not os.path.exists(exe + ".started"):
                continue
            pid = self.started(exe)["pid"]
            if WINDOWS:
                from borvane import _windows
                _windows.wait_process(pid, 0, kill=True)
            else:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)


def windows_started_env(monkeypatch):
    """A copy of the interpreter as a started terminal needs its home and winstart/."""
    home = os.path.dirname(sys.executable)
    monkeypatch.setenv("BRV_TEST_STARTED", "1")
    monkeypatch.setenv("PYTHONHOME", home)
    monkeypatch.setenv("PATH", home + os.pathsep + os.environ.get("PATH", ""))
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(
        [os.path.join(TESTS, "winstart")] + [p for p in [os.environ.get("PYTHONPATH")] if p]))


def proc_stat(pid):
    """(state, ppid, session) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (FileNotFoundError, ProcessLookupError):
        return None
    return fields[0], int(fields[1]), int(fields[3])


def zombie_children():
    if WINDOWS:
        return []  # no zombies there
    stats = {int(e): proc_stat(int(e)) for e in os.listdir("/proc") if e.isdigit()}
    return sorted(pid for pid, st in stats.items() if st and st[1] == os.getpid() and st[0] == "Z")


@pytest.fixture
def data(tmp_path, monkeypatch):
    root = DataRoot(tmp_path)
    use_roaming(monkeypatch, root.home)
    if WINDOWS:
        windows_started_env(monkeypatch)
    yield root
    brv.shutdown()
    root.stop_started()


def chosen(data):
    """Runs discovery with plain executables: the path it tried to start, or
    the error when it started none."""
    assert brv.initialize() is False
    code, message = brv.last_error()
    prefix = "IPC initialize failed, Process create failed '"
    if code == -10003 and message.startswith(prefix) and message.endswith("'"):
        return message[len(prefix):-1]
    return code, message


# ---------------------------------------------------------------- data root

@pytest.mark.parametrize("layout", ["no data home", "only files and dot folders"])
def test_nothing_to_find(data, layout):
    if layout == "only files and dot folders":
        data.folder(".hidden")  # would qualify but for its name
        touch(str(data.root / "origin.txt"))
    assert chosen(data) == NOT_FOUND


@posix_only("the XDG data folder rules; Windows asks the system for the roaming folder")
@pytest.mark.parametrize("xdg, home, found", [
    (None, "home", True), ("", "home", True), ("relative/share", "home", True), (None, "", False),
])
def test_data_root_under_home_without_a_usable_xdg_data_home(data, monkeypatch, tmp_path, xdg, home, found):
    for name, value in (("XDG_DATA_HOME", xdg), ("HOME", home and str(tmp_path / home))):
        if value is None:
            monkeypatch.delenv(name)
        else:
            monkeypatch.setenv(name, value)
    data.root = tmp_path / "home" / ".local" / "share" / "Halcyra" / "Terminal"
    exe = data.folder("a")
    assert chosen(data) == (exe if found else (-10003, "IPC initialize failed, "))  # no data folder: no message


@posix_only("terminals under Wine are looked for from Linux")
@pytest.mark.parametrize("case", ["WINEPREFIX", "~/.wine", "native first", "unmapped drive"])
def test_terminal_inside_a_wine_prefix(data, monkeypatch, tmp_path, case):
    # After the native data root, the data root inside the Wine prefix, whose
    # origin.txt names a Windows path that maps back into the prefix.
    monkeypatch.setenv("USER", "paper")
    if case == "~/.wine":
        monkeypatch.setenv("HOME", str(tmp_path))
        monkeypatch.delenv("WINEPREFIX", raising=False)
        prefix = tmp_path / ".wine"
    else:
        prefix = tmp_path / "prefix"
        monkeypatch.setenv("WINEPREFIX", str(prefix))
    exe = prefix / "drive_c" / "Program Files" / "Paper" / "terminal64.exe"
    touch(str(exe))
    drive = "D" if case == "unmapped drive" else "C"
    folder = prefix / "drive_c" / "users" / "paper" / "AppData" / "Roaming" / "Halcyra" / "Terminal" / "A1"
    (folder / "Norrik").mkdir(parents=True)
    touch(str(folder / "config" / "accounts.dat"), T0 + S)  # newer than the native one below
    (folder / "origin.txt").write_bytes(origin_bytes(drive + ":\\Program Files\\Paper"))
    data.root.mkdir(parents=True)
    expected = str(exe)
    if case == "native first":
        expected = data.folder("a", accounts=T0)
    elif case == "unmapped drive":
        expected = NOT_FOUND
    assert chosen(data) == expected


# ---------------------------------------------------------------- qualifying

@pytest.mark.parametrize("case", [
    "Norrik is a file", "portable, no Norrik", "no Norrik", "odd last byte", "ends at a NUL", "no mark",
    "line end kept", "no origin.txt",
])
def test_which_folders_qualify(data, case):
    # "b" is newer than "a": it wins exactly when it has a Norrik entry or
    # portable.txt and an origin.txt naming its executable; a rejected "b"
    # must not displace "a".
    older = data.folder("a", accounts=T0)
    folder = data.install("b")
    named = origin_bytes(folder)
    kwargs, found = {
        "Norrik is a file": (dict(norrik="file"), True),  # any kind of entry will do
        "portable, no Norrik": (dict(norrik=False, portable=T0 + S), True),
        "no Norrik": (dict(norrik=False), False),
        "odd last byte": (dict(origin=named + b"x"), True),
        "ends at a NUL": (dict(origin=named + b"\0\0/x\0"), True),
        "no mark": (dict(origin=named[2:]), False),
        "line end kept": (dict(origin=named + "\r\n".encode("utf-16-le")), False),  # names no executable
        "no origin.txt": (dict(origin=False), False),
    }[case]
    data.folder("b", install=folder, accounts=T0 + S, **kwargs)
    assert chosen(data) == (os.path.join(folder, "terminal64.exe") if found else older)


@pytest.mark.parametrize("name, found", [("ab", False), ("abc", True)])
def test_origin_txt_of_fewer_than_8_bytes_names_nothing(data, monkeypatch, tmp_path, name, found):
    # A relative installation folder resolves against the current folder,
    # which makes a two-unit path (6 bytes with the mark) possible.
    monkeypatch.chdir(tmp_path)
    touch(str(tmp_path / name / "terminal64.exe"))
    data.folder("a", install=name, origin=b"\xff\xfe" + name.encode("utf-16-le"))
    assert chosen(data) == (os.path.join(name, "terminal64.exe") if found else NOT_FOUND)


def test_origin_txt_read_limit_and_executable_path_bound(data, tmp_path):
    # An installation folder of 258 units fills the 518 bytes that are read;
    # the executable path formed from it is cut to 260 units: "<folder>/t".
    folder = str(tmp_path / "x")
    while len(folder) < 258:
        folder += "/" + "d" * min(100, 257 - len(folder))
    assert len(folder) == 258
    touch(folder + "/terminal64.exe")
    touch(folder + "/t")
    touch(folder + "QQ/t")
    data.folder("a", install=folder, origin=origin_bytes(folder + "QQ"))
    assert chosen(data) == os.path.normpath(folder + "/t")  # with the system's separator


def test_skipped_folders_leave_no_message_behind(data, tmp_path):
    data.folder("b", origin=False)      # no origin.txt
    exe = data.folder("c", accounts=T0)
    data.folder("d", norrik=False)      # no Norrik, listed after the one chosen
    with FakeTerminal(exe):
        assert brv.initialize() is True
        assert brv.last_error() == (1, "Success")


# ---------------------------------------------------------------- times

@pytest.mark.parametrize("a, b, winner", [
    # (accounts.dat, terminal.ini, portable.txt) of the data folders a and b
    ((T0 + 3 * S, T0 + S), (T0 + 2 * S, T0 + 2 * S), "a"),   # the later of the two counts
    ((T0 + S, T0 + 3 * S), (T0 + 2 * S, T0 + 2 * S), "a"),
    ((None, None), (T0 + S, None), "b"),         # no file: time 0, still a candidate
    ((T0 + 9 * S, T0 + 9 * S, T0 + S), (T0 + 2 * S, None), "b"),  # a portable folder's config files do not count
    ((None, None, T0 + 3 * S), (T0 + 2 * S, None), "a"),
    ((T0, None), (T0 + 100, None), "b"),         # 100 ns apart
    pytest.param((T0 + 1, None), (T0 + 99, None), "b",  # within one 100 ns step: nanoseconds count
                 marks=posix_only("file times to the nanosecond; Windows counts 100 ns steps")),
    pytest.param((-300_000_000 * S, None), (300_000_000 * S, None), "b",  # 1960 against 1979
                 marks=pytest.mark.skipif(WINE, reason="Wine 8 sets no file time before 1970")),
])
def test_the_latest_folder_wins(data, a, b, winner):
    exes = {name: data.folder(name, **dict(zip(("accounts", "ini", "portable"), times)))
            for name, times in (("a", a), ("b", b))}
    assert chosen(data) == exes[winner]


def test_ties_go_to_the_first_name_whatever_the_directory_order(data):
    # created in scrambled order: the file system's listing order must not decide
    names = ["f%03d" % ((i * 7919) % 1000) for i in range(40)]
    exes = {name: data.folder(name, accounts=T0) for name in names}
    assert chosen(data) == exes[min(names)]


# ---------------------------------------------------------------- parent process

LAUNCHER = "import subprocess, sys; sys.exit(subprocess.call(sys.argv[1:]))"
CLIENT = ("import json, borvane\n"
          "ok = borvane.initialize()\n"
          "print(json.dumps([ok, list(borvane.last_error())]))\n")


@pytest.mark.parametrize("how", ["copy", pytest.param("link", marks=NO_WINE_SYMLINKS)])
def test_parent_process_terminal_wins_over_a_newer_one(data, tmp_path, how):
    # The "terminal" starting the Python process is an interpreter placed as
    # terminal64.exe (a copy, or a link to it), listed first with the older
    # data folder: the newer one after it must not displace it.
    folder = data.install("a", kind=None)
    exe = os.path.join(folder, "terminal64.exe")
    interpreter = os.path.realpath(sys.executable)
    if how == "copy":
        shutil.copy2(interpreter, exe)
    else:
        os.symlink(interpreter, exe)
    data.folder("a", install=folder, accounts=T0 + S)
    data.folder("b", accounts=T0 + 2 * S)

    pkg = os.path.dirname(os.path.dirname(os.path.abspath(brv.__file__)))
    env = dict(os.environ, PYTHONPATH=pkg)
    with FakeTerminal(exe) as fake:
        out = subprocess.run([exe, "-c", LAUNCHER, sys.executable, "-c", CLIENT], env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        assert out.returncode == 0, out.stderr
        assert json.loads(out.stdout) == [True, [1, "Success"]]  # (the other one cannot be started)
        assert fake.commands()[:1] == [4]


# ---------------------------------------------------------------- launch

def test_initialize_finds_starts_and_connects(data, tmp_path):
    # The terminal is started by the path origin.txt gives, here through a
    # link (where links work); the pipe is named from the file it resolves to.
    install = data.install("real", kind="script")
    if not WINE:
        os.symlink(install, str(tmp_path / "link"))
        install = str(tmp_path / "link")
    exe = data.folder("a", install=install)
    zombies = zombie_children()  # left by other tests, if any
    assert brv.initialize() is True, brv.last_error()
    assert brv.version()[1] == 4410  # the pipe is the started terminal's
    rec = data.started(exe)
    assert rec["exe"] == exe
    assert rec["args"] == []
    assert rec["cwd"] == os.getcwd()
    if WINDOWS:
        assert all(h in (None, 2 ** 64 - 1) for h in rec["std"]), rec  # no standard handles
        return
    # Detached: its own session, not our child, no standard streams, none of our descriptors.
    st = proc_stat(rec["pid"])
    assert st is not None and st[1] != os.getpid()
    assert rec["sid"] != os.getsid(0)
    assert rec["std"] == ["/dev/null"] * 3
    assert rec["fds"] == [0, 1, 2, 3]  # 3: the listing's own
    assert zombie_children() == zombies


@pytest.mark.parametrize("explicit, folder_portable, keyword, args", [
    (False, True, False, ["/portable"]),
    (False, False, True, []),               # the keyword applies to an explicit path only
    (True, False, True, ["/portable"]),
    (True, True, False, []),                # an explicit path ignores portable.txt
])
def test_portable_argument(data, explicit, folder_portable, keyword, args):
    exe = data.folder("a", kind="script", portable=T0 if folder_portable else None)
    call = (exe,) if explicit else ()
    assert brv.initialize(*call, portable=keyword) is True, brv.last_error()
    assert data.started(exe)["args"] == args


def test_explicit_path_that_fails_does_not_discover(data, missing_exe):
    exe = data.folder("a")
    with FakeTerminal(exe) as fake:
        assert brv.initialize(missing_exe) is False
        assert brv.last_error() == (-10003, "IPC initialize failed, Process create failed '%s'" % missing_exe)
        assert fake.connections() == []
