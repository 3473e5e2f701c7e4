"""API Connector to Borvane Terminal

Type information for the extension module `borvane._core`: its 32 functions
and its 11 record types. Functions do not raise for failures of their own:
they return None (or False, or a neutral value) and `last_error()` tells why.
"""

import datetime
import sys
from typing import Any, Final, Literal, Union, final, overload

import numpy as np
from _typeshed import structseq
from typing_extensions import Unpack

from borvane.request import TradeRequestDict

# A point in time: seconds since 1970-01-01 UTC as an int or a float, or a
# datetime (a naive one is read in local time).
_Time = Union[float, datetime.datetime]
# A structured array over the received bar or tick records.
_Records = np.ndarray[Any, np.dtype[np.void]]

# ---------------------------------------------------------------- connection

def initialize(
    path: str = ...,
    *,
    login: int = ...,
    server: str = ...,
    password: str = ...,
    timeout: int = ...,
    portable: object = ...,
) -> bool:
    """initialize([path],[server="SERVER"],[login=LOGIN],[password="PASSWORD"])

    Establish connection to Borvane terminal"""

def shutdown() -> bool:
    """shutdown()

    Disconnect from Borvane terminal"""

def login(login: int = ..., password: str = ..., server: str = ..., *, timeout: int = ...) -> bool:
    """login(login,[server="SERVER"],[password="PASSWORD"])

    Log in to specific account"""

def version() -> tuple[int, int, str]:
    """version()

    Get Borvane terminal version"""

def last_error() -> tuple[int, str]:
    """last_error()

    Return last error code and description"""

# ------------------------------------------------------ terminal and account

def terminal_info() -> TerminalInfo | None:
    """terminal_info()

    Get parameters of Borvane terminal"""

def account_info() -> AccountInfo | None:
    """account_info()

    Return information on the current account"""

# ------------------------------------------------------------------- symbols

def symbols_total() -> int | None:
    """symbols_total()

    Return the number of all available symbols"""

def symbols_get(group: str = ...) -> tuple[SymbolInfo, ...] | Literal[False] | None:
    """symbols_get([group="GROUP"])

    Return all available symbols or filtred by group"""

def symbol_info(symbol: str, /) -> SymbolInfo | None:
    """symbol_info(symbol)

    Return full information for specified symbol"""

def symbol_info_tick(symbol: str, /) -> Tick | None:
    """symbol_info_tick(symbol)

    Return current prices of specified symbol"""

def symbol_select(symbol: str, enable: object = ..., /) -> bool:
    """symbol_select(symbol,[enable])

    Select symbol in Market Watch window or remove symbol from the window"""

# ------------------------------------------------------------- price history

def copy_rates_from(symbol: str, timeframe: int, date_from: _Time, count: int, /) -> _Records | None:
    """copy_rates_from(symbol, timeframe, date_from, count)

    Get bars starting from specific date"""

def copy_rates_from_pos(symbol: str, timeframe: int, start_pos: int, count: int, /) -> _Records | None:
    """copy_rates_from_pos(symbol, timeframe, start_pos, count)

    Get bars starting from specified position"""

def copy_rates_range(symbol: str, timeframe: int, date_from: _Time, date_to: _Time, /) -> _Records | None:
    """copy_rates_range(symbol, timeframe, date_from, date_to)

    Get bars from specified period"""

def copy_ticks_from(symbol: str, date_from: _Time, count: int, flags: int, /) -> _Records | None:
    """copy_ticks_from(symbol, date_from, count, flags)

    Get ticks starting from specific date"""

def copy_ticks_range(symbol: str, date_from: _Time, date_to: _Time, flags: int, /) -> _Records | None:
    """copy_ticks_range(symbol, date_from, date_to, flags)

    Get ticks from specified period"""

# ------------------------------------------------------------------- trading

@overload
def order_check(request: TradeRequestDict, /) -> OrderCheckResult | None:
    """order_check(request)

    Check if there are enough funds to execute required trading operation"""

@overload
def order_check(**request: Unpack[TradeRequestDict]) -> OrderCheckResult | None: ...
@overload
def order_send(request: TradeRequestDict, /) -> OrderSendResult | None:
    """order_send(request)

    Send trading requests to server"""

@overload
def order_send(**request: Unpack[TradeRequestDict]) -> OrderSendResult | None: ...
def order_calc_margin(action: int, symbol: str, volume: float, price: float, /) -> float | None:
    """order_calc_margin(action, symbol, volume, price,)

    Calculate margin required for specified order"""

