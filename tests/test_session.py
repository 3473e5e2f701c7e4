"""The connection lifecycle: initialize, login, shutdown, version."""

import struct

import pytest

import borvane as brv
import records as R
from conftest import BadTruth, assert_disconnected

SUCCESS = (1, "Success")
OTP = (-7, "Unsupported authorization mode, OTP or certificate password needed")
AUTH_FAILED = (-6, "Terminal: Authorization failed")
TIMEOUT = (-10005, "IPC timeout")


def auth_raw(login, password, server):
    return R.frame_request(5, struct.pack("<IQ", 0, login) + R.pack_string(password) + R.pack_string(server))


# ---------------------------------------------------------------- initialize

@pytest.mark.parametrize("kwargs, auth", [
    ({}, None),
    ({"login": 0, "password": "", "server": ""}, None),
    ({"server": "x"}, (0, "", "x")),
    ({"password": "p"}, (0, "p", "")),
    ({"login": 7}, (7, "", "")),
    # keywords that change nothing here (a truth test that fails counts as true)
    ({"bogus": 1, "portable": BadTruth(), "timeout": 0}, None),
    ({"timeout": 2**32 - 1}, None),
])
def test_initialize_authorises_only_when_asked(fake, kwargs, auth):
    assert brv.initialize(fake.exe, **kwargs) is True, brv.last_error()
    assert brv.last_error() == SUCCESS
    if auth is None:
        assert fake.commands() == [4, 109]
    else:
        assert fake.commands() == [4, 5, 109]
        assert fake.requests(5)[0].raw == auth_raw(*auth)


# One case per reason a value is refused; initialize and login share the
# converters of the account keywords, so login's own table is shorter.
EXE = "/unused/terminal64.exe"
INVALID = {
    "initialize": [
        (("a", "b"), {}, "Invalid number of arguments"),
        ((b"/x",), {}, "Invalid 1st unnamed argument"),
        (("/" + "a" * 257,), {}, "Invalid 1st unnamed argument"),  # 258 units
        ((EXE,), {"path": None}, 'Invalid "path" argument'),
        ((EXE,), {"login": 2**64}, 'Invalid "login" argument'),
        ((EXE,), {"login": None}, 'Invalid "login" argument'),
        ((EXE,), {"server": "\U0001F600" * 127}, 'Invalid "server" argument'),  # 254 units
        ((EXE,), {"password": b"pw"}, 'Invalid "password" argument'),
        ((EXE,), {"timeout": 2**32}, 'Invalid "timeout" argument'),
        ((EXE,), {"timeout": 1.5}, 'Invalid "timeout" argument'),
        # the first invalid one wins (-1 is out of range): positional first,
        # then the keywords in the order login, server, password, timeout, path
        ((5,), {"login": -1}, "Invalid 1st unnamed argument"),
        ((EXE,), {"server": 5, "login": -1}, 'Invalid "login" argument'),
        ((EXE,), {"password": 5, "server": 5}, 'Invalid "server" argument'),
        ((EXE,), {"timeout": -1, "password": 5}, 'Invalid "password" argument'),
        ((EXE,), {"path": 5, "timeout": -1}, 'Invalid "timeout" argument'),
    ],
    "login": [
        ((1,), {"login": 0}, 'Invalid "login" argument'),  # (none at all: test_module.py)
        ((-1,), {}, "Invalid 1st unnamed argument"),
        ((1, 2), {}, "Invalid 2nd unnamed argument"),
        ((1, "p", 3), {}, "Invalid 3rd unnamed argument"),
        ((1, "a", "b", "c"), {}, "Invalid number of arguments"),
        ((1,), {"login": -5, "server": 5}, 'Invalid "login" argument'),
    ],
}


@pytest.mark.parametrize("name", INVALID)
def test_invalid_arguments(connected, name):
    for args, kwargs, message in INVALID[name]:
        assert getattr(brv, name)(*args, **kwargs) is False, (args, kwargs)
        assert brv.last_error() == (-2, message), (args, kwargs)
    assert connected.commands() == []


def test_path_of_257_units_is_accepted():
    assert brv.initialize("/" + "a" * 256) is False
    assert brv.last_error()[0] == -10003  # accepted, then no terminal there


def test_path_keyword_replaces_the_positional_path(fake, missing_exe):
    assert brv.initialize(missing_exe, path=fake.exe) is True
    assert fake.connections() == [True]


