"""Typed use of borvane, checked by mypy --strict in test_typing.py.

Each line ending in `# type: ignore[code]` is a mistake the type stubs must
catch; with warn_unused_ignores, a stub that stops catching it fails the test.
"""

from __future__ import annotations

import datetime

import borvane as brv
import borvane.paper as paper
from borvane import TradeRequestDict
from borvane.frames import rates_frame, ticks_frame


def trade() -> None:
    request: TradeRequestDict = {"action": paper.TRADE_ACTION_DEAL, "symbol": "EURUSD", "volume": 0.1,
                                 "type": paper.ORDER_TYPE_BUY, "sl": 1.05, "comment": "typed"}
    sent = brv.order_send(request)
    if sent is not None:
        print(sent.retcode, sent.request.sl)
    brv.order_check({"action": 1, "symbol": "EURUSD", "volume": 0.1})
    brv.order_send(action=1, symbol="EURUSD", volume=0.1, tp=1.2)
    brv.order_send({**request, "type": paper.ORDER_TYPE_SELL, "position": 7})

    brv.order_send({"action": 1, "sl_price": 1.0})  # type: ignore[call-overload]
    misspelt: TradeRequestDict = {"symbol": "EURUSD", "stop_loss": 1.0}  # type: ignore[typeddict-unknown-key]
    brv.order_check(action=1, sl_price=1.0)  # type: ignore[call-overload]
    brv.order_send({"symbol": 5})  # type: ignore[call-overload]
    brv.order_send(request=request)  # type: ignore[call-overload]
    print(misspelt)


def history() -> None:
    rates = brv.copy_rates_range("EURUSD", paper.TIMEFRAME_H1, datetime.datetime(2024, 1, 1), 1704153600)
    if rates is not None:
        print(rates_frame(rates)["close"].mean(), rates["close"].max())
    ticks = brv.copy_ticks_from("EURUSD", 1704067200.5, 100, paper.COPY_TICKS_ALL)
    print(ticks_frame(ticks).index[0])
    print(len(brv.copy_rates_from_pos("EURUSD", 1, 0, 10)))  # type: ignore[arg-type]
    brv.copy_rates_from("EURUSD", 1, "2024-01-01", 10)  # type: ignore[arg-type]


def account() -> None:
    info = brv.account_info()
    print(info.balance)  # type: ignore[union-attr]
    if info is not None:
        print(info.balance + info.profit, info.currency.upper())
    for position in brv.positions_get(group="*USD*") or ():
        print(position.ticket, position.symbol, position._asdict()["profit"])
    code, message = brv.last_error()
    print(code + 1, message.upper())


def terminal() -> None:
    with paper.start(args=["--seed=7"]) as running:
        print(running.pid, running.socket)
    paper.stop(portable=True)
    paper.start(portable="yes")  # type: ignore[arg-type]
