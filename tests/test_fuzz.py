"""Replays fuzz/corpus (see fuzz/fuzz_replies.py): seed.json holds every
operation with every mutation; found-*.json are cases `make fuzz` saved.
Cases run in a worker process, so a crash or hang fails with its case.
"""

import glob
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))

import fuzz_replies  # noqa: E402

CORPUS = sorted(glob.glob(os.path.join(fuzz_replies.CORPUS, "*.json")))


def _report(count, last, reason):
    return "%s after %d cases; case: %s" % (reason, count, json.dumps(last))


def test_corpus_replays_clean():
    assert CORPUS, "no corpus"
    expected = sum(len(fuzz_replies.load(f)) for f in CORPUS)
    ok, count, last, reason = fuzz_replies.run_worker(CORPUS)
    assert ok, _report(count, last, reason)
    assert count == expected


def test_a_short_run_of_new_cases():
    # keeps the generator working between runs of `make fuzz`
    ok, count, last, reason = fuzz_replies.run_worker(["--seed", "20240607", "--seconds", "1"])
    assert ok, _report(count, last, reason)
    assert count > 50
