"""many("h") over many short series in the shapes they arrive in, as ratios measured in one run.

    python3 benchmarks/bench_shapes.py [--rows 1000000] [--length 16]

The same random binary rows as a 2-D uint8 array, a 2-D int64 array, a 3-D
uint8 array (rows / 100 x 100 x length), a list of bytes, and a Python loop
calling parsimetrics.h on each bytes object.  Every figure is the best of
three runs, divided by the list of bytes' time; the load average is printed
before and after, as the ratios mean little on a busy machine.
"""
import argparse
import os

import numpy as np

import parsimetrics as pm
from parsimetrics_tools import many
from fresh_process import best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--length", type=int, default=16)
    args = parser.parse_args()
    print("load average before:", os.getloadavg())
    codes = np.random.default_rng(7).integers(0, 2, (args.rows, args.length), dtype=np.uint8)
    rows = [row.tobytes() for row in codes]
    base, expected = best(lambda: many("h", rows))
    cases = {
        "2-D uint8 array": lambda: many("h", codes),
        "2-D int64 array": lambda: many("h", codes.astype(np.int64)),
        "3-D uint8 array": lambda: many("h", codes.reshape(-1, 100, args.length)).ravel(),
        "loop of parsimetrics.h": lambda: [pm.h(row) for row in rows],
    }
    print(f"list of bytes: {base:.3f} s for {args.rows} rows of {args.length}")
    for name, run in cases.items():
        seconds, values = best(run)
        assert list(values) == expected, name
        print(f"{name}: {seconds / base:.2f} x the list of bytes")
    print("load average after:", os.getloadavg())


if __name__ == "__main__":
    main()
