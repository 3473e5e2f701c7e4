"""The trade request of ``order_check`` and ``order_send``, as a type.

Annotate a request with it and a type checker catches a misspelt key,
which the module itself ignores (the order would go out without it)::

    from borvane import TradeRequestDict

    request: TradeRequestDict = {"action": 1, "symbol": "EURUSD", "volume": 0.1, "sl": 1.05}
"""

from typing import TypedDict

__all__ = ["TradeRequestDict"]


class TradeRequestDict(TypedDict, total=False):
    """The keys of a trade request. Absent keys are 0, 0.0 or empty; keys not
    listed here are ignored by the module.

    At run time the prices and the volume must be floats (an int such as 1
    is refused with "Invalid "volume" argument"), the unsigned fields must not
    be negative, and the symbol and comment hold at most 29 UTF-16 units.
    """

    action: int
    magic: int
    order: int
    symbol: str
    volume: float
    price: float
    stoplimit: float
    sl: float
    tp: float
    deviation: int
    type: int
    type_filling: int
    type_time: int
    expiration: int
    comment: str
    position: int
    position_by: int
