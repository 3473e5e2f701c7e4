"""The group filter, through positions_get(group=...): each case answers the
unfiltered request with positions of chosen symbols (ticket = place in the
reply) and checks which come back, in order."""

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")
GET_ALL = 121


@pytest.fixture
def serve(terminal):
    """serve(symbols) -> a function group -> symbols that pass, in reply order."""
    assert brv.initialize(terminal.exe) is True, brv.last_error()

    def setup(symbols):
        terminal.on(GET_ALL, records=[R.position(ticket=i, symbol=s) for i, s in enumerate(symbols)])
        terminal.clear()

        def select(group):
            got = brv.positions_get(group=group)
            assert got is not None, (group, brv.last_error())
            assert brv.last_error() == SUCCESS
            tickets = [p.ticket for p in got]
            assert tickets == sorted(tickets)
            return [symbols[t] for t in tickets]

        return select

    yield setup
    brv.shutdown()


# ------------------------------------------------------------ the design's cases

FX = ["EURUSD", "GBPJPY", "USDJPY", "EURGBP", "XAUUSD", "USDUSD", "aaa", "aab", "ab", "", "EUR USD"]


@pytest.mark.parametrize("group, expected", [
    ("", []),
    ("*", FX),
    ("!*", []),
    ("!", []),
    ("!!EUR*", []),
    (" ,, ,", []),
    ("*,!*USD*", ["GBPJPY", "EURGBP", "aaa", "aab", "ab", ""]),
    ("!*USD*,*", ["GBPJPY", "EURGBP", "aaa", "aab", "ab", ""]),
    ("*USD*,!EUR*", ["USDJPY", "XAUUSD", "USDUSD"]),
    ("!EURUSD", []),
    ("EUR*, GBP*", ["EURUSD", "GBPJPY", "EURGBP", "EUR USD"]),
    ("EURUSD   ", ["EURUSD"]),
    ("  EURUSD,", ["EURUSD"]),
    ("EUR USD", ["EUR USD"]),
    ("EUR\tUSD", []),
    ("eur*", []),
    ("EUR?SD", []),
    ("EUR", []),
    ("E*D", ["EURUSD", "EUR USD"]),
    ("E*U", []),
    ("*JPY", ["GBPJPY", "USDJPY"]),
    ("USD*JPY", ["USDJPY"]),
    ("*aa", []),
    ("*USD", ["EURUSD", "XAUUSD", "USDUSD", "EUR USD"]),
    ("*ab", ["aab", "ab"]),
    ("a**b", ["aab", "ab"]),
    ("EURUSD,EURUSD", ["EURUSD"]),
    ("GBPJPY,EURUSD", ["EURUSD", "GBPJPY"]),
])
def test_design_examples(serve, group, expected):
    assert serve(FX)(group) == expected


@pytest.mark.parametrize("pattern, name, matches", [
    ("*aab", "aaab", False),
    ("*aa", "baa", True),
    ("a*a", "aa", True),
    ("a*a", "a", False),
    ("a*", "a", True),
    ("*a*", "", False),
    ("**", "", True),
    ("a*b*c", "axbxc", True),
    ("a*b*c", "axcxb", False),
    ("*bc*bc", "bcxbcbc", True),
])
def test_non_backtracking_matcher(serve, pattern, name, matches):
    assert serve([name])(pattern) == ([name] if matches else [])


@pytest.mark.parametrize("group, expected", [
    ("Q" * 255 + ",EUR*", ["EURUSD"]),        # a 255-unit item, then the next
    ("Q" * 255 + "ZEUR*", ["EURUSD"]),        # the unit after 255 is stepped over
    ("Q" * 255 + "EUR*", ["URX"]),            # ... even when it begins the next item
    ("*" + "Q" * 254 + "!EUR*", ["EURUSD"]),  # the "!" stepped over: a positive item
    ("Q" * 254 + "EURUSD", []),               # 260 units: one pattern cut to 255
    ("*" * 300, ["EURUSD", "URX"]),
    ("!" + "*" * 300, []),
])
def test_overlong_items(serve, group, expected):
    assert serve(["EURUSD", "URX"])(group) == expected


# ------------------------------------------------------------ the group argument

# positions and orders share their parser, as do the two history families
GROUP_CALLS = {
    "positions_get": (lambda g: brv.positions_get(group=g), 121, None),
    "history_orders_get": (lambda g: brv.history_orders_get(0, 1, group=g), 141, None),
    "symbols_get": (lambda g: brv.symbols_get(group=g), 175, False),   # sent, not applied here
    "symbols_get unnamed": (lambda g: brv.symbols_get(g), 175, False),
}


@pytest.mark.parametrize("name", GROUP_CALLS)
def test_group_argument_limits(serve, terminal, name):
    call, cmd, refused = GROUP_CALLS[name]
    serve([])
    terminal.on(cmd, records=[])
    for group in ["*" * 1997, "\U0001F600" * 998 + "*"]:      # 1997 units
        assert call(group) == (), brv.last_error()
    assert terminal.commands() == [cmd, cmd]
    message = "Invalid 1st unnamed argument" if name.endswith("unnamed") else 'Invalid "group" argument'
    for group in ["*" * 1998, "\U0001F600" * 999, None, b"*", 1]:
        assert call(group) is refused, group
        assert brv.last_error() == (-2, message)
    assert terminal.commands() == [cmd, cmd]
