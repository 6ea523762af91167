"""What the Python benchmarks share: a worker script run in a fresh process
(the pool size is read once per process, so each thread count needs its own)
and the best-of-runs timer those scripts use."""
import argparse
import json
import os
import subprocess
import sys
import time
from pathlib import Path


def best(f, repeat=3):
    """The fastest of `repeat` wall-clock runs of f, and f's last result."""
    times, result = [], None
    for _ in range(repeat):
        t = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - t)
    return min(times), result


def run_worker(script, threads, *args):
    """Run `script` with RAYON_NUM_THREADS=threads and return the JSON it prints.
    The script can `from fresh_process import best`."""
    here = str(Path(__file__).resolve().parent)
    path = os.pathsep.join(filter(None, [here, os.environ.get("PYTHONPATH")]))
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), PYTHONPATH=path)
    proc = subprocess.run([sys.executable, "-c", script, *map(str, args)], env=env, check=True,
                          capture_output=True, text=True)
    return json.loads(proc.stdout)


def load():
    """The load average, printed before and after: on a shared machine the ratios move with it."""
    return "load average {:.2f} {:.2f} {:.2f}".format(*os.getloadavg())


def size_divisor(doc):
    """The command line of a benchmark described by `doc`: 10 with --quick (a tenth of the sizes), else 1."""
    parser = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="one tenth of the sizes")
    return 10 if parser.parse_args().quick else 1
