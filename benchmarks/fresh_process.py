"""What the Python benchmarks share: a worker script run in a fresh process
(the pool size is read once per process, so each thread count needs its own)
and the best-of-runs timer those scripts use."""
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
