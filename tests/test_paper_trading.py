"""End to end through borvane: trading on the paper terminal (the engine's
unit tests pin fill prices, trigger sides and stops)."""


import pytest

import borvane as brv
import borvane.paper as paper
from paper_helpers import FAR, connected, install, isolated, send, started  # noqa: F401


def market(symbol, type_, volume, **extra):
    return send(extra, action=paper.TRADE_ACTION_DEAL, symbol=symbol, type=type_, volume=volume,
                type_filling=paper.ORDER_FILLING_FOK)


def test_full_trade_cycle_adds_up(connected):
    start = brv.account_info()
    request = dict(action=paper.TRADE_ACTION_DEAL, symbol="EURUSD", volume=0.3, type=paper.ORDER_TYPE_BUY,
                   comment="cycle")
    check = brv.order_check(request)
    assert check.retcode == paper.RETCODE_DONE and check.comment and check.margin > 0

    opened = brv.order_send(request)
    assert opened.retcode == paper.RETCODE_DONE
    assert opened.price == opened.ask and opened.volume == 0.3 and opened.deal > 0 and opened.order > 0
    (position,) = brv.positions_get(ticket=opened.order)
    assert (position.identifier, position.type, position.volume, position.price_open, position.comment) == (
        opened.order, paper.POSITION_TYPE_BUY, 0.3, opened.price, "cycle")

    account = brv.account_info()
    assert account.balance == start.balance
    assert account.equity == pytest.approx(account.balance + account.profit)
    assert account.margin == pytest.approx(
        brv.order_calc_margin(paper.ORDER_TYPE_BUY, "EURUSD", 0.3, position.price_open))
    assert account.margin_free == pytest.approx(account.equity - account.margin)
    assert account.margin_level == pytest.approx(account.equity / account.margin * 100)

    partial = market("EURUSD", paper.ORDER_TYPE_SELL, 0.1, position=position.ticket)
    assert partial.retcode == paper.RETCODE_DONE
    assert brv.positions_get(ticket=position.ticket)[0].volume == pytest.approx(0.2)
    closed = market("EURUSD", paper.ORDER_TYPE_SELL, 0.2, position=position.ticket)
    assert closed.retcode == paper.RETCODE_DONE and closed.price == closed.bid

    deals = brv.history_deals_get(position=position.ticket)
    assert [(d.entry, d.volume) for d in deals] == [
        (paper.DEAL_ENTRY_IN, 0.3), (paper.DEAL_ENTRY_OUT, 0.1), (paper.DEAL_ENTRY_OUT, 0.2)]
    assert [d.ticket for d in deals] == [opened.deal, partial.deal, closed.deal]
    for deal in deals[1:]:
        assert deal.type == paper.DEAL_TYPE_SELL
        assert deal.profit == pytest.approx(brv.order_calc_profit(
            paper.ORDER_TYPE_BUY, "EURUSD", deal.volume, position.price_open, deal.price))

    orders = brv.history_orders_get(position=position.ticket)
    assert [o.ticket for o in orders] == [d.order for d in deals]
    assert all(o.state == paper.ORDER_STATE_FILLED and o.position_id == position.ticket for o in orders)
    assert brv.history_orders_get(ticket=closed.order)[0].price_open == closed.price

    end = brv.account_info()
    realised = sum(d.profit for d in deals)
    assert end.balance == pytest.approx(start.balance + realised)
    assert (end.profit, end.margin) == (0.0, 0.0) and end.equity == pytest.approx(end.balance)
    everything = brv.history_deals_get(0, FAR)
    assert brv.history_deals_total(0, FAR) == len(everything) == 4  # with the initial deposit
    assert everything[0].type == paper.DEAL_TYPE_BALANCE and everything[0].profit == start.balance
    assert brv.history_orders_total(0, FAR) == 3


def test_close_by_realises_the_difference_of_the_open_prices(connected):
    buy = market("XAUUSD", paper.ORDER_TYPE_BUY, 0.2)
    sell = market("XAUUSD", paper.ORDER_TYPE_SELL, 0.05)
    balance = brv.account_info().balance
    result = brv.order_send(action=paper.TRADE_ACTION_CLOSE_BY, position=buy.order, position_by=sell.order)
    assert result.retcode == paper.RETCODE_DONE and result.volume == 0.05
    (left,) = brv.positions_get()
    assert left.ticket == buy.order and left.volume == pytest.approx(0.15)
    deals = [d for d in brv.history_deals_get(0, FAR) if d.entry == paper.DEAL_ENTRY_OUT_BY]
    assert sorted(d.position_id for d in deals) == sorted([buy.order, sell.order])
    expected = (sell.price - buy.price) * 100 * 0.05  # XAUUSD: 100 oz a lot, USD account
    assert sum(d.profit for d in deals) == pytest.approx(expected)
    assert brv.account_info().balance == pytest.approx(balance + expected)
    (order,) = brv.history_orders_get(ticket=result.order)
    assert (order.type, order.position_id, order.position_by_id) == (paper.ORDER_TYPE_CLOSE_BY, buy.order, sell.order)


