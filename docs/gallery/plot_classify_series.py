"""
Classifying time series by LZ measures
======================================

Four kinds of signal, 60 series of 2,000 samples each, in one 2-D array (one
series per row): white noise, an AR(1) process, a noisy sine and the chaotic
logistic map. Three LZ features per series, each computed for all rows at
once:

- the single-scale entropy density of the median-split series
  (:func:`parsimetrics_tools.many` over the rows of the symbolized array);
- the slope of the multiscale entropy density over scales 1 to 8
  (:func:`parsimetrics_tools.multiscale`);
- the permutation LZ complexity (:func:`parsimetrics_tools.permutation_lzc`):
  the Kaspar-Schuster count of the ordinal patterns of order 3, normalized
  with the :math:`3! = 6` possible patterns.

A nearest-centroid rule trained on half of the series classifies the other
half.
"""

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics_tools as pt

rng = np.random.default_rng(11)
per_class, n = 60, 2000
t = np.arange(n)


def ar1(phi, size):
    x = np.zeros(size)
    e = rng.normal(size=size)
    for i in range(1, size[1]):
        x[:, i] = phi * x[:, i - 1] + e[:, i]
    return x


def logistic(size, r=3.9):
    x = rng.uniform(0.2, 0.8, size[0])
    out = np.empty(size)
    for i in range(size[1]):
        x = r * x * (1 - x)
        out[:, i] = x
    return out


classes = {
    "white noise": rng.normal(size=(per_class, n)),
    "AR(1), φ = 0.7": ar1(0.7, (per_class, n)),
    "noisy sine": np.sin(2 * np.pi * t / 50 + rng.uniform(0, 2 * np.pi, (per_class, 1)))
    + 0.6 * rng.normal(size=(per_class, n)),
    "logistic map": logistic((per_class, n)),
}
X = np.vstack(list(classes.values()))
y = np.repeat(np.arange(len(classes)), per_class)

# %%
# The features, each one call over the whole 2-D array
# -----------------------------------------------------

single = np.array(pt.many("h", pt.symbolize(X, "median")))
scales = [1, 2, 4, 8]
multi = pt.multiscale(X, scales)  # one row of values per series
slope = np.polyfit(np.log2(scales), multi.T, 1)[0]
permutation = pt.permutation_lzc(X, order=3)  # one value per row
features = np.column_stack([single, slope, permutation])

# %%
# Nearest centroid, trained on even rows, tested on odd rows
# ----------------------------------------------------------

train, test = np.arange(len(X)) % 2 == 0, np.arange(len(X)) % 2 == 1
scale = features[train].std(axis=0)
centroids = np.array([features[train & (y == c)].mean(axis=0) for c in range(len(classes))])
distances = np.linalg.norm((features[test][:, None, :] - centroids[None]) / scale, axis=2)
predicted = distances.argmin(axis=1)
print(f"test accuracy: {np.mean(predicted == y[test]):.3f} on {test.sum()} series")
for c, name in enumerate(classes):
    print(f"  {name:16s} h {single[y == c].mean():.3f}  slope {slope[y == c].mean():+.3f}  "
          f"permutation {permutation[y == c].mean():.3f}")

# %%

fig, (a, b) = plt.subplots(1, 2, figsize=(11, 4.5), constrained_layout=True)
for c, name in enumerate(classes):
    a.scatter(single[y == c], permutation[y == c], s=12, label=name)
    b.plot(scales, multi[y == c].T, color=f"C{c}", alpha=0.15)
    b.plot(scales, multi[y == c].mean(axis=0), "o-", color=f"C{c}", label=name)
a.set_xlabel("entropy density h (median split)")
a.set_ylabel("permutation LZ complexity (order 3)")
a.legend()
b.set_xscale("log", base=2)
b.set_xlabel("scale")
b.set_ylabel("h of the coarse-grained series")
b.set_title("multiscale")
plt.show()
