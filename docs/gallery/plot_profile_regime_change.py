"""
Finding a change of regime with a sliding window
================================================

A signal whose mean and variance never change can still change its dynamics.
Here the first half is a strongly correlated AR(1) process and the second
half white noise, both scaled to zero mean and unit variance; a rolling
standard deviation sees nothing, while the entropy density of sliding windows
(:func:`parsimetrics_tools.profile`) jumps where the regime changes.

``profile`` normalizes every window with the whole sequence's alphabet size,
so the windows compare, and runs them on the worker pool.
"""

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics_tools as pt

rng = np.random.default_rng(7)
n, change = 60_000, 35_000

phi = 0.95
ar = np.empty(change)
ar[0] = rng.normal()
noise = rng.normal(size=change) * np.sqrt(1 - phi**2)
for t in range(1, change):
    ar[t] = phi * ar[t - 1] + noise[t]
x = np.concatenate([ar, rng.normal(size=n - change)])

# %%
# Symbols 1 above the median, 0 below; windows of 2,000 symbols every 250.

window, step = 2000, 250
starts, h = pt.profile(pt.symbolize(x, "median"), window=window, step=step)
centres = starts + window // 2
rolling_sd = np.array([x[s:s + window].std() for s in starts])

# The change point: the middle of the steepest rise between windows a window apart.
rise = h[window // step:] - h[: -(window // step)]
found = centres[np.argmax(rise)] + window // 2
print(f"regime change at {change}, found at {found} (error {abs(found - change)} samples)")

# %%

fig, (a, b) = plt.subplots(2, 1, figsize=(9, 6), sharex=True, constrained_layout=True)
a.plot(x, lw=0.3, color="0.3")
a.plot(centres, rolling_sd, color="C1", label="rolling standard deviation")
a.axvline(change, color="k", ls="--", lw=1)
a.set_ylabel("x")
a.legend(loc="upper left")
b.plot(centres, h, color="C0", label=f"h of windows of {window}")
b.axvline(change, color="k", ls="--", lw=1, label="true change")
b.axvline(found, color="C3", ls=":", lw=1.5, label="largest rise")
b.set_xlabel("sample")
b.set_ylabel("entropy density h")
b.legend(loc="center left")
plt.show()
