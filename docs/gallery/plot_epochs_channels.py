"""
Epochs × channels × times, as MNE gives them
============================================

Epoched EEG or MEG data arrive as an array of shape
``(n_epochs, n_channels, n_times)``. Here the data are synthetic: 40 epochs
of 16 channels, 2 s at 250 Hz. Every channel carries a 10 Hz alpha rhythm in
noise; in the second condition (epochs 20 to 39) the rhythm of the posterior
channels (the last six) gives way to broadband activity, as when the eyes
open.

The toolkit's functions take such arrays whole: the series lie along the
last axis, and the result has the shape of the array without it, one value
per epoch and channel.
"""

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics_tools as pt

rng = np.random.default_rng(3)
n_epochs, n_channels, sfreq = 40, 16, 250.0
times = np.arange(0, 2.0, 1 / sfreq)
posterior = np.arange(10, 16)
condition = np.repeat([0, 1], n_epochs // 2)

phase = rng.uniform(0, 2 * np.pi, (n_epochs, n_channels, 1))
amplitude = np.full((n_epochs, n_channels, 1), 2.0)
amplitude[np.ix_(condition == 1, posterior)] = 0.3  # alpha blocked in condition 1
data = amplitude * np.sin(2 * np.pi * 10 * times + phase) + rng.normal(size=(n_epochs, n_channels, len(times)))
print("data shape (epochs, channels, times):", data.shape)

# %%
# One value per epoch and channel
# -------------------------------
# The entropy density of each series split at its own median (``many`` reads
# an array of bools or small integers as symbol codes, one per element), and
# the permutation LZ complexity of its ordinal patterns.

codes = data > np.median(data, axis=-1, keepdims=True)
h = pt.many("h", codes)
plzc = pt.permutation_lzc(data, order=3)
print("h shape (epochs, channels):", h.shape, " permutation LZC shape:", plzc.shape)

for c in (0, posterior[0]):
    print(f"channel {c:2d}: h {h[condition == 0, c].mean():.3f} (alpha) "
          f"-> {h[condition == 1, c].mean():.3f} (alpha blocked); permutation LZC "
          f"{plzc[condition == 0, c].mean():.3f} -> {plzc[condition == 1, c].mean():.3f}")

# %%

fig, (a, b) = plt.subplots(1, 2, figsize=(11, 4.5), constrained_layout=True)
image = a.imshow(h, aspect="auto", cmap="magma", origin="lower")
a.axhline(n_epochs / 2 - 0.5, color="w", lw=1)
a.set_xlabel("channel")
a.set_ylabel("epoch")
a.set_title("entropy density per epoch and channel")
fig.colorbar(image, ax=a)
for k, name in enumerate(["alpha", "alpha blocked"]):
    mean, sd = h[condition == k].mean(axis=0), h[condition == k].std(axis=0)
    b.errorbar(np.arange(n_channels), mean, yerr=sd, fmt="o-", capsize=2, label=name)
b.set_xlabel("channel")
b.set_ylabel("h (mean ± sd over epochs)")
b.legend()
plt.show()
