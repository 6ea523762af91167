"""
Multichannel LZ complexity and PCI
==================================

Two measures of many channels at once, on synthetic data.

**LZc and LZs** (:func:`parsimetrics_tools.lzc_multichannel`, Schartner et al.
2015, 2017) binarize each channel at the mean of its amplitude envelope and
count the channels x time matrix read time by time (LZc), or each channel on
its own (LZs), each normalized by a shuffled copy. Here 20 epochs of 32
channels, 4 s at 250 Hz, in two states: "awake", independent broadband
activity in every channel, and "anaesthesia", bursts of a 10 Hz rhythm that
wax and wane with a slow wave shared by all channels, over little independent
activity. The array of shape
``(epochs, channels, times)`` is measured in one call.

**PCI** (:func:`parsimetrics_tools.pci`, Casali et al. 2013) counts the
sources x time matrix of significant responses to a stimulus, found by
:func:`parsimetrics_tools.significance_matrix` against the pre-stimulus
baseline. Two synthetic responses of 40 sources over 60 trials: a
differentiated one (each source responds at its own latency, for its own
duration, in its own direction) and a stereotyped one (every source responds
at once, the same way). The stimulation, the recording and the source
modelling that give such trials stay with the user.
"""

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics_tools as pt

rng = np.random.default_rng(5)

# %%
# LZc and LZs of two states
# -------------------------

epochs, channels, sfreq = 20, 32, 250.0
t = np.arange(0, 4.0, 1 / sfreq)
awake = rng.normal(size=(epochs, channels, len(t)))
# Bursts of a 10 Hz rhythm, waxing and waning with a slow wave that all channels share.
slow = 1 + np.sin(2 * np.pi * rng.uniform(0.5, 1.0, (epochs, 1, 1)) * t + rng.uniform(0, 2 * np.pi, (epochs, 1, 1)))
carrier = np.sin(2 * np.pi * 10 * t + rng.uniform(0, 2 * np.pi, (epochs, channels, 1)))
anaesthesia = 3 * slow * carrier + 0.5 * rng.normal(size=(epochs, channels, len(t)))

values = {"awake": pt.lzc_multichannel(awake), "anaesthesia": pt.lzc_multichannel(anaesthesia)}
for state, v in values.items():
    print(f"{state:12s} LZc {v[:, 0].mean():.3f} ± {v[:, 0].std():.3f}   LZs {v[:, 1].mean():.3f} ± {v[:, 1].std():.3f}")

# %%
# PCI of two responses
# --------------------

trials, sources, before, after = 60, 40, 200, 150


def response(kind):
    baseline = rng.normal(size=(trials, sources, before))
    evoked = rng.normal(size=(trials, sources, after))
    if kind == "differentiated":
        for s in range(sources):
            start = rng.integers(5, 100)
            length = rng.integers(5, 40)
            evoked[:, s, start:start + length] += rng.choice([-1, 1]) * 1.5
    else:  # stereotyped: every source at once
        evoked[:, :, 20:70] += 1.5
    return evoked, baseline


matrices = {kind: pt.significance_matrix(*response(kind), n_boot=200) for kind in ("differentiated", "stereotyped")}
pcis = {kind: pt.pci(m) for kind, m in matrices.items()}
for kind, value in pcis.items():
    print(f"{kind:15s} PCI {value:.3f} ({matrices[kind].mean():.1%} of the matrix significant)")

# %%

fig = plt.figure(figsize=(12, 7), constrained_layout=True)
grid = fig.add_gridspec(2, 3)
ax = fig.add_subplot(grid[0, 0])
ax.plot(t[:500], awake[0, :3, :500].T + [0, 4, 8], lw=0.5)
ax.set_title("awake: 3 of 32 channels")
ax.set_yticks([])
ax = fig.add_subplot(grid[0, 1])
ax.plot(t[:500], anaesthesia[0, :3, :500].T + [0, 8, 16], lw=0.5)
ax.set_title("anaesthesia: 3 of 32 channels")
ax.set_yticks([])
ax = fig.add_subplot(grid[0, 2])
for i, (state, v) in enumerate(values.items()):
    ax.scatter(np.full(epochs, i * 2) + rng.uniform(-0.2, 0.2, epochs), v[:, 0], s=12, color=f"C{i}")
    ax.scatter(np.full(epochs, i * 2 + 1) + rng.uniform(-0.2, 0.2, epochs), v[:, 1], s=12, color=f"C{i}",
               marker="^")
ax.set_xticks([0, 1, 2, 3], ["awake\nLZc", "awake\nLZs", "anaesth.\nLZc", "anaesth.\nLZs"])
ax.set_ylabel("normalized complexity")
ax.set_title("per epoch")
for i, (kind, m) in enumerate(matrices.items()):
    ax = fig.add_subplot(grid[1, i])
    ranked = m[np.argsort(-m.sum(axis=1), kind="stable")]  # the order PCI reads the sources in
    ax.imshow(ranked, aspect="auto", cmap="Greys", interpolation="nearest")
    ax.set_title(f"{kind}: PCI = {pcis[kind]:.2f}")
    ax.set_xlabel("sample after the stimulus")
    ax.set_ylabel("source (most active first)")
ax = fig.add_subplot(grid[1, 2])
ax.bar(list(pcis), list(pcis.values()), color=["C2", "C3"])
ax.set_ylabel("PCI")
plt.show()