def order_calc_profit(
    action: int, symbol: str, volume: float, price_open: float, price_close: float, /
) -> float | None:
    """order_calc_profit(action, symbol, volume, price_open, price_close)

    Calculate profit for the current account in the current market conditions based on parameters passed"""

# ------------------------------------------------- positions, orders, history

def positions_total() -> int | None:
    """positions_total()

    Return the number of open positions"""

def positions_get(*, symbol: str = ..., ticket: int = ..., group: str = ...) -> tuple[TradePosition, ...] | None:
    """positions_get([symbol="SYMBOL"],[ticket=TICKET],[group="GROUP"])

    Return all open positions, can be filtered by symbol, group or ticket"""

def orders_total() -> int | None:
    """orders_total()

    Return the number of orders"""

def orders_get(*, symbol: str = ..., ticket: int = ..., group: str = ...) -> tuple[TradeOrder, ...] | None:
    """orders_get([symbol="SYMBOL"],[ticket=TICKET],[group="GROUP"])

    Return all orders, can be filtered by symbol, group or ticket"""

def history_orders_total(date_from: _Time, date_to: _Time, /) -> int | None:
    """history_orders_total(date_from, date_to)

    Return the number of orders in selected range from history"""

@overload
def history_orders_get(date_from: _Time, date_to: _Time, /, *, group: str = ...) -> tuple[TradeOrder, ...] | None:
    """history_orders_get([date_from, date_to, [group="GROUP"]],[position=POSITION],[ticket=TICKET])

    Return orders in selected range from history or filtered by position id, ticket"""

@overload
def history_orders_get(*, ticket: int) -> tuple[TradeOrder, ...] | None: ...
@overload
def history_orders_get(*, position: int) -> tuple[TradeOrder, ...] | None: ...
def history_deals_total(date_from: _Time, date_to: _Time, /) -> int | None:
    """history_deals_total(date_from, date_to)

    Return the number of deals in selected range from history"""

@overload
def history_deals_get(date_from: _Time, date_to: _Time, /, *, group: str = ...) -> tuple[TradeDeal, ...] | None:
    """history_deals_get([date_from, date_to, [group="GROUP"]],[position=POSITION],[ticket=TICKET])

    Return deals in selected range from history or filtered by position id, ticket"""

@overload
def history_deals_get(*, ticket: int) -> tuple[TradeDeal, ...] | None: ...
@overload
def history_deals_get(*, position: int) -> tuple[TradeDeal, ...] | None: ...

# -------------------------------------------------------------- market depth

def market_book_add(symbol: str, /) -> bool | None:
    """market_book_add(symbol)

    Opens Depth of Market for a selected symbol"""

def market_book_release(symbol: str, /) -> bool | None:
    """market_book_release(symbol)

    Closes Depth of Market for a selected symbol"""

def market_book_get(symbol: str, /) -> tuple[BookInfo, ...] | None:
    """market_book_get(symbol)

    Returns Depth of Market structures of a specified symbol"""

# ------------------------------------------------------------ record types

