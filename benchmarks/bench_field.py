"""Timings of the field's measures, reported as ratios measured in one run.

    python3 benchmarks/bench_field.py [--quick]

- many("kaspar_schuster") over 10,000 random binary sequences of 1,000
  symbols against many("h") on the same sequences (wall clock and CPU
  time), and against a Python loop calling kaspar_schuster, on 2 threads;
- permutation_lzc (D = 3) and multiscale LZC (scales 1..20, mean
  binarization, normalized; and its permutation form, ordinal:3) of 10^4
  samples against neurokit2's complexity_lempelziv and entropy_multiscale
  on the same series (the values are checked to agree);
- lzc_multichannel of 64 channels x 10^4 samples against the Hilbert
  transforms of the channels plus h of the 640,000 concatenated symbols
  (wall clock and CPU time).

Each configuration runs in a fresh subprocess, since the pool size is read
once per process.  The load average is printed before and after: on a
shared machine the ratios move with it.  --quick divides the sizes by 10.
"""
import os

from fresh_process import load, run_worker, size_divisor

WORKER = r"""
import json, sys, time
import numpy as np
from fresh_process import best
from parsimetrics_tools import kaspar_schuster, lzc_multichannel, many, multiscale, permutation_lzc

scale = int(sys.argv[2])
rng = np.random.default_rng(2024)
out = {}
task = sys.argv[1]
if task == "batch":
    batch = [bytes(row) for row in rng.integers(0, 2, (10_000 // scale, 1_000), dtype=np.uint8)]
    out["ks"], counts = best(lambda: many("kaspar_schuster", batch), repeat=5)
    out["h"], _ = best(lambda: many("h", batch), repeat=5)
    out["loop"], expected = best(lambda: [kaspar_schuster(s) for s in batch])
    # CPU time of all threads too: on a loaded machine it says more than the wall clock.
    cpu = {}
    for name in ("kaspar_schuster", "h") * 5:
        t = time.process_time()
        many(name, batch)
        cpu[name] = min(cpu.get(name, float("inf")), time.process_time() - t)
    out["cpu"] = cpu["kaspar_schuster"] / cpu["h"]
    out["same"] = counts == expected
elif task == "peers":
    import neurokit2 as nk
    x = rng.normal(size=10_000 // scale)
    scales = list(range(1, 21))
    out["plzc"], ours = best(lambda: permutation_lzc(x, 3), repeat=20)
    out["nk_plzc"], (theirs, _) = best(lambda: nk.complexity_lempelziv(x, dimension=3, permutation=True))
    out["plzc_same"] = bool(np.isclose(ours, theirs, rtol=1e-12))
    for name, method, extra in (("mslzc", "mean", {}), ("msplzc", "ordinal:3", {"permutation": True})):
        out[name], ours = best(lambda: multiscale(x, scales, "kaspar_schuster", method, normalize=True), repeat=20)
        out["nk_" + name], (_, info) = best(lambda: nk.entropy_multiscale(x, method="LZC", scale=scales, **extra), repeat=1)
        out[name + "_same"] = bool(np.allclose(ours, info["Value"], rtol=1e-12))
elif task == "multichannel":
    from scipy.signal import hilbert
    x = rng.normal(size=(64, 10_000 // scale)).cumsum(axis=1)
    def parts():
        envelope = np.abs(hilbert(x, axis=-1))
        bits = (envelope > envelope.mean(axis=-1, keepdims=True)).view(np.uint8)
        return many("h", [bits.T.tobytes()])
    # Interleaved, so that a change in the machine's load falls on both alike.
    times = {"parts": [], "lzc": [], "parts_cpu": [], "lzc_cpu": []}
    for _ in range(12):
        for name, f in (("parts", parts), ("lzc", lambda: lzc_multichannel(x))):
            cpu = time.process_time()
            times[name].append(best(f, repeat=1)[0])
            times[name + "_cpu"].append(time.process_time() - cpu)
    out.update({name: min(values) for name, values in times.items()})
print(json.dumps(out))
"""


def main():
    scale = size_divisor(__doc__)
    print(f"before: {load()}, {os.cpu_count()} CPUs")

    b = run_worker(WORKER, 2, "batch", scale)
    print(f"many('kaspar_schuster'), {10_000 // scale:,} x 1,000 symbols, 2 threads: {b['ks'] / b['h']:.2f}x "
          f"many('h') ({b['cpu']:.2f}x in CPU time); {b['loop'] / b['ks']:.2f}x faster than a Python loop "
          f"(identical: {b['same']})")

    p = run_worker(WORKER, 2, "peers", scale)
    for name, label in (("plzc", "permutation_lzc (D = 3)"), ("mslzc", "multiscale LZC (scales 1..20)"),
                        ("msplzc", "multiscale permutation LZC (scales 1..20)")):
        print(f"{label}, {10_000 // scale:,} samples: {p['nk_' + name] / p[name]:,.0f}x faster than neurokit2 "
              f"(same values: {p[name + '_same']})")

    m = run_worker(WORKER, 2, "multichannel", scale)
    print(f"lzc_multichannel, 64 x {10_000 // scale:,}: {m['lzc'] / m['parts']:.2f}x the Hilbert transforms "
          f"plus h of the concatenated symbols ({m['lzc_cpu'] / m['parts_cpu']:.2f}x in CPU time)")
    print(f"after: {load()}")


if __name__ == "__main__":
    main()
