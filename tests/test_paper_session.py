"""End to end through borvane: connecting to the paper terminal (started by
the module, then found by discovery), authorisation and
readiness."""

import os
import shutil

import borvane as brv
import borvane.paper as paper
from paper_helpers import install, isolated, started  # noqa: F401


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
    brv.shutdown()

    # Discovered but not running: the module starts it again.
    assert paper.stop(install)
    assert brv.initialize(), brv.last_error()
    assert brv.terminal_info().path == info.path
    assert brv.version()[1] == info.build


def test_discovery_prefers_the_terminal_started_last(started, tmp_path):
    first = tmp_path / "first" / "terminal64.exe"
    first.parent.mkdir()
    shutil.copy2(paper.executable(), first)
    started(path=str(first)).stop()
    started().stop()
    assert brv.initialize(), brv.last_error()
    assert brv.terminal_info().path == os.path.dirname(started.install)


def test_authorisation_readiness_and_login(started):
    install = started.install
    assert brv.initialize(install, login=70010002, password="euro-demo", server=paper.SERVER), brv.last_error()
    account = brv.account_info()
    assert (account.login, account.currency, account.leverage, account.server) == (
        70010002, "EUR", 30, paper.SERVER)
    assert account.balance == 5000.0

    assert not brv.initialize(install, login=70010001, password="wrong")
    assert brv.last_error()[0] == -6
    assert brv.account_info() is None and brv.last_error()[0] == -10004  # initialize disconnected

    assert brv.initialize(install)
    assert not brv.login(70010003, password="wrong")
    assert brv.last_error() == (-6, "Terminal: Authorization failed")
    assert brv.account_info().login == 70010002  # still connected, same account
    assert brv.login(70010003, password="pro-demo", server=paper.SERVER), brv.last_error()
    account = brv.account_info()
    assert (account.login, account.leverage, account.balance) == (70010003, 500, 100000.0)
