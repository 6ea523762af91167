"""``parsimetrics analyze -m h`` over a FASTQ file of short reads, against the reading alone.

    python3 benchmarks/bench_reads.py [--reads 1000000] [--length 150] [--repeat 1]

Writes ``--reads`` random reads of ``--length`` nucleotides and times, each in a
fresh interpreter (start-up and imports included), best of ``--repeat``:

- ``parsimetrics analyze -m h FILE`` with its JSON lines sent to /dev/null;
- a script that only parses the file with dnaio and keeps each read's bytes.

It prints both times, the command's per 10^6 reads (at most 10 s on an idle
two-core machine) and its ratio to the reading alone; the machine's load goes
with them, since both share it.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

READ_ONLY = r"""
import sys
import dnaio
with dnaio.open(sys.argv[1]) as reads:
    kept = [read.sequence.encode() for read in reads]
print(len(kept))
"""


def best(command: list[str], repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--reads", type=int, default=1_000_000)
    parser.add_argument("--length", type=int, default=150)
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(1)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder, "reads.fastq")
        quality = "I" * args.length
        with path.open("w") as out:
            for i in range(args.reads):
                out.write(f"@r{i}\n{''.join(rng.choices('ACGT', k=args.length))}\n+\n{quality}\n")
        analyze = best([sys.executable, "-m", "parsimetrics_tools", "analyze", "-m", "h", "--json", str(path)],
                       args.repeat)
        reading = best([sys.executable, "-c", READ_ONLY, str(path)], args.repeat)
    per_million = analyze * 1e6 / args.reads
    print(f"load average {os.getloadavg()[0]:.2f}")
    print(f"analyze -m h: {analyze:.2f} s ({per_million:.2f} s per 10^6 reads; at most 10 on an idle machine)")
    print(f"reading alone: {reading:.2f} s; analyze takes {analyze / reading:.2f} times that")


if __name__ == "__main__":
    main()
