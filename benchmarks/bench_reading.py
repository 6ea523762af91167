"""Reading and symbolizing numbers against plain NumPy, as ratios from one run.

    python3 benchmarks/bench_reading.py [--values 2000000] [--symbols 10000000] [--repeat 3]

Writes one value per line (random normal, every digit of the double) and
times, each in a fresh interpreter, best of ``--repeat``:

- ``parsimetrics analyze -m h --symbolize median FILE``;
- a script doing ``numpy.loadtxt``, the median split and ``parsimetrics.h``.

Both include interpreter start-up and imports.  It also checks that the two
give the same h.  The command line should take at most 1.5 times the script.

Then ``parsimetrics_tools.symbolize`` on ``--symbols`` random normal values,
each method against the NumPy expression that computes the same codes (at
most 2 times).
"""

import argparse
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

SCRIPT = r"""
import sys
import numpy as np
import parsimetrics
x = np.loadtxt(sys.argv[1])
print(parsimetrics.h((x > np.median(x)).astype(np.uint8).tobytes()))
"""


def best(command: list[str], repeat: int) -> tuple[float, str]:
    times, out = [], ""
    for _ in range(repeat):
        start = time.perf_counter()
        out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        times.append(time.perf_counter() - start)
    return min(times), out


def _codes(array) -> bytes:
    return array.astype(np.uint8).tobytes()


def symbolizing(n: int, repeat: int) -> None:
    from parsimetrics_tools import symbolize

    x = np.random.default_rng(2).normal(size=n)
    rounded = x.round(0)
    windows = np.lib.stride_tricks.sliding_window_view(x, 3)
    expressions = {
        "median": lambda: _codes(x > np.median(x)),
        "mean": lambda: _codes(x > np.mean(x)),
        "threshold:-1,0,1": lambda: _codes(np.searchsorted([-1.0, 0.0, 1.0], x, side="right")),
        "quantiles:4": lambda: _codes(np.searchsorted(np.quantile(x, [0.25, 0.5, 0.75]), x)),
        "values": lambda: _codes(np.unique(rounded, return_inverse=True)[1]),
        "ordinal:3": lambda: _codes(np.argsort(np.argsort(windows, axis=1, kind="stable"), axis=1) @ [3, 1, 0]),
    }
    for method, expression in expressions.items():
        data = rounded if method == "values" else x
        ours = min(_timed(lambda: symbolize(data, method)) for _ in range(repeat))
        numpy = min(_timed(expression) for _ in range(repeat))
        print(f"symbolize {method:>18}: {ours / numpy:.2f} times the NumPy expression (at most 2)")


def _timed(function) -> float:
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--values", type=int, default=2_000_000)
    parser.add_argument("--symbols", type=int, default=10_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "signal.txt"
        values = np.random.default_rng(1).normal(size=args.values)
        np.savetxt(path, values, fmt="%.17g")
        tool, out = best([sys.executable, "-m", "parsimetrics_tools", "analyze", "--json", "-m", "h",
                          "--symbolize", "median", str(path)], args.repeat)
        script, reference = best([sys.executable, "-c", SCRIPT, str(path)], args.repeat)
    same = json.loads(out)["h"] == float(reference)
    print(f"{args.values} values: command line {tool:.2f} s, loadtxt script {script:.2f} s, "
          f"ratio {tool / script:.2f} (at most 1.5), same h: {same}")
    symbolizing(args.symbols, args.repeat)


if __name__ == "__main__":
    main()
