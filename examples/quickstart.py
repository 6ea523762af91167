"""Factorize the bundled example sequences and print what the measures say."""
from pathlib import Path

import parsimetrics

here = Path(__file__).resolve().parent
for path in sorted(here.glob("*.txt")):
    seq = path.read_text().replace("\n", "")
    complexity, factors = parsimetrics.factorization(seq)
    print(f"{path.name:24} n={len(seq):7} complexity={complexity:6} h={parsimetrics.h(seq):.4f}")
