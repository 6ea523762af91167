"""Thousands of mixed calls, successful and failing, through every function
and every kind of input and error, must leave the interpreter as they found
it: the same number of live objects and memory blocks, a flat resident size
(which is where a leak inside the native code would show), and unchanged
reference counts on every argument."""

import ctypes
import gc
import os
import sys

import numpy as np
import pytest

import parsimetrics as pm
from tests.helpers import Index, Lies, functions, unchanged_refcounts

ROUNDS = 14
WARMUP = 4

_libc = ctypes.CDLL(None)
_PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    _libc.malloc_trim(0)  # hand freed heap back, so what stays resident is what is live
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * _PAGE


def workload():
    """(arguments, calls): each call takes a few milliseconds at most; the
    sequences are a few kilobytes, so losing one per call shows in memory."""
    rng = np.random.default_rng(7)
    coin = bytes(rng.integers(0, 2, 4096, dtype=np.uint8) + ord("0"))
    text = coin.decode() + "é"
    ints = list(range(1000, 1700))
    texts = [text[i:i + 64] for i in range(0, 2048, 64)]
    arr = rng.integers(0, 4, 3000)
    index = Index(3)
    lies = Lies(2**62, ints)
    failing = {
        "bad_index": Index(ValueError),
        "bad_type_index": Index(TypeError),
        "surrogates": ["ab", "c\udc80"],
        "mixed": ["ab", 3],
        "late_failure": Lies(10, ints, fail_at=5),
        "lone": "a\ud800" * 100,
    }
    args = [coin, text, ints, texts, arr, index, lies, *failing.values()]
    f = failing
    calls = [
        # successes, through every function and the pool
        lambda: pm.factorization(coin),
        lambda: pm.factorization(texts, alphabet=index),
        lambda: pm.h(ints, log_base=index),
        lambda: pm.h(arr, jobs=4),
        lambda: pm.emc(coin[:2048]),
        lambda: pm.emc(lies, max_block_size=5),
        lambda: pm.nid(coin, text),
        lambda: pm.nid(arr, ints),
        lambda: pm.lz76(text[:2500]),
        lambda: pm.lz76(ints, max_block_size=index),
        # failures of every kind
        lambda: pm.factorization(f["surrogates"]),
        lambda: pm.h(f["mixed"]),
        lambda: pm.h(f["lone"]),
        lambda: pm.emc(f["late_failure"]),
        lambda: pm.nid(coin, f["surrogates"]),
        lambda: pm.nid(f["lone"], coin),
        lambda: pm.lz76(coin, alphabet=f["bad_index"]),
        lambda: pm.lz76(coin, jobs=f["bad_type_index"]),
        lambda: pm.emc(coin, max_block_size=2**31),
        lambda: pm.emc(texts, max_block_size=2**31 - 1),  # refused as MemoryError
        lambda: pm.factorization(coin, 1, None, None, 0, 5),
        lambda: pm.nid(seq1=coin),
        lambda: pm.h(coin, bogus=texts),
        lambda: pm.factorization(iter(ints)),
    ]
    return args, calls


EXPECTED = (TypeError, OverflowError, ValueError, UnicodeEncodeError, MemoryError)


def run(calls, times):
    for _ in range(times):
        for call in calls:
            try:
                call()
            except EXPECTED:
                pass


def test_mixed_calls_leave_nothing_behind():
    args, calls = workload()
    per_round = 60
    objects, blocks, resident = [], [], []
    with unchanged_refcounts(args):
        for _ in range(ROUNDS):
            run(calls, per_round)
            gc.collect()
            objects.append(len(gc.get_objects()))
            blocks.append(sys.getallocatedblocks())
            resident.append(resident_bytes())
    total = ROUNDS * per_round * len(calls)
    steady = slice(WARMUP, None)
    assert len(set(objects[steady])) == 1, f"live objects per round after {total} calls: {objects}"
    # A lost float or int per call would add per_round * len(calls) blocks a round.
    assert max(blocks[steady]) - min(blocks[steady]) < 100, f"allocated blocks per round: {blocks}"
    grown = resident[-1] - resident[WARMUP]
    # One lost 4 kB sequence per call would be about 6 MB a round, one per
    # round of calls 240 kB.
    assert grown < 2**20, f"resident size grew by {grown} bytes: {resident}"


@pytest.mark.parametrize("name", list(functions()))
def test_argument_reference_counts_survive_each_outcome(name):
    fn = getattr(pm, name)
    seq = "".join(["ab", "ba"] * 600)
    numbers = {"alphabet": Index(4), "log_base": Index(ValueError), "jobs": Index(TypeError)}
    outcomes = [
        ((), {"alphabet": numbers["alphabet"]}),          # succeeds
        ((), {"log_base": numbers["log_base"]}),          # the user's ValueError
        ((), {"jobs": numbers["jobs"]}),                  # tagged TypeError
        ((1, None, None, 0, 0, 0, 0), {}),                # binding error
    ]
    seqs = (seq, seq[::-1]) if name == "nid" else (seq,)
    with unchanged_refcounts([*seqs, *numbers.values()]):
        for extra, kwargs in outcomes:
            for _ in range(50):
                try:
                    fn(*seqs, *extra, **kwargs)
                except (TypeError, ValueError):
                    pass
