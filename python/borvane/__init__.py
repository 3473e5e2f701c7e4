"""Python connector to the Borvane trading terminal.

Connect with ``initialize()``, then read accounts, symbols, prices and the
trade history, and send orders. Every function reports failures through
``last_error()`` instead of raising. ``borvane.paper`` starts the bundled
paper terminal.
"""

from borvane._core import (  # noqa: F401
    AccountInfo,
    BookInfo,
    OrderCheckResult,
    OrderSendResult,
    SymbolInfo,
    TerminalInfo,
    Tick,
    TradeDeal,
    TradeOrder,
    TradePosition,
    TradeRequest,
    account_info,
    copy_rates_from,
    copy_rates_from_pos,
    copy_rates_range,
    copy_ticks_from,
    copy_ticks_range,
    history_deals_get,
    history_deals_total,
    history_orders_get,
    history_orders_total,
    initialize,
    last_error,
    login,
    market_book_add,
    market_book_get,
    market_book_release,
    order_calc_margin,
    order_calc_profit,
    order_check,
    order_send,
    orders_get,
    orders_total,
    positions_get,
    positions_total,
    shutdown,
    symbol_info,
    symbol_info_tick,
    symbol_select,
    symbols_get,
    symbols_total,
    terminal_info,
    version,
)

__version__ = "0.1.0"
