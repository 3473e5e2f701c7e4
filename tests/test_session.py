"""The connection lifecycle: initialize, login, shutdown, version."""

import os
import struct

import pytest

import borvane as brv
import records as R
from conftest import require_discovery

SUCCESS = (1, "Success")
NO_CONNECTION = (-10004, "No IPC connection")
OTP = (-7, "Unsupported authorization mode, OTP or certificate password needed")
AUTH_FAILED = (-6, "Terminal: Authorization failed")
TIMEOUT = (-10005, "IPC timeout")


def auth_raw(login, password, server):
    body = struct.pack("<IQ", 0, login) + R.pack_string(password) + R.pack_string(server)
    return R.frame_request(5, body)


def units(s):
    return len(s.encode("utf-16-le")) // 2


def assert_disconnected(fake):
    assert brv.version() == (0, 0, "")
    assert brv.last_error() == NO_CONNECTION
    assert fake.wait_connections([False]) == [False]


# ---------------------------------------------------------------- initialize

def test_initialize_connects_and_waits_for_readiness(fake):
    assert brv.initialize(fake.exe) is True
    assert brv.last_error() == SUCCESS
    assert fake.commands() == [4, 109]
    assert brv.version() == (5, 4410, "5.00 build 4410")


@pytest.mark.parametrize("kwargs, auth", [
    ({}, None),
    ({"login": 0}, None),
    ({"login": 0, "password": "", "server": ""}, None),
    ({"server": "x"}, (0, "", "x")),
    ({"password": "p"}, (0, "p", "")),
    ({"login": 7}, (7, "", "")),
    ({"login": True}, (1, "", "")),
    ({"login": 2**64 - 1, "password": "p\u00e4ss", "server": "Demo-Server"},
     (2**64 - 1, "p\u00e4ss", "Demo-Server")),
])
def test_initialize_authorises_only_when_asked(fake, kwargs, auth):
    assert brv.initialize(fake.exe, **kwargs) is True, brv.last_error()
    if auth is None:
        assert fake.commands() == [4, 109]
    else:
        assert fake.commands() == [4, 5, 109]
        assert fake.requests(5)[0].raw == auth_raw(*auth)


def test_authorisation_bytes_password_before_server(fake):
    assert brv.initialize(fake.exe, login=12345678901, password="secret", server="Srv") is True
    (req,) = fake.requests(5)
    assert req.raw == (struct.pack("<IIIQ", 24 + 12 + 6, 5, 0, 12345678901)
                       + struct.pack("<I", 6) + "secret".encode("utf-16-le")
                       + struct.pack("<I", 3) + "Srv".encode("utf-16-le"))


@pytest.mark.parametrize("field", ["server", "password"])
@pytest.mark.parametrize("value", ["s" * 253, "\U0001F600" * 126 + "x", ""])
def test_name_texts_up_to_253_units_are_sent(fake, field, value):
    assert units(value) in (0, 253)
    assert brv.initialize(fake.exe, login=1, **{field: value}) is True, brv.last_error()
    expected = {"password": "", "server": ""}
    expected[field] = value
    assert fake.requests(5)[0].raw == auth_raw(1, expected["password"], expected["server"])


def _invalid_initialize_cases(exe, long_path):
    return [
        (("a", "b"), {}, "Invalid number of arguments"),
        ((5,), {}, "Invalid 1st unnamed argument"),
        ((None,), {}, "Invalid 1st unnamed argument"),
        ((b"/x",), {}, "Invalid 1st unnamed argument"),
        ((long_path + "a",), {}, "Invalid 1st unnamed argument"),
        ((), {"path": long_path + "a"}, 'Invalid "path" argument'),
        ((), {"path": 5}, 'Invalid "path" argument'),
        ((exe,), {"path": None}, 'Invalid "path" argument'),
        ((exe,), {"login": -1}, 'Invalid "login" argument'),
        ((exe,), {"login": 2**64}, 'Invalid "login" argument'),
        ((exe,), {"login": 1.0}, 'Invalid "login" argument'),
        ((exe,), {"login": None}, 'Invalid "login" argument'),
        ((exe,), {"server": 5}, 'Invalid "server" argument'),
        ((exe,), {"server": "s" * 254}, 'Invalid "server" argument'),
        ((exe,), {"server": "\U0001F600" * 127}, 'Invalid "server" argument'),
        ((exe,), {"password": b"pw"}, 'Invalid "password" argument'),
        ((exe,), {"password": "p" * 254}, 'Invalid "password" argument'),
        ((exe,), {"timeout": -1}, 'Invalid "timeout" argument'),
        ((exe,), {"timeout": 2**32}, 'Invalid "timeout" argument'),
        ((exe,), {"timeout": 1.5}, 'Invalid "timeout" argument'),
        # the first invalid one wins: positional first, then the keywords in
        # the order login, server, password, timeout, path
        ((5,), {"login": -1}, "Invalid 1st unnamed argument"),
        ((exe,), {"server": 5, "login": -1}, 'Invalid "login" argument'),
        ((exe,), {"password": 5, "server": 5}, 'Invalid "server" argument'),
        ((exe,), {"path": 5, "timeout": -1}, 'Invalid "timeout" argument'),
        ((exe,), {"path": 5, "password": 5}, 'Invalid "password" argument'),
    ]


