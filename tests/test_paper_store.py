"""End to end through borvane: accounts survive a SIGKILL, the data folder is
the user's alone, and the command line resets and lists accounts."""

import os
import stat
import subprocess
import sys

import pytest

import borvane as brv
import borvane.paper as paper
import paper_helpers
from paper_helpers import FAR, install, isolated, started  # noqa: F401

SYMBOL = "BTCUSD"  # trades every day, so the test runs on any day of the week


def send(**request):
    result = paper_helpers.send(request, symbol=SYMBOL)
    assert result.retcode in (paper.RETCODE_DONE, paper.RETCODE_PLACED), result.comment
    return result


def snapshot():
    """What must survive, without the fields that follow the market."""
    def plain(records, skip=()):
        return [{k: v for k, v in r._asdict().items() if k not in skip} for r in records]
    moving = ("price_current", "profit", "time_update", "time_update_msc")
    account = brv.account_info()
    return {
        "balance": account.balance,
        "positions": plain(brv.positions_get(), moving),
        "orders": plain(brv.orders_get(), moving),
        "deals": plain(brv.history_deals_get(0, FAR)),
        "history": plain(brv.history_orders_get(0, FAR)),
    }


@pytest.mark.time_limit(60)
def test_a_killed_terminal_comes_back_with_everything_it_reported(started):
    t = started()
    assert brv.initialize(path=t.path), brv.last_error()
    bid = brv.symbol_info_tick(SYMBOL).bid
    opened = send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_BUY, volume=0.3,
                  sl=round(bid * 0.5, 2), tp=round(bid * 2, 2), comment="kept")
    send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_SELL, volume=0.1, position=opened.order)
    send(action=paper.TRADE_ACTION_PENDING, type=paper.ORDER_TYPE_BUY_LIMIT, volume=0.2,
         price=round(bid * 0.6, 2), type_time=paper.ORDER_TIME_GTC)
    other = send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_SELL, volume=0.05)
    # The last reply came after its commit: a SIGKILL right now loses nothing.
    closed = send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_BUY, volume=0.05, position=other.order)
    before = snapshot()
    assert len(before["deals"]) == 5 and len(before["positions"]) == 1 and len(before["orders"]) == 1
    t.process.kill()  # SIGKILL, or TerminateProcess on Windows: no orderly stop
    t.process.wait()
    brv.shutdown()
    assert paper.stop(t.path) is False  # its pid file names a process that is gone

    t = started()
    assert brv.initialize(path=t.path), brv.last_error()
    assert snapshot() == before
    fresh = send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_BUY, volume=0.01)
    assert fresh.order > closed.deal and fresh.deal > fresh.order

    data = t.data_folder
    if os.name != "nt":  # Windows has no such modes: the user's profile keeps the folder private
        for folder in ("", "logs", "config", "Norrik"):
            assert stat.S_IMODE(os.stat(os.path.join(data, folder)).st_mode) == 0o700, folder
        for name in ("paper.db", "logs/paper.log", "config/terminal.ini", "origin.txt"):
            assert stat.S_IMODE(os.stat(os.path.join(data, name)).st_mode) == 0o600, name
    with open(os.path.join(data, "logs", "paper.log")) as f:
        log = f.read()
    assert "opens position #%d" % opened.order in log
    assert "closes position #%d" % other.order in log


@pytest.mark.time_limit(60)
def test_command_line_resets_and_lists_accounts(started):
    install = started.install
    cli = [sys.executable, "-m", "borvane.paper"]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))

    def run(*args, status=0):
        done = subprocess.run(cli + list(args) + ["--path", install], env=env, capture_output=True, text=True,
                              timeout=30)
        assert done.returncode == status, done.stderr
        return done.stdout

    assert "usage" in subprocess.run([install, "--help"], capture_output=True, text=True, timeout=10).stdout
    assert "not running" in run("status", status=1)
    assert "started" in run("start")
    assert "running" in run("status")
    assert brv.initialize(path=install), brv.last_error()
    first = send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_BUY, volume=0.01)
    send(action=paper.TRADE_ACTION_DEAL, type=paper.ORDER_TYPE_SELL, volume=0.01, position=first.order)
    balance = brv.account_info().balance
    brv.shutdown()

    listing = run("accounts")
    assert "70010001" in listing and "%.2f" % balance in listing and "70010003" in listing
    run("reset")  # stops the running terminal, resets, starts it again
    assert paper.is_running(install)
    assert brv.initialize(path=install), brv.last_error()
    assert brv.account_info().balance == 10000.0
    (deposit,) = brv.history_deals_get(0, FAR)
    assert deposit.type == paper.DEAL_TYPE_BALANCE and deposit.ticket > first.order
    assert brv.positions_total() == 0
    brv.shutdown()
    assert "stopped" in run("stop")
    assert not paper.is_running(install)
    assert paper.stop(install) is False  # a stale pid file is no failure