@final
class TradePosition(structseq[Any], tuple[
    int, int, int, int, int, int, int, int, int, float, float, float, float, float, float, float,
    str, str, str,
]):
    """Trade position structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "ticket", "time", "time_msc", "time_update", "time_update_msc", "type", "magic",
            "identifier", "reason", "volume", "price_open", "sl", "tp", "price_current", "swap",
            "profit", "symbol", "comment", "external_id",
        )

    @property
    def ticket(self) -> int: ...
    @property
    def time(self) -> int: ...
    @property
    def time_msc(self) -> int: ...
    @property
    def time_update(self) -> int: ...
    @property
    def time_update_msc(self) -> int: ...
    @property
    def type(self) -> int: ...
    @property
    def magic(self) -> int: ...
    @property
    def identifier(self) -> int: ...
    @property
    def reason(self) -> int: ...
    @property
    def volume(self) -> float: ...
    @property
    def price_open(self) -> float: ...
    @property
    def sl(self) -> float: ...
    @property
    def tp(self) -> float: ...
    @property
    def price_current(self) -> float: ...
    @property
    def swap(self) -> float: ...
    @property
    def profit(self) -> float: ...
    @property
    def symbol(self) -> str: ...
    @property
    def comment(self) -> str: ...
    @property
    def external_id(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class TradeOrder(structseq[Any], tuple[
    int, int, int, int, int, int, int, int, int, int, int, int, int, int, float, float, float,
    float, float, float, float, str, str, str,
]):
    """Trade order structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "ticket", "time_setup", "time_setup_msc", "time_done", "time_done_msc",
            "time_expiration", "type", "type_time", "type_filling", "state", "magic", "position_id",
            "position_by_id", "reason", "volume_initial", "volume_current", "price_open", "sl",
            "tp", "price_current", "price_stoplimit", "symbol", "comment", "external_id",
        )

    @property
    def ticket(self) -> int: ...
    @property
    def time_setup(self) -> int: ...
    @property
    def time_setup_msc(self) -> int: ...
    @property
    def time_done(self) -> int: ...
    @property
    def time_done_msc(self) -> int: ...
    @property
    def time_expiration(self) -> int: ...
    @property
    def type(self) -> int: ...
    @property
    def type_time(self) -> int: ...
    @property
    def type_filling(self) -> int: ...
    @property
    def state(self) -> int: ...
    @property
    def magic(self) -> int: ...
    @property
    def position_id(self) -> int: ...
    @property
    def position_by_id(self) -> int: ...
    @property
    def reason(self) -> int: ...
    @property
    def volume_initial(self) -> float: ...
    @property
    def volume_current(self) -> float: ...
    @property
    def price_open(self) -> float: ...
    @property
    def sl(self) -> float: ...
    @property
    def tp(self) -> float: ...
    @property
    def price_current(self) -> float: ...
    @property
    def price_stoplimit(self) -> float: ...
    @property
    def symbol(self) -> str: ...
    @property
    def comment(self) -> str: ...
    @property
    def external_id(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class TradeDeal(structseq[Any], tuple[
    int, int, int, int, int, int, int, int, int, float, float, float, float, float, float, str, str,
    str,
]):
    """Trade deal structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "ticket", "order", "time", "time_msc", "type", "entry", "magic", "position_id",
            "reason", "volume", "price", "commission", "swap", "profit", "fee", "symbol", "comment",
            "external_id",
        )

    @property
    def ticket(self) -> int: ...
    @property
    def order(self) -> int: ...
    @property
    def time(self) -> int: ...
    @property
    def time_msc(self) -> int: ...
    @property
    def type(self) -> int: ...
    @property
    def entry(self) -> int: ...
    @property
    def magic(self) -> int: ...
    @property
    def position_id(self) -> int: ...
    @property
    def reason(self) -> int: ...
    @property
    def volume(self) -> float: ...
    @property
    def price(self) -> float: ...
    @property
    def commission(self) -> float: ...
    @property
    def swap(self) -> float: ...
    @property
    def profit(self) -> float: ...
    @property
    def fee(self) -> float: ...
    @property
    def symbol(self) -> str: ...
    @property
    def comment(self) -> str: ...
    @property
    def external_id(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class TradeRequest(structseq[Any], tuple[
    int, int, int, str, float, float, float, float, float, int, int, int, int, int, str, int, int,
]):
    """Trade request structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "action", "magic", "order", "symbol", "volume", "price", "stoplimit", "sl", "tp",
            "deviation", "type", "type_filling", "type_time", "expiration", "comment", "position",
            "position_by",
        )

    @property
    def action(self) -> int: ...
    @property
    def magic(self) -> int: ...
    @property
    def order(self) -> int: ...
    @property
    def symbol(self) -> str: ...
    @property
    def volume(self) -> float: ...
    @property
    def price(self) -> float: ...
    @property
    def stoplimit(self) -> float: ...
    @property
    def sl(self) -> float: ...
    @property
    def tp(self) -> float: ...
    @property
    def deviation(self) -> int: ...
    @property
    def type(self) -> int: ...
    @property
    def type_filling(self) -> int: ...
    @property
    def type_time(self) -> int: ...
    @property
    def expiration(self) -> int: ...
    @property
    def comment(self) -> str: ...
    @property
    def position(self) -> int: ...
    @property
    def position_by(self) -> int: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class OrderSendResult(structseq[Any], tuple[
    int, int, int, float, float, float, float, str, int, int, TradeRequest,
]):
    """order_send result structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "retcode", "deal", "order", "volume", "price", "bid", "ask", "comment", "request_id",
            "retcode_external", "request",
        )

    @property
    def retcode(self) -> int: ...
    @property
    def deal(self) -> int: ...
    @property
    def order(self) -> int: ...
    @property
    def volume(self) -> float: ...
    @property
    def price(self) -> float: ...
    @property
    def bid(self) -> float: ...
    @property
    def ask(self) -> float: ...
    @property
    def comment(self) -> str: ...
    @property
    def request_id(self) -> int: ...
    @property
    def retcode_external(self) -> int: ...
    @property
    def request(self) -> TradeRequest: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class OrderCheckResult(structseq[Any], tuple[
    int, float, float, float, float, float, float, str, TradeRequest,
]):
    """order_check result structure"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "retcode", "balance", "equity", "profit", "margin", "margin_free", "margin_level",
            "comment", "request",
        )

    @property
    def retcode(self) -> int: ...
    @property
    def balance(self) -> float: ...
    @property
    def equity(self) -> float: ...
    @property
    def profit(self) -> float: ...
    @property
    def margin(self) -> float: ...
    @property
    def margin_free(self) -> float: ...
    @property
    def margin_level(self) -> float: ...
    @property
    def comment(self) -> str: ...
    @property
    def request(self) -> TradeRequest: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class Tick(structseq[Any], tuple[int, float, float, float, int, int, int, float]):
    """This is a structure for storing latest symbol prices"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "time", "bid", "ask", "last", "volume", "time_msc", "flags", "volume_real",
        )

    @property
    def time(self) -> int: ...
    @property
    def bid(self) -> float: ...
    @property
    def ask(self) -> float: ...
    @property
    def last(self) -> float: ...
    @property
    def volume(self) -> int: ...
    @property
    def time_msc(self) -> int: ...
    @property
    def flags(self) -> int: ...
    @property
    def volume_real(self) -> float: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class TerminalInfo(structseq[Any], tuple[
    bool, bool, bool, bool, bool, bool, bool, bool, bool, bool, int, int, int, int, float, float,
    str, str, str, str, str, str,
]):
    """This is a structure for storing terminal information"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "community_account", "community_connection", "connected", "dlls_allowed",
            "trade_allowed", "tradeapi_disabled", "email_enabled", "ftp_enabled",
            "notifications_enabled", "hcid", "build", "maxbars", "codepage", "ping_last",
            "community_balance", "retransmission", "company", "name", "language", "path",
            "data_path", "commondata_path",
        )

    @property
    def community_account(self) -> bool: ...
    @property
    def community_connection(self) -> bool: ...
    @property
    def connected(self) -> bool: ...
    @property
    def dlls_allowed(self) -> bool: ...
    @property
    def trade_allowed(self) -> bool: ...
    @property
    def tradeapi_disabled(self) -> bool: ...
    @property
    def email_enabled(self) -> bool: ...
    @property
    def ftp_enabled(self) -> bool: ...
    @property
    def notifications_enabled(self) -> bool: ...
    @property
    def hcid(self) -> bool: ...
    @property
    def build(self) -> int: ...
    @property
    def maxbars(self) -> int: ...
    @property
    def codepage(self) -> int: ...
    @property
    def ping_last(self) -> int: ...
    @property
    def community_balance(self) -> float: ...
    @property
    def retransmission(self) -> float: ...
    @property
    def company(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def language(self) -> str: ...
    @property
    def path(self) -> str: ...
    @property
    def data_path(self) -> str: ...
    @property
    def commondata_path(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class SymbolInfo(structseq[Any], tuple[
    bool, int, bool, bool, int, int, int, int, int, int, int, int, int, bool, int, int, int, int,
    int, int, int, int, int, int, bool, int, int, int, int, int, int, float, float, float, float,
    float, float, float, float, float, float, float, float, float, float, float, float, float,
    float, float, float, float, float, float, float, float, float, float, float, float, float,
    float, float, float, float, float, float, float, float, float, float, float, float, float,
    float, float, float, float, float, float, float, float, float, str, str, str, str, str, str,
    str, str, str, str, str, str, str,
]):
    """This is a structure for storing symbol information"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "custom", "chart_mode", "select", "visible", "session_deals", "session_buy_orders",
            "session_sell_orders", "volume", "volumehigh", "volumelow", "time", "digits", "spread",
            "spread_float", "ticks_bookdepth", "trade_calc_mode", "trade_mode", "start_time",
            "expiration_time", "trade_stops_level", "trade_freeze_level", "trade_exemode",
            "swap_mode", "swap_rollover3days", "margin_hedged_use_leg", "expiration_mode",
            "filling_mode", "order_mode", "order_gtc_mode", "option_mode", "option_right", "bid",
            "bidhigh", "bidlow", "ask", "askhigh", "asklow", "last", "lasthigh", "lastlow",
            "volume_real", "volumehigh_real", "volumelow_real", "option_strike", "point",
            "trade_tick_value", "trade_tick_value_profit", "trade_tick_value_loss",
            "trade_tick_size", "trade_contract_size", "trade_accrued_interest", "trade_face_value",
            "trade_liquidity_rate", "volume_min", "volume_max", "volume_step", "volume_limit",
            "swap_long", "swap_short", "margin_initial", "margin_maintenance", "session_volume",
            "session_turnover", "session_interest", "session_buy_orders_volume",
            "session_sell_orders_volume", "session_open", "session_close", "session_aw",
            "session_price_settlement", "session_price_limit_min", "session_price_limit_max",
            "margin_hedged", "price_change", "price_volatility", "price_theoretical",
            "price_greeks_delta", "price_greeks_theta", "price_greeks_gamma", "price_greeks_vega",
            "price_greeks_rho", "price_greeks_omega", "price_sensitivity", "basis", "category",
            "currency_base", "currency_profit", "currency_margin", "bank", "description",
            "exchange", "formula", "isin", "name", "page", "path",
        )

    @property
    def custom(self) -> bool: ...
    @property
    def chart_mode(self) -> int: ...
    @property
    def select(self) -> bool: ...
    @property
    def visible(self) -> bool: ...
    @property
    def session_deals(self) -> int: ...
    @property
    def session_buy_orders(self) -> int: ...
    @property
    def session_sell_orders(self) -> int: ...
    @property
    def volume(self) -> int: ...
    @property
    def volumehigh(self) -> int: ...
    @property
    def volumelow(self) -> int: ...
    @property
    def time(self) -> int: ...
    @property
    def digits(self) -> int: ...
    @property
    def spread(self) -> int: ...
    @property
    def spread_float(self) -> bool: ...
    @property
    def ticks_bookdepth(self) -> int: ...
    @property
    def trade_calc_mode(self) -> int: ...
    @property
    def trade_mode(self) -> int: ...
    @property
    def start_time(self) -> int: ...
    @property
    def expiration_time(self) -> int: ...
    @property
    def trade_stops_level(self) -> int: ...
    @property
    def trade_freeze_level(self) -> int: ...
    @property
    def trade_exemode(self) -> int: ...
    @property
    def swap_mode(self) -> int: ...
    @property
    def swap_rollover3days(self) -> int: ...
    @property
    def margin_hedged_use_leg(self) -> bool: ...
    @property
    def expiration_mode(self) -> int: ...
    @property
    def filling_mode(self) -> int: ...
    @property
    def order_mode(self) -> int: ...
    @property
    def order_gtc_mode(self) -> int: ...
    @property
    def option_mode(self) -> int: ...
    @property
    def option_right(self) -> int: ...
    @property
    def bid(self) -> float: ...
    @property
    def bidhigh(self) -> float: ...
    @property
    def bidlow(self) -> float: ...
    @property
    def ask(self) -> float: ...
    @property
    def askhigh(self) -> float: ...
    @property
    def asklow(self) -> float: ...
    @property
    def last(self) -> float: ...
    @property
    def lasthigh(self) -> float: ...
    @property
    def lastlow(self) -> float: ...
    @property
    def volume_real(self) -> float: ...
    @property
    def volumehigh_real(self) -> float: ...
    @property
    def volumelow_real(self) -> float: ...
    @property
    def option_strike(self) -> float: ...
    @property
    def point(self) -> float: ...
    @property
    def trade_tick_value(self) -> float: ...
    @property
    def trade_tick_value_profit(self) -> float: ...
    @property
    def trade_tick_value_loss(self) -> float: ...
    @property
    def trade_tick_size(self) -> float: ...
    @property
    def trade_contract_size(self) -> float: ...
    @property
    def trade_accrued_interest(self) -> float: ...
    @property
    def trade_face_value(self) -> float: ...
    @property
    def trade_liquidity_rate(self) -> float: ...
    @property
    def volume_min(self) -> float: ...
    @property
    def volume_max(self) -> float: ...
    @property
    def volume_step(self) -> float: ...
    @property
    def volume_limit(self) -> float: ...
    @property
    def swap_long(self) -> float: ...
    @property
    def swap_short(self) -> float: ...
    @property
    def margin_initial(self) -> float: ...
    @property
    def margin_maintenance(self) -> float: ...
    @property
    def session_volume(self) -> float: ...
    @property
    def session_turnover(self) -> float: ...
    @property
    def session_interest(self) -> float: ...
    @property
    def session_buy_orders_volume(self) -> float: ...
    @property
    def session_sell_orders_volume(self) -> float: ...
    @property
    def session_open(self) -> float: ...
    @property
    def session_close(self) -> float: ...
    @property
    def session_aw(self) -> float: ...
    @property
    def session_price_settlement(self) -> float: ...
    @property
    def session_price_limit_min(self) -> float: ...
    @property
    def session_price_limit_max(self) -> float: ...
    @property
    def margin_hedged(self) -> float: ...
    @property
    def price_change(self) -> float: ...
    @property
    def price_volatility(self) -> float: ...
    @property
    def price_theoretical(self) -> float: ...
    @property
    def price_greeks_delta(self) -> float: ...
    @property
    def price_greeks_theta(self) -> float: ...
    @property
    def price_greeks_gamma(self) -> float: ...
    @property
    def price_greeks_vega(self) -> float: ...
    @property
    def price_greeks_rho(self) -> float: ...
    @property
    def price_greeks_omega(self) -> float: ...
    @property
    def price_sensitivity(self) -> float: ...
    @property
    def basis(self) -> str: ...
    @property
    def category(self) -> str: ...
    @property
    def currency_base(self) -> str: ...
    @property
    def currency_profit(self) -> str: ...
    @property
    def currency_margin(self) -> str: ...
    @property
    def bank(self) -> str: ...
    @property
    def description(self) -> str: ...
    @property
    def exchange(self) -> str: ...
    @property
    def formula(self) -> str: ...
    @property
    def isin(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def page(self) -> str: ...
    @property
    def path(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class AccountInfo(structseq[Any], tuple[
    int, int, int, int, int, bool, bool, int, int, bool, float, float, float, float, float, float,
    float, float, float, float, float, float, float, float, str, str, str, str,
]):
    """This is a structure for storing account information"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = (
            "login", "trade_mode", "leverage", "limit_orders", "margin_so_mode", "trade_allowed",
            "trade_expert", "margin_mode", "currency_digits", "fifo_close", "balance", "credit",
            "profit", "equity", "margin", "margin_free", "margin_level", "margin_so_call",
            "margin_so_so", "margin_initial", "margin_maintenance", "assets", "liabilities",
            "commission_blocked", "name", "server", "currency", "company",
        )

    @property
    def login(self) -> int: ...
    @property
    def trade_mode(self) -> int: ...
    @property
    def leverage(self) -> int: ...
    @property
    def limit_orders(self) -> int: ...
    @property
    def margin_so_mode(self) -> int: ...
    @property
    def trade_allowed(self) -> bool: ...
    @property
    def trade_expert(self) -> bool: ...
    @property
    def margin_mode(self) -> int: ...
    @property
    def currency_digits(self) -> int: ...
    @property
    def fifo_close(self) -> bool: ...
    @property
    def balance(self) -> float: ...
    @property
    def credit(self) -> float: ...
    @property
    def profit(self) -> float: ...
    @property
    def equity(self) -> float: ...
    @property
    def margin(self) -> float: ...
    @property
    def margin_free(self) -> float: ...
    @property
    def margin_level(self) -> float: ...
    @property
    def margin_so_call(self) -> float: ...
    @property
    def margin_so_so(self) -> float: ...
    @property
    def margin_initial(self) -> float: ...
    @property
    def margin_maintenance(self) -> float: ...
    @property
    def assets(self) -> float: ...
    @property
    def liabilities(self) -> float: ...
    @property
    def commission_blocked(self) -> float: ...
    @property
    def name(self) -> str: ...
    @property
    def server(self) -> str: ...
    @property
    def currency(self) -> str: ...
    @property
    def company(self) -> str: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""


@final
class BookInfo(structseq[Any], tuple[int, float, int, float]):
    """This is a structure for storing Depth of Market information"""

    if sys.version_info >= (3, 10):
        __match_args__: Final = ("type", "price", "volume", "volume_dbl")

    @property
    def type(self) -> int: ...
    @property
    def price(self) -> float: ...
    @property
    def volume(self) -> int: ...
    @property
    def volume_dbl(self) -> float: ...
    def _asdict(self) -> dict[str, Any]:
        """Convert named tuple object to dictionary"""

