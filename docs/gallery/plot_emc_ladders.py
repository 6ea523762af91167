"""
EMC ladders of periodic, Fibonacci and random words
===================================================

The effective measure complexity accumulates, block length by block length,
how much structure longer than the block the sequence holds: shuffling it in
blocks of l symbols keeps the structure inside blocks and destroys the rest.
The ladder is the running sum of the summands that :func:`parsimetrics.emc`
returns.

- A periodic word climbs in steps, one block length past each multiple of
  its period (8, 15, 22, ... for period 7), and stays flat in between.
- The Fibonacci word, never periodic, climbs at every scale.
- Coin flips have no structure to lose: their ladder stays near zero.

The three words of 10,000 symbols are the repository's ``examples/`` files.
"""

from pathlib import Path

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics as pm

examples = Path("../../examples").resolve()  # the repository's; the gallery runs in docs/gallery
words = {
    "periodic (period 7)": "periodic.txt",
    "Fibonacci": "fibonacci.txt",
    "coin flips": "random_binary.txt",
}
ladders = {}
for label, name in words.items():
    symbols = "".join((examples / name).read_text().split())
    value, summands = pm.emc(symbols, max_block_size=40)
    ladders[label] = np.cumsum(summands)
    print(f"{label:22s} n = {len(symbols)}, h = {pm.h(symbols):.4f}, EMC = {value:.4f}")

# %%
# Periodic words of other periods, made here, show where the steps fall.

for period in ("01", "011", "0001011011011"):
    word = (period * (10_000 // len(period) + 1))[:10_000]
    ladders[f"period {len(period)}"] = np.cumsum(pm.emc(word, max_block_size=40)[1])

fig, ax = plt.subplots(figsize=(8, 5), constrained_layout=True)
blocks = np.arange(1, 41)
for i, (label, ladder) in enumerate(ladders.items()):
    style = "-" if i < 3 else ":"
    ax.step(blocks, ladder, where="post", ls=style, lw=2 if i < 3 else 1.2, label=label)
ax.set_xlabel("block length l")
ax.set_ylabel("EMC ladder (sum of summands up to l)")
ax.legend()
plt.show()