def test_margin_rate_and_the_account_currency(connected):
    # margin = volume x contract x price / leverage x margin rate (US500: 10 a lot, rate 5)
    forex = brv.order_calc_margin(paper.ORDER_TYPE_BUY, "EURUSD", 1.0, 1000.0)
    index = brv.order_calc_margin(paper.ORDER_TYPE_BUY, "US500", 1.0, 1000.0)
    assert index / forex == pytest.approx(10 * 5 / 100000)
    assert brv.login(70010002, password="euro-demo")  # a EUR account at leverage 30
    eurusd = brv.symbol_info_tick("EURUSD")
    assert brv.order_calc_margin(paper.ORDER_TYPE_BUY, "EURUSD", 1.0, eurusd.ask) == pytest.approx(100000 / 30, rel=2e-3)


@pytest.mark.parametrize("changes, retcode", [
    (dict(volume=0.001), paper.RETCODE_INVALID_VOLUME),
    (dict(volume=0.015), paper.RETCODE_INVALID_VOLUME),
    (dict(type=99), paper.RETCODE_INVALID_ORDER),
    (dict(symbol="NOSUCH"), paper.RETCODE_UNKNOWN_SYMBOL),
    (dict(action=0), paper.RETCODE_INVALID),
    (dict(type_filling=9), paper.RETCODE_INVALID_FILL),
    (dict(volume=100.0), paper.RETCODE_NO_MONEY),
    (dict(position=123456), paper.RETCODE_NOT_FOUND),
])
def test_rejected_requests_change_nothing(connected, changes, retcode):
    request = dict(action=paper.TRADE_ACTION_DEAL, symbol="EURUSD", volume=0.1, type=paper.ORDER_TYPE_BUY)
    request.update(changes)
    before = brv.account_info()
    assert brv.order_check(request).retcode == retcode
    result = brv.order_send(request)
    assert result.retcode == retcode and result.deal == 0 and result.order == 0
    assert brv.positions_total() == 0 and brv.history_deals_total(0, FAR) == 1
    assert brv.account_info().balance == before.balance


def test_pending_order_lifecycle(connected):
    tick = brv.symbol_info_tick("GBPUSD")
    request = dict(action=paper.TRADE_ACTION_PENDING, symbol="GBPUSD", volume=0.1,
                   type=paper.ORDER_TYPE_BUY_LIMIT, price=round(tick.ask * 0.9, 5),
                   sl=round(tick.ask * 0.85, 5), type_time=paper.ORDER_TIME_GTC)
    placed = brv.order_send(request)
    assert placed.retcode == paper.RETCODE_PLACED and placed.deal == 0
    (order,) = brv.orders_get(ticket=placed.order)
    assert (order.state, order.type, order.volume_current, order.price_open) == (
        paper.ORDER_STATE_PLACED, paper.ORDER_TYPE_BUY_LIMIT, 0.1, request["price"])

    modified = brv.order_send(action=paper.TRADE_ACTION_MODIFY, order=placed.order,
                              price=round(tick.ask * 0.8, 5), sl=0.0, tp=0.0)
    assert modified.retcode == paper.RETCODE_DONE
    assert brv.orders_get(ticket=placed.order)[0].price_open == round(tick.ask * 0.8, 5)

    removed = brv.order_send(action=paper.TRADE_ACTION_REMOVE, order=placed.order)
    assert removed.retcode == paper.RETCODE_DONE and brv.orders_total() == 0
    (done,) = brv.history_orders_get(ticket=placed.order)
    assert done.state == paper.ORDER_STATE_CANCELED and done.time_done >= done.time_setup

    wrong_side = dict(request, type=paper.ORDER_TYPE_SELL_LIMIT)
    assert brv.order_send(wrong_side).retcode == paper.RETCODE_INVALID_PRICE
    expired = dict(request, type_time=paper.ORDER_TIME_SPECIFIED, expiration=tick.time - 60)
    assert brv.order_send(expired).retcode == paper.RETCODE_INVALID_EXPIRATION


def test_auto_trading_off_refuses_order_send(connected):
    request = dict(action=paper.TRADE_ACTION_DEAL, symbol="EURUSD", volume=0.1, type=paper.ORDER_TYPE_BUY)
    paper.set_auto_trading(False, connected.path)
    assert brv.order_send(request) is None
    assert brv.last_error() == (-8, "Auto-Trading using Python API disabled in Terminal")
    assert brv.order_check(request).retcode == paper.RETCODE_DONE  # checking stays possible
    assert not brv.terminal_info().trade_allowed and not brv.account_info().trade_expert
    paper.set_auto_trading(True, connected.path)
    assert brv.order_send(request).retcode == paper.RETCODE_DONE
    assert brv.terminal_info().trade_allowed