def _path_of_units(folder, n, filler="a"):
    base = os.path.join(folder, "")
    path = base + filler * ((n - units(base)) // units(filler))
    assert units(path) == n, (units(path), n)
    return path


def test_invalid_initialize_arguments(fake, tmp_path):
    long_path = _path_of_units(str(tmp_path), 257)
    for args, kwargs, message in _invalid_initialize_cases(fake.exe, long_path):
        assert brv.initialize(*args, **kwargs) is False, (args, kwargs)
        assert brv.last_error() == (-2, message), (args, kwargs)
    assert fake.connections() == []


@pytest.mark.parametrize("prefix, tail, accepted", [
    (256, "a", True),
    (256, "aa", False),
    (255, "\U0001F600", True),
    (256, "\U0001F600", False),       # an emoji counts two units
])
def test_path_limit_257_units(tmp_path, prefix, tail, accepted):
    path = _path_of_units(str(tmp_path), prefix) + tail
    assert brv.initialize(path) is False
    if accepted:
        assert brv.last_error()[0] == -10003      # accepted, then no terminal there
    else:
        assert brv.last_error() == (-2, "Invalid 1st unnamed argument")


def test_path_keyword_replaces_the_positional_path(fake, missing_exe):
    assert brv.initialize(missing_exe, path=fake.exe) is True
    assert fake.connections() == [True]


@pytest.mark.parametrize("kwargs", [{"bogus": 1}, {"portable": True}, {"portable": object()},
                                    {"timeout": 0}, {"timeout": 2**32 - 1}])
def test_initialize_keywords_that_change_nothing_here(fake, kwargs):
    assert brv.initialize(fake.exe, **kwargs) is True
    assert fake.commands() == [4, 109]


def test_portable_whose_truth_test_raises_counts_as_true(fake):
    class Bad:
        def __bool__(self):
            raise RuntimeError("no truth")

    assert brv.initialize(fake.exe, portable=Bad()) is True
    assert brv.last_error() == SUCCESS


@pytest.mark.parametrize("status, error", [
    (-7, OTP),
    (-6, AUTH_FAILED),
    (-2, (-2, "Terminal: Invalid params")),
    (-9, (-9, "Terminal: Call failed")),
])
def test_initialize_authorisation_failure_disconnects(fake, status, error):
    fake.on(5, status)
    assert brv.initialize(fake.exe, login=1, password="x") is False
    assert brv.last_error() == error
    assert fake.commands() == [4, 5]
    assert_disconnected(fake)


def test_initialize_readiness_state_3_disconnects(fake):
    fake.readiness(3)
    assert brv.initialize(fake.exe) is False
    assert brv.last_error() == AUTH_FAILED
    assert_disconnected(fake)


def test_initialize_readiness_failure_status_disconnects(fake):
    fake.on(109, -4)
    assert brv.initialize(fake.exe) is False
    assert brv.last_error() == (-4, "Terminal: Not found")
    assert_disconnected(fake)


@pytest.mark.parametrize("states, polls", [
    ((2,), 1),
    ((0, 0, 0, 2), 4),
    ((1, 4, 0xFFFFFFFF, 2), 4),
    ((0, 3), 2),
])
def test_readiness_polled_until_a_final_state(fake, states, polls):
    fake.readiness(*states)
    assert brv.initialize(fake.exe) is (states[-1] == 2)
    assert fake.commands() == [4] + [109] * polls
    assert all(r.raw == struct.pack("<II", 4, 109) for r in fake.requests(109))


@pytest.mark.parametrize("timeout, polls", [(1, 1), (100, 1), (101, 2), (250, 3)])
def test_initialize_timeout(fake, timeout, polls):
    fake.readiness(0)
    assert brv.initialize(fake.exe, timeout=timeout) is False
    assert brv.last_error() == TIMEOUT
    assert fake.commands() == [4] + [109] * polls
    assert_disconnected(fake)


@pytest.mark.parametrize("reply, error", [
    pytest.param(R.frame_reply(4, -5), (-5, "Terminal: Incompatible versions, please install the "
                                            "latest version of Terminal and Python module"), id="status -5"),
    pytest.param(R.frame_reply(4, 0), (-10002, "IPC recv failed"), id="bare header"),
    pytest.param(R.frame_reply(5, 0, R.pack_value(4410)), (-10000, "IPC call failed"), id="wrong echo"),
    pytest.param(R.frame_reply(4, 0, R.pack_value(4410) + b"\0"), (-10002, "IPC recv failed"), id="long"),
])
def test_failed_handshake_leaves_the_pipe_open(fake, reply, error):
    fake.queue(reply)
    assert brv.initialize(fake.exe) is False
    assert brv.last_error() == error
    assert fake.commands() == [4]
    # no authorisation, no readiness wait, but the pipe stays open
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert fake.connections() == [True]


# ---------------------------------------------------------------- reconnecting

def test_second_initialize_closes_the_first_connection(connected):
    assert brv.initialize(connected.exe) is True
    assert connected.wait_connections([False, True]) == [False, True]
    assert connected.commands() == [4, 109]


def test_initialize_switches_terminals(connected, fake_factory):
    other = fake_factory("other")
    other.set_version(6, 5000, "other")
    assert brv.initialize(other.exe) is True
    assert connected.wait_connections([False]) == [False]
    assert brv.version() == (6, 5000, "other")
    assert connected.commands() == []


@pytest.mark.parametrize("kwargs", [{"login": -1}, {"bad": 1, "timeout": None}])
def test_failed_initialize_still_closes_the_connection(connected, kwargs):
    assert brv.initialize(connected.exe, **kwargs) is False
    assert brv.last_error()[0] == -2
    assert_disconnected(connected)


def test_failed_connect_closes_the_connection(connected, missing_exe):
    assert brv.initialize(missing_exe) is False
    assert brv.last_error()[0] == -10003
    assert_disconnected(connected)


# ---------------------------------------------------------------- shutdown

def test_shutdown_closes_and_sends_nothing(connected):
    assert brv.shutdown() is True
    assert brv.last_error() == SUCCESS
    assert_disconnected(connected)
    assert connected.commands() == []


def test_shutdown_twice(connected):
    assert brv.shutdown() is True
    assert brv.shutdown() is True
    assert brv.last_error() == SUCCESS


def test_shutdown_then_initialize_connects_again(connected):
    brv.shutdown()
    assert brv.initialize(connected.exe) is True
    assert connected.wait_connections([False, True]) == [False, True]
    assert brv.version() == (5, 4410, "5.00 build 4410")


def test_shutdown_without_connection():
    brv.shutdown()
    assert brv.shutdown() is True
    assert brv.last_error() == SUCCESS


# ---------------------------------------------------------------- version

def test_version_without_connection():
    brv.shutdown()
    assert brv.version() == (0, 0, "")
    assert brv.last_error() == NO_CONNECTION


# ---------------------------------------------------------------- login

def test_login_positional_password_before_server(connected):
    assert brv.login(42, "secret", "Srv") is True
    assert brv.last_error() == SUCCESS
    assert connected.commands() == [5, 109]
    assert connected.requests(5)[0].raw == auth_raw(42, "secret", "Srv")


@pytest.mark.parametrize("args, kwargs, auth", [
    ((1,), {}, (1, "", "")),
    ((True,), {}, (1, "", "")),
    ((), {"login": 5, "server": "s", "password": "p"}, (5, "p", "s")),
    ((1, "a", "b"), {"login": 2, "password": "c", "server": "d"}, (2, "c", "d")),
    ((0, "a"), {"login": 3}, (3, "a", "")),
    ((3,), {"bogus": None}, (3, "", "")),
    ((2**64 - 1, "p" * 253, "\U0001F600" * 126 + "x"), {},
     (2**64 - 1, "p" * 253, "\U0001F600" * 126 + "x")),
])
def test_login_arguments_on_the_wire(connected, args, kwargs, auth):
    assert brv.login(*args, **kwargs) is True, brv.last_error()
    assert connected.requests(5)[0].raw == auth_raw(*auth)


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, 'Invalid "login" argument'),
    ((0,), {}, 'Invalid "login" argument'),
    ((), {"login": 0}, 'Invalid "login" argument'),
    ((1,), {"login": 0}, 'Invalid "login" argument'),
    ((-1,), {}, "Invalid 1st unnamed argument"),
    (("1",), {}, "Invalid 1st unnamed argument"),
    ((1, 2), {}, "Invalid 2nd unnamed argument"),
    ((1, "p", 3), {}, "Invalid 3rd unnamed argument"),
    ((1, "p" * 254), {}, "Invalid 2nd unnamed argument"),
    ((1, "p", "s" * 254), {}, "Invalid 3rd unnamed argument"),
    ((1, "a", "b", "c"), {}, "Invalid number of arguments"),
    ((1,), {"timeout": -1}, 'Invalid "timeout" argument'),
    ((1,), {"password": None}, 'Invalid "password" argument'),
    ((1,), {"server": "\U0001F600" * 127}, 'Invalid "server" argument'),
    ((1,), {"login": -5, "server": 5}, 'Invalid "login" argument'),
    ((1,), {"password": 5, "server": 5}, 'Invalid "server" argument'),
])
def test_invalid_login_arguments(connected, args, kwargs, message):
    assert brv.login(*args, **kwargs) is False
    assert brv.last_error() == (-2, message)
    assert connected.commands() == []


