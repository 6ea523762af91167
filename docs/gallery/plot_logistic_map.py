"""
Complexity of the logistic map
==============================

Kaspar and Schuster (1987) drew the bifurcation diagram of the logistic map
:math:`x \\mapsto r x (1 - x)` above its normalized complexity and its
Lyapunov exponent, on one axis of r from 3.5 to 4. Periodic windows, where
the Lyapunov exponent dips below zero, are exactly where the complexity of
the orbit's symbols (1 above :math:`x = 1/2`, 0 below) collapses; in the
chaotic bands the two rise together.

Every value of r is iterated at once as one NumPy vector. The normalized
complexity is the entropy density ``h`` in bits, of 10,000 symbols per value
of r, computed for all 800 orbits in one call of
:func:`parsimetrics_tools.many`.
"""

import matplotlib.pyplot as plt
import numpy as np

import parsimetrics_tools as pt

r = np.linspace(3.5, 4.0, 800)
transient, kept = 1000, 10_000

x = np.full_like(r, 0.4)
for _ in range(transient):
    x = r * x * (1 - x)
orbits = np.empty((len(r), kept))
for t in range(kept):
    x = r * x * (1 - x)
    orbits[:, t] = x

# The Lyapunov exponent: the mean logarithm of the map's slope along the orbit.
with np.errstate(divide="ignore"):
    lyapunov = np.mean(np.log(np.abs(r[:, None] * (1 - 2 * orbits))), axis=1)

# One row of symbols per value of r, cut at the critical point x = 1/2.
symbols = pt.symbolize(orbits, "threshold:0.5")
complexity = np.array(pt.many("h", symbols, log_base=2))

# %%
# The figure
# ----------

fig, (top, middle, bottom) = plt.subplots(3, 1, figsize=(9, 9), sharex=True, constrained_layout=True)
shown = orbits[:, -200:]
top.plot(np.repeat(r, shown.shape[1]), shown.ravel(), ",k", alpha=0.25)
top.set_ylabel("x (last 200 states)")
top.set_title("bifurcation diagram")
middle.plot(r, lyapunov, lw=0.8)
middle.axhline(0, color="k", lw=0.6)
middle.set_ylim(-1.5, 0.8)
middle.set_ylabel("Lyapunov exponent λ")
bottom.plot(r, complexity, lw=0.8, color="C3", label="h, 10,000 symbols")
bottom.plot(r, np.clip(lyapunov, 0, None) / np.log(2), lw=0.8, color="C0", alpha=0.6,
            label="max(λ, 0) / ln 2")
bottom.set_ylabel("bits per symbol")
bottom.set_xlabel("r")
bottom.set_title("normalized complexity")
bottom.legend(loc="upper left")
plt.show()

# %%
# Where the orbit is periodic the count of factors stops growing, and ``h``
# falls towards zero; at r = 4 the symbols are as unpredictable as coin flips.
# ``h`` lies near :math:`\max(\lambda, 0) / \ln 2` where the partition at
# :math:`x = 1/2` is generating and the orbit has forgotten its start; near
# the band-merging points the finite length keeps it above.

for at in (3.6, 3.835, 3.9, 4.0):  # 3.835 lies in the period-3 window
    i = np.argmin(np.abs(r - at))
    print(f"r = {r[i]:.4f}: h {complexity[i]:.3f} bits, λ / ln 2 {lyapunov[i] / np.log(2):+.3f}")
