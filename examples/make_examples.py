#!/usr/bin/env python3
"""Write the example data files of this folder.

    python3 examples/make_examples.py [OUTPUT_FOLDER]

The output is the same on every run and every machine: the random parts come
from seeded generators, and the floating-point orbit uses only IEEE
arithmetic. The symbol files all hold 10,000 symbols so that their measures
can be compared directly.
"""

from __future__ import annotations

import random
import sys
from pathlib import Path

LENGTH = 10_000
WIDTH = 80


def wrap(symbols: str, width: int = WIDTH) -> str:
    return "".join(symbols[i : i + width] + "\n" for i in range(0, len(symbols), width))


def random_binary(n: int, seed: int = 20240601) -> str:
    """Fair coin flips: no structure, entropy density near 1."""
    rng = random.Random(seed)
    return "".join("1" if rng.getrandbits(1) else "0" for _ in range(n))


def periodic(n: int, period: str = "0010111") -> str:
    """One word repeated: entropy density near 0."""
    return (period * (n // len(period) + 1))[:n]


def fibonacci_word(n: int) -> str:
    """The Fibonacci word (0 -> 01, 1 -> 0): never periodic, yet of vanishing entropy density."""
    previous, word = "0", "01"
    while len(word) < n:
        previous, word = word, word + previous
    return word[:n]


def logistic_orbit(n: int, r: float = 3.7, x: float = 0.4, transient: int = 1000) -> list[float]:
    """Successive states of x -> r x (1 - x), after a transient has died out."""
    orbit = []
    for step in range(transient + n):
        x = r * x * (1.0 - x)
        if step >= transient:
            orbit.append(x)
    return orbit


def dna(rng: random.Random, n: int, weights=(1, 1, 1, 1)) -> str:
    return "".join(rng.choices("ACGT", weights=weights, k=n))


def mutate(rng: random.Random, sequence: str, rate: float) -> str:
    return "".join(rng.choice("ACGT".replace(c, "")) if rng.random() < rate else c for c in sequence)


def fasta_records(seed: int = 7) -> list[tuple[str, str, str]]:
    rng = random.Random(seed)
    ancestor = dna(rng, 2000)
    unit = dna(rng, 13)
    return [
        ("ancestor", "uniform random bases", ancestor),
        ("mutant", "the ancestor with 5% of its bases substituted", mutate(rng, ancestor, 0.05)),
        ("unrelated", "independent uniform random bases", dna(rng, 2000)),
        ("gc_rich", "random bases, 80% G or C", dna(rng, 2000, weights=(1, 4, 4, 1))),
        ("tandem", "a 13-base unit repeated, 2% substituted", mutate(rng, (unit * 154)[:2000], 0.02)),
    ]


def fastq_reads(ancestor: str, count: int = 100, length: int = 150, seed: int = 11) -> str:
    """Reads of the ancestor as a sequencer gives them: 1% miscalls, and an N where a base went unread."""
    rng = random.Random(seed)
    reads = []
    for index in range(count):
        start = rng.randrange(len(ancestor) - length)
        read = mutate(rng, ancestor[start : start + length], 0.01)
        read = "".join("N" if rng.random() < 0.002 else c for c in read)
        quality = "".join("#" if c == "N" else chr(33 + rng.randint(25, 40)) for c in read)
        reads.append(f"@read{index + 1} ancestor:{start + 1}-{start + length}\n{read}\n+\n{quality}\n")
    return "".join(reads)


def main(folder: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "random_binary.txt").write_text(wrap(random_binary(LENGTH)))
    (folder / "periodic.txt").write_text(wrap(periodic(LENGTH)))
    (folder / "fibonacci.txt").write_text(wrap(fibonacci_word(LENGTH)))

    orbit = logistic_orbit(LENGTH)
    # Symbolized at the critical point x = 1/2, the map's generating partition.
    (folder / "logistic.txt").write_text(wrap("".join("1" if x > 0.5 else "0" for x in orbit)))
    # The states themselves, for trying the numeric input and its symbolizers:
    # threshold:0.5 on them gives logistic.txt again.
    rows = "".join(f"{step},{x!r}\n" for step, x in enumerate(orbit))
    (folder / "logistic.csv").write_text("step,x\n" + rows)

    records = fasta_records()
    (folder / "sequences.fasta").write_text(
        "".join(f">{name} {description}\n{wrap(sequence, 60)}" for name, description, sequence in records)
    )
    # Sequencing reads of the ancestor, for the FASTQ reader.
    (folder / "reads.fastq").write_text(fastq_reads(records[0][2]))


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent)
