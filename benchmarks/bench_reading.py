"""Reading numbers through the command line against a NumPy script, as a ratio from one run.

    python3 benchmarks/bench_reading.py [--values 2000000] [--repeat 3]

Writes one value per line (random normal, every digit of the double) and
times, each in a fresh interpreter, best of ``--repeat``:

- ``parsimetrics analyze -m h --symbolize median FILE``;
- a script doing ``numpy.loadtxt``, the median split and ``parsimetrics.h``.

Both include interpreter start-up and imports.  It also checks that the two
give the same h.  The command line should take at most 1.5 times the script.
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


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--values", type=int, default=2_000_000)
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


if __name__ == "__main__":
    main()
