"""Short sequences from Python, as ratios measured in one run.

    python3 benchmarks/bench_short.py [--calls 2000]

h per call on uniform random binary and 4-letter texts of 100 and 1,000
symbols, every call on a different input (so no branch predictor learns one
text), against antropy.lziv_complexity on the same inputs when antropy is
installed (a peer used for comparison only), and on random bytes.  Then the
share of a 10^6-element int64 NumPy array's conversion in its factorization.
"""
import argparse
import random
import time

import numpy as np

import parsimetrics as pm

try:
    import antropy
except ImportError:  # the comparison column is left out
    antropy = None


# Processor time throughout: on a shared machine other processes inflate
# wall time far more than they inflate it.
def per_call(fn, inputs, rounds=15):
    """Fastest over rounds of the mean time per call, one pass over the inputs each round."""
    times = []
    for _ in range(rounds):
        start = time.process_time()
        for s in inputs:
            fn(s)
        times.append((time.process_time() - start) / len(inputs))
    return min(times)


def best(fn, repeat=7):
    times = []
    for _ in range(repeat):
        start = time.process_time()
        fn()
        times.append(time.process_time() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=2000, help="distinct inputs per size and alphabet")
    args = parser.parse_args()
    rng = random.Random(2024)

    print(f"{'n':>6} {'alphabet':>9} {'h us/call':>10} {'ns/symbol':>10}"
          + (f" {'antropy us':>11} {'antropy/h':>10}" if antropy else ""))
    for n in (100, 1000):
        for letters in ("01", "ACGT"):
            inputs = ["".join(rng.choice(letters) for _ in range(n)) for _ in range(args.calls)]
            t_h = per_call(pm.h, inputs)
            line = f"{n:>6} {len(letters):>9} {t_h * 1e6:>10.2f} {t_h / n * 1e9:>10.1f}"
            if antropy:
                antropy.lziv_complexity(inputs[0], normalize=True)  # compiled on first use
                t_a = per_call(lambda s: antropy.lziv_complexity(s, normalize=True), inputs, rounds=3)
                line += f" {t_a * 1e6:>11.2f} {t_a / t_h:>10.1f}"
            print(line)
        # Random bytes, the largest alphabet (h alone).
        inputs = [bytes(rng.randrange(256) for _ in range(n)) for _ in range(args.calls)]
        t_h = per_call(pm.h, inputs)
        print(f"{n:>6} {256:>9} {t_h * 1e6:>10.2f} {t_h / n * 1e9:>10.1f}")

    # The conversion alone: a constant array skips the factorization, so
    # h of it against h of the same bytes is what converting costs.
    n = 1_000_000
    arr = np.array([rng.randrange(2) for _ in range(n)], dtype=np.int64)
    text = bytes(arr.astype(np.uint8) + ord("0"))
    assert pm.h(arr) == pm.h(text)
    zeros, zero_text = np.zeros(n, dtype=np.int64), b"0" * n
    t_convert = best(lambda: pm.h(zeros), 15) - best(lambda: pm.h(zero_text), 15)
    t_factorize = best(lambda: pm.h(text), 7)
    print(f"\nint64 array of {n} symbols: conversion / factorization = {t_convert / t_factorize:.3f}")

if __name__ == "__main__":
    main()
