"""Eight threads cycling through five kinds of call at once, with the thread
switch interval at its shortest: each gets exactly the reply to its own
request, and the terminal receives every request whole."""

import functools
import sys
import threading

import borvane as brv
import client_ops
import records as R

THREADS = 8
ROUNDS = 190  # each thread makes ROUNDS x 5 calls


def _jobs(fake):
    # (name, call, expected result as a comparable value, command)
    tick = client_ops.record_bytes(R.TICK)
    positions = [R.POSITION.build(ticket=i, symbol="S%d" % i, volume=i + 0.5) for i in range(3)]
    bars = [R.BAR.build(time=i, open=i + 0.25, real_volume=i) for i in range(50)]
    fake.on(172, 1, tick)
    fake.on(121, 1, R.pack_record_list(positions))
    fake.on(108, 1, R.pack_record_list(bars))
    fake.on(170, -4)
    return [
        ("tick", lambda: tuple(brv.symbol_info_tick("EURUSD")), R.TICK.values(tick), 172),
        ("positions", lambda: tuple(tuple(p) for p in brv.positions_get()),
         tuple(R.POSITION.values(p) for p in positions), 121),
        ("bars", lambda: brv.copy_rates_from_pos("EURUSD", 1, 0, 50).tobytes(), b"".join(bars), 108),
        ("version", brv.version, (5, 4410, "5.00 build 4410"), 1),
        ("failing", lambda: brv.symbol_info("GBPUSD"), None, 170),
    ]


def test_eight_threads(connected, request):
    jobs = _jobs(connected)
    errors = []
    start = threading.Barrier(THREADS)
    request.addfinalizer(functools.partial(sys.setswitchinterval, sys.getswitchinterval()))
    sys.setswitchinterval(1e-6)

    def work(first):
        start.wait()
        for n in range(ROUNDS * len(jobs)):
            name, call, expected, _ = jobs[(first + n) % len(jobs)]
            try:
                got = call()
            except Exception as exc:  # noqa: BLE001 - reported below
                got = exc
            if got != expected:
                errors.append((first, n, name, got))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors[:3]

    requests = connected.requests()
    assert len(requests) == THREADS * ROUNDS * len(jobs)
    for name, _, _, cmd in jobs:
        mine = [r.raw for r in requests if r.cmd == cmd]
        assert len(mine) == THREADS * ROUNDS, name
        assert len(set(mine)) == 1, name  # every request of the command arrived whole and alike
    assert connected.connections() == [True]
