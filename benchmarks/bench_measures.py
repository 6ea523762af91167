"""Timings of the measures from Python, reported as ratios measured in one run.

    python3 benchmarks/bench_measures.py [--sizes 100000,1000000]

For each size: emc, lz76 and nid with 1 and with 2 worker threads (each in a
fresh subprocess, since the pool size is read once per process), the speedup,
whether both runs gave identical results, and the lz76 time relative to the
factorizations it has to do (the whole sequence, its halves and one surrogate
per block length, each timed as a factorization of that length).  That ratio
is given in wall-clock time and in process CPU time: on one thread both
measure the same work, and CPU time does not count the time other processes
hold the core.  Speedups mean something only on an idle machine, so the load
average is printed first.
"""
import argparse
import os

from fresh_process import run_worker

WORKER = r"""
import json, random, sys, time
import parsimetrics as pm
from fresh_process import best


def wall_and_cpu(f, repeat=3):
    # Like best, with the least process CPU time of the runs as well.
    walls, cpus, result = [], [], None
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        result = f()
        cpus.append(time.process_time() - c)
        walls.append(time.perf_counter() - w)
    return min(walls), min(cpus), result

n = int(sys.argv[1])
rng = random.Random(12345)
x = bytes(rng.choice(b"01") for _ in range(n))
# A second sequence that shares most of its content with x.
y = bytearray(x)
for i in rng.sample(range(n), n // 100):
    y[i] ^= 1
y = bytes(y)

out = {}
out["emc"], emc = best(lambda: pm.emc(x))
out["lz76"], out["lz76_cpu"], full = wall_and_cpu(lambda: pm.lz76(x))
out["nid"], distance = best(lambda: pm.nid(x, y))
out["fact_whole"], out["fact_whole_cpu"], _ = wall_and_cpu(lambda: pm.factorization(x))
out["fact_halves"], out["fact_halves_cpu"], _ = wall_and_cpu(
    lambda: (pm.factorization(x[: n // 2]), pm.factorization(x[n // 2 :])))
out["blocks"] = full["emc"]["max_block_size"]
out["digest"] = repr((emc, full, distance))
print(json.dumps(out))
"""


def run(n, threads):
    return run_worker(WORKER, threads, n)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="100000,1000000")
    args = parser.parse_args()
    print("load average: %.2f %.2f %.2f" % os.getloadavg())
    print(f"{'n':>9} {'measure':>8} {'1 thread s':>11} {'2 threads s':>12} {'speedup':>8}")
    for n in map(int, args.sizes.split(",")):
        one, two = run(n, 1), run(n, 2)
        for name in ("emc", "lz76", "nid"):
            print(f"{n:>9} {name:>8} {one[name]:>11.4f} {two[name]:>12.4f} {one[name] / two[name]:>8.2f}")
        print(f"{n:>9} results identical with 1 and 2 threads: {one['digest'] == two['digest']}")
        engine = one["fact_whole"] * (1 + one["blocks"]) + one["fact_halves"]
        engine_cpu = one["fact_whole_cpu"] * (1 + one["blocks"]) + one["fact_halves_cpu"]
        print(f"{n:>9} lz76 / its factorizations (1 thread): {one['lz76'] / engine:.3f}"
              f" (CPU time {one['lz76_cpu'] / engine_cpu:.3f}, {one['blocks']} surrogates)")


if __name__ == "__main__":
    main()
