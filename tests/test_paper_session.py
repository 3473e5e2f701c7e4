"""End to end through borvane: starting, finding and logging in to the paper terminal."""

import os
import subprocess
import sys
import textwrap
import time

import borvane as brv
import borvane.paper as paper
import pytest
from paper_helpers import WINE_TERMINAL, RawClient, as_other_user, install, isolated, started  # noqa: F401


def test_initialize_starts_the_terminal_and_discovery_finds_it_afterwards(started):
    install = started.install  # started by the module, stopped by the fixture
    assert not paper.is_running(install)
    assert brv.initialize(path=install), brv.last_error()
    assert paper.is_running(install)
    info = brv.terminal_info()
    assert info.build >= 2364 and info.connected
    assert info.path == os.path.dirname(os.path.realpath(install))
    assert info.data_path == paper.data_folder(install)
    brv.shutdown()

    # Without a path the module picks the installation from the data folders.
    assert brv.initialize(), brv.last_error()
    assert brv.terminal_info().path == info.path


@pytest.mark.skipif(not WINE_TERMINAL, reason="a terminal under Wine (make test-wine-bridge)")
def test_discovery_finds_the_terminal_in_the_wine_prefix(started):
    # Its data folder is in the prefix and names its Windows folder; the
    # module maps that back to the Linux path and starts it under Wine again.
    started().stop()
    assert brv.initialize(), brv.last_error()
    folder = os.path.relpath(os.path.dirname(started.install), os.path.join(os.environ["WINEPREFIX"], "drive_c"))
    assert brv.terminal_info().path == "C:\\" + folder.replace("/", "\\")


def test_authorisation_readiness_and_login(started):
    install = started.install
    assert brv.initialize(install, login=70010002, password="euro-demo", server=paper.SERVER), brv.last_error()
    account = brv.account_info()
    assert (account.login, account.currency, account.leverage, account.server) == (
        70010002, "EUR", 30, paper.SERVER)
    assert account.balance == 5000.0

    assert not brv.login(70010003, password="wrong")
    assert brv.last_error() == (-6, "Terminal: Authorization failed")
    assert brv.account_info().login == 70010002  # still connected, same account
    assert brv.login(70010003, password="pro-demo", server=paper.SERVER), brv.last_error()
    account = brv.account_info()
    assert (account.login, account.leverage, account.balance) == (70010003, 500, 100000.0)


# Asks for a million bars again and again: each reply takes far longer than
# the moment between two calls, so the kill lands inside a reply.
_ASKING = textwrap.dedent("""
    import sys
    import borvane as brv
    assert brv.initialize(path=sys.argv[1]), brv.last_error()
    print("asking", flush=True)
    while brv.copy_rates_from_pos("EURUSD", 1, 0, 1000000) is not None:
        pass
    print(brv.last_error())
    print(brv.symbol_info_tick("EURUSD"), brv.last_error())
""")


def test_terminal_killed_inside_a_reply_breaks_the_pipe(started):
    t = started()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    client = subprocess.Popen([sys.executable, "-c", _ASKING, t.path], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert client.stdout.readline().strip() == b"asking"
        time.sleep(0.1)  # the first request is on its way
        t.process.kill()  # no orderly shutdown
        out, err = client.communicate(timeout=60)
    finally:
        client.kill()
    assert out.decode().splitlines() == [
        "(-10002, 'IPC recv failed')", "None (-10004, 'No IPC connection')"], err.decode()


@pytest.mark.skipif(not WINE_TERMINAL or os.getuid() != 0, reason="the bridge, and root to act as another user")
def test_bridge_refuses_a_peer_of_another_user(started):
    t = started()
    sock = paper.socket_path(t.path)
    os.chmod(os.path.dirname(sock), 0o755)  # let another user reach the socket at all
    os.chmod(sock, 0o777)
    assert as_other_user(sock) == "closed"
    assert RawClient(sock).call(109) == (1, b"\x02\x00\x00\x00")  # this user's client is served
