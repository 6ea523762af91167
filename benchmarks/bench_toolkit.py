"""Timings of the toolkit's native functions, reported as ratios measured in one run.

    python3 benchmarks/bench_toolkit.py [--quick]

- many("h") over 10,000 random binary sequences of 1,000 symbols, on 2
  threads, against a Python loop calling parsimetrics.h;
- many("h") over 10^7 sequences of two symbols against the same loop, and
  the peak memory many adds per row beyond its results;
- profile of 10^7 random binary symbols (window 10^4, step 10^3) on 2
  threads, against 1 thread (RAYON_NUM_THREADS=1) and a Python loop over the
  windows;
- the rate of another Python thread while many, profile and nid_matrix
  compute, against its rate when nothing else runs.

Each configuration runs in a fresh subprocess, since the pool size is read
once per process.  Parallel ratios mean something only on an idle machine:
the load average is printed before and after.  --quick divides the sizes by 10.
"""
import os

from fresh_process import load, run_worker, size_divisor

WORKER = r"""
import json, sys, threading, time
import numpy as np
import parsimetrics as pm
from parsimetrics_tools import many, nid_matrix, profile
from fresh_process import best

scale = int(sys.argv[2])
rng = np.random.default_rng(12345)
batch = [bytes(row) for row in rng.integers(0, 2, (10_000 // scale, 1_000), dtype=np.uint8)]
long = rng.integers(0, 2, 10_000_000 // scale, dtype=np.uint8).tobytes()
window, step = 10_000, 1_000
pairs = [rng.integers(0, 2, 200_000 // scale, dtype=np.uint8).tobytes() for _ in range(8)]

def other_thread_rate(f):
    # Iterations per second of a pure-Python loop in a second thread while f runs.
    count, done = [0], threading.Event()
    def spin():
        while not done.is_set():
            count[0] += 1
    thread = threading.Thread(target=spin)
    thread.start()
    time.sleep(0.05)
    before, t = count[0], time.perf_counter()
    f()
    rate = (count[0] - before) / (time.perf_counter() - t)
    done.set()
    thread.join()
    return rate

out = {}
task = sys.argv[1]
if task == "many":
    out["many"], values = best(lambda: many("h", batch))
    out["loop"], expected = best(lambda: [pm.h(s) for s in batch])
    out["same"] = values == expected
elif task == "tiny":
    rows = [bytes(row) for row in rng.integers(48, 50, (10_000_000 // scale, 2), dtype=np.uint8)]
    out["loop"], expected = best(lambda: [pm.h(s) for s in rows], repeat=1)
    del expected
    with open("/proc/self/statm") as f:
        base = int(f.read().split()[1]) * 4096
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # peak resident size from here on
    out["many"], values = best(lambda: many("h", rows), repeat=1)
    with open("/proc/self/status") as f:
        peak = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))
    results = sys.getsizeof(values) + sum(sys.getsizeof(v) for v in values)
    out["per_row"] = (peak - base - results) / len(rows)
elif task == "profile":
    out["profile"], (_, values) = best(lambda: profile(long, window, step), repeat=1)
    out["digest"] = values.tobytes().hex()[:64] + str(values.sum())
    if sys.argv[3] == "loop":
        starts = range(0, len(long) - window + 1, step)
        out["loop"], expected = best(lambda: [pm.h(long[s:s + window], log_base=2) for s in starts], repeat=1)
        out["same"] = values.tolist() == expected
elif task == "rates":
    out["idle"] = other_thread_rate(lambda: time.sleep(1.0))
    out["many"] = other_thread_rate(lambda: many("h", batch))
    out["profile"] = other_thread_rate(lambda: profile(long, window, step))
    out["nid_matrix"] = other_thread_rate(lambda: nid_matrix(pairs))
print(json.dumps(out))
"""


def run(threads, *args):
    return run_worker(WORKER, threads, *args)


def main():
    scale = size_divisor(__doc__)
    print(f"before: {load()}, {os.cpu_count()} CPUs")

    m = run(2, "many", scale)
    print(f"many('h'), {10_000 // scale} x 1,000 symbols, 2 threads: {m['loop'] / m['many']:.2f}x "
          f"a Python loop (identical: {m['same']})")

    t = run(2, "tiny", scale)
    print(f"many('h'), {10_000_000 // scale:,} x 2 symbols, 2 threads: {t['many'] / t['loop']:.2f} the time "
          f"of a Python loop, {t['per_row']:.0f} bytes per row beyond the results at the peak")

    one = run(1, "profile", scale, "none")
    two = run(2, "profile", scale, "loop")
    print(f"profile, {10_000_000 // scale:,} symbols, window 10^4, step 10^3: 2 threads "
          f"{one['profile'] / two['profile']:.2f}x 1 thread (identical: {one['digest'] == two['digest']}), "
          f"{two['loop'] / two['profile']:.2f}x a Python loop (identical: {two['same']})")

    rates = run(2, "rates", scale)
    for name in ("many", "profile", "nid_matrix"):
        print(f"another Python thread during {name}: {rates[name] / rates['idle']:.2f} of its idle rate")
    print(f"after: {load()}")


if __name__ == "__main__":
    main()