def test_login_without_connection():
    brv.shutdown()
    assert brv.login(1, "p", "s") is False
    assert brv.last_error() == NO_CONNECTION
    assert brv.login(0) is False
    assert brv.last_error() == (-2, 'Invalid "login" argument')


@pytest.mark.parametrize("status, error", [(-7, OTP), (-6, AUTH_FAILED), (-3, (-3, "Terminal: Out of memory"))])
def test_login_authorisation_failure_keeps_the_connection(connected, status, error):
    connected.on(5, status)
    assert brv.login(1, "p") is False
    assert brv.last_error() == error
    assert connected.commands() == [5]
    assert brv.version()[0] == 5


def test_login_readiness_state_3_keeps_the_connection(connected):
    connected.readiness(0, 3)
    assert brv.login(1) is False
    assert brv.last_error() == AUTH_FAILED
    assert connected.commands() == [5, 109, 109]
    assert brv.version()[0] == 5


def test_login_timeout_keeps_the_connection(connected):
    connected.readiness(1)
    assert brv.login(1, timeout=250) is False
    assert brv.last_error() == TIMEOUT
    assert connected.commands() == [5, 109, 109, 109]
    assert brv.version()[0] == 5


def test_login_wrong_echo(connected):
    connected.queue(R.frame_reply(4, 0), cmd=5)
    assert brv.login(1) is False
    assert brv.last_error() == (-10000, "IPC call failed")


# ---------------------------------------------------------------- discovery

def test_initialize_without_path_finds_the_terminal_by_its_data_folder(fake, tmp_path, monkeypatch):
    data_home = tmp_path / "data"
    folder = data_home / "Halcyra" / "Terminal" / "0123456789ABCDEF"
    (folder / "Norrik").mkdir(parents=True)
    install = os.path.dirname(fake.exe)
    (folder / "origin.txt").write_bytes(b"\xff\xfe" + install.encode("utf-16-le"))
    monkeypatch.setenv("XDG_DATA_HOME", str(data_home))
    if brv.initialize() is not True:
        require_discovery()
        pytest.fail("not connected: %r" % (brv.last_error(),))
    assert fake.commands() == [4, 109]