@pytest.mark.parametrize("call", ["initialize", "login"])
@pytest.mark.parametrize("setup, timeout, error, polls", [
    (lambda f: f.on(5, -7), 0, OTP, 0),
    (lambda f: f.on(5, -6), 0, AUTH_FAILED, 0),
    (lambda f: f.on(5, -9), 0, (-9, "Terminal: Call failed"), 0),
    (lambda f: f.readiness(0, 3), 0, AUTH_FAILED, 2),
    (lambda f: f.on(109, -4), 0, (-4, "Terminal: Not found"), 1),
    (lambda f: f.readiness(0), 100, TIMEOUT, 1),
    (lambda f: f.readiness(1), 101, TIMEOUT, 2),
], ids=["otp", "authorisation", "other status", "readiness state 3", "readiness status", "timeout", "timeout+1"])
def test_failed_authorisation_or_readiness(fake, call, setup, timeout, error, polls):
    # initialize disconnects; login keeps the connection
    if call == "login":
        assert brv.initialize(fake.exe) is True
        fake.clear()
    setup(fake)
    if call == "initialize":
        assert brv.initialize(fake.exe, login=1, password="x", timeout=timeout) is False
    else:
        assert brv.login(1, "x", timeout=timeout) is False
    assert brv.last_error() == error
    assert fake.commands() == ([4] if call == "initialize" else []) + [5] + [109] * polls
    if call == "initialize":
        assert_disconnected(fake)
    else:
        assert brv.version()[0] == 5


def test_readiness_polled_until_a_final_state(fake):
    fake.readiness(1, 4, 0xFFFFFFFF, 2)
    assert brv.initialize(fake.exe) is True
    assert fake.commands() == [4] + [109] * 4


def test_failed_handshake_leaves_the_pipe_open(fake):
    # (each way a handshake reply fails: test_link.py::test_reply_faults[initialize-*])
    fake.queue(R.frame_reply(4, 0))
    assert brv.initialize(fake.exe, login=1) is False
    assert brv.last_error() == (-10002, "IPC recv failed")
    assert fake.commands() == [4]
    # no authorisation, no readiness wait, but the pipe stays open
    assert brv.version() == (5, 4410, "5.00 build 4410")
    assert fake.connections() == [True]


# ---------------------------------------------------------------- reconnecting

@pytest.mark.parametrize("same", [True, False])
def test_initialize_again_closes_and_opens_a_new_connection(connected, fake_factory, same):
    target = connected if same else fake_factory("other")
    target.set_version(6, 5000, "other")
    assert brv.initialize(target.exe) is True
    connections = [False, True] if same else [False]  # the old one closed (and a new one)
    assert connected.wait_connections(connections) == connections
    assert connected.commands() == ([4, 109] if same else [])  # nothing sent on the old one
    assert brv.version() == (6, 5000, "other")


@pytest.mark.parametrize("path, login, code", [("fake", -1, -2), ("missing", 0, -10003)])
def test_failed_initialize_still_closes_the_connection(connected, missing_exe, path, login, code):
    assert brv.initialize(connected.exe if path == "fake" else missing_exe, login=login) is False
    assert brv.last_error()[0] == code
    assert_disconnected(connected)


# ---------------------------------------------------------------- shutdown

def test_shutdown_closes_and_sends_nothing(connected):
    assert brv.shutdown() is True
    assert brv.shutdown() is True  # without a connection too
    assert brv.last_error() == SUCCESS
    assert_disconnected(connected)
    assert connected.commands() == []


# ---------------------------------------------------------------- login

@pytest.mark.parametrize("args, kwargs, auth", [
    ((42, "secret", "Srv"), {}, (42, "secret", "Srv")),    # password before server
    ((True,), {}, (1, "", "")),
    ((), {"login": 5, "server": "s", "password": "p"}, (5, "p", "s")),
    ((0, "a"), {"login": 3}, (3, "a", "")),
    ((2**64 - 1, "p" * 253, "\U0001F600" * 126 + "x"), {},
     (2**64 - 1, "p" * 253, "\U0001F600" * 126 + "x")),
])
def test_login_arguments_on_the_wire(connected, args, kwargs, auth):
    assert brv.login(*args, **kwargs) is True, brv.last_error()
    assert brv.last_error() == SUCCESS
    assert connected.commands() == [5, 109]
    assert connected.requests(5)[0].raw == auth_raw(*auth)
