"""The market book: subscribe, release and read, against the fake terminal."""

import pytest

import borvane as brv
import records as R

SUCCESS = (1, "Success")


def entries(n):
    """Book levels whose fields differ from their neighbours' bytes."""
    return [R.book_entry(type=0xFFFFFFFF - i, price=1.0625 + i, volume=2**64 - 1 - i,
                         volume_dbl=-(i + 0.5)) for i in range(n)]


@pytest.mark.parametrize("n", [0, 1, 3, 600])  # 600 levels are read straight into the storage
def test_get_entries(connected, n):
    raws = entries(n)
    connected.on(193, 0, records=raws)
    book = brv.market_book_get("EURUSD")
    assert type(book) is tuple and len(book) == n
    for info, raw in zip(book, raws):
        R.check_record(info, R.BOOK_ENTRY, raw, "BookInfo")
    assert brv.last_error() == SUCCESS
