"""Lempel-Ziv complexity of multichannel recordings: LZc and LZs of Schartner et al."""

from __future__ import annotations

import hashlib
import sys
from typing import Any

import numpy as np

from .phrases import phrase_counts
from .shapes import map_series


def envelope_bits(x: np.ndarray) -> np.ndarray:
    """1 where the Hilbert amplitude envelope of a series (last axis) lies above its mean, else 0 (uint8).

    The envelope is ``abs(scipy.signal.hilbert(x))``.  A constant series is
    all 0: its envelope equals its mean everywhere, up to rounding.
    """
    from scipy.signal import hilbert

    envelope = np.abs(hilbert(x, axis=-1))
    bits = (envelope > envelope.mean(axis=-1, keepdims=True)).view(np.uint8)
    constant = (x == x[..., :1]).all(axis=-1)
    bits[constant] = 0
    return bits


def content_seed(bits: np.ndarray) -> int:
    """A 64-bit seed from the symbols and their shape, so that the same data draws the same shuffles."""
    digest = hashlib.blake2b(np.ascontiguousarray(bits).tobytes(), digest_size=8, person=b"lzc-shuffle")
    digest.update(np.asarray(bits.shape, dtype=np.int64).tobytes())
    return int.from_bytes(digest.digest(), "little")


def shuffled_bits(bits: np.ndarray, rng: np.random.Generator) -> np.ndarray:
    """Each row of 0s and 1s in a uniformly random order.

    The rarer symbol goes to a uniformly drawn set of positions
    (``rng.choice(n, k, replace=False, shuffle=False)``): the same
    distribution as a full shuffle, at a fraction of its cost.
    """
    n = bits.shape[-1]
    out = np.empty_like(bits)
    for row, source in zip(out.reshape(-1, n), bits.reshape(-1, n)):
        ones = int(np.count_nonzero(source))
        rare = 1 if 2 * ones <= n else 0
        row.fill(1 - rare)
        row[rng.choice(n, ones if rare else n - ones, replace=False, shuffle=False)] = rare
    return out


def as_channels(x: Any, axis: Any, channel_axis: Any) -> tuple[Any, Any, Any]:
    """A DataFrame as channels (its columns) x time (its rows); anything else as given."""
    frame = sys.modules.get("pandas")
    if frame is not None and isinstance(x, frame.DataFrame):
        return x.to_numpy().T, -1, -2
    return x, axis, channel_axis


def lzc_multichannel(
    x: Any,
    *,
    axis: Any = None,
    channel_axis: Any = -2,
    seed: int | None = None,
    dim: Any = None,
    channel_dim: Any = None,
) -> Any:
    """LZc and LZs of multichannel recordings (Schartner et al. 2015, 2017).

    Parameters
    ----------
    x : array-like, pandas.DataFrame or xarray.DataArray of numbers
        Channels x time: the time axis is ``axis`` (default the last), the
        channel axis ``channel_axis`` (default the one before it); any
        further axes hold separate recordings.  For a DataArray, ``dim`` and
        ``channel_dim`` name them; a DataFrame is read with its columns as
        channels and its rows as samples.
    seed : int, optional
        Seeds the shuffles.  By default each recording's shuffles are
        seeded from its binarized content, so a result depends on the data
        alone and reproduces.

    Returns
    -------
    numpy.ndarray, xarray.DataArray
        ``[lzc, lzs]`` (float64) for one recording; for several, their
        array with a last axis of length 2 (a DataArray's dimension
        ``measure`` labelled ``lzc``, ``lzs``).

    Raises
    ------
    ValueError
        No channel or no sample, missing values (NaN), or a ``seed`` that
        is not a non-negative integer.
    TypeError
        ``x`` does not hold real numbers.

    Notes
    -----
    Each channel is binarized at the mean of its Hilbert amplitude envelope:
    1 where ``abs(scipy.signal.hilbert(channel))`` lies above its mean
    (``symbolize(x, "hilbert")``).  With c channels and n samples:

    - LZc: the channels x time matrix read time-major (all channels at the
      first sample, then at the second, ...) is one sequence of c n symbols;
      its Kaspar-Schuster count divided by that of a random shuffle of the
      same symbols.
    - LZs: each channel's count divided by that of a shuffle of that
      channel, averaged over the channels.

    Dividing by a shuffled copy's count puts values near 1 for signals with
    no structure beyond their fraction of ones.  One draw of the shuffle is
    used, as in the published method: NumPy's default generator places the
    rarer symbol of the sequence, then of each channel in turn, at uniformly
    drawn positions (``shuffled_bits``), which is a uniform shuffle.  Detrend the data first if the analysis calls for it
    (``scipy.signal.detrend``).

    References
    ----------
    M. Schartner, A. Seth, Q. Noirhomme, M. Boly, M.-A. Bruno, S. Laureys,
    A. Barrett, Complexity of multi-dimensional spontaneous EEG decreases
    during propofol induced general anaesthesia, PLOS ONE 10 (2015) e0133532.
    M. M. Schartner, R. L. Carhart-Harris, A. B. Barrett, A. K. Seth,
    S. D. Muthukumaraswamy, Increased spontaneous MEG signal diversity for
    psychoactive doses of ketamine, LSD and psilocybin, Sci. Rep. 7 (2017)
    46421.

    Examples
    --------
    >>> rng = np.random.default_rng(0)
    >>> lzc, lzs = lzc_multichannel(rng.normal(size=(8, 2000)))
    >>> bool(0.8 < lzc < 1.2 and 0.8 < lzs < 1.2)
    True
    >>> lzc_multichannel(rng.normal(size=(5, 8, 2000))).shape
    (5, 2)
    """
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, (int, np.integer)) or seed < 0):
        raise ValueError(f"lzc_multichannel: seed must be a non-negative int or None, not {seed!r}")
    x, axis, channel_axis = as_channels(x, axis, channel_axis)

    def compute(recordings: np.ndarray) -> np.ndarray:
        if recordings.ndim != 3 or recordings.shape[-1] == 0 or recordings.shape[-2] == 0:
            raise ValueError("lzc_multichannel: expected channels x time with at least one channel and one sample")
        if not np.isfinite(recordings).all():
            raise ValueError("lzc_multichannel: x holds missing or infinite values; drop or fill them first")
        bits = envelope_bits(recordings)
        m, c, _ = bits.shape
        rows = []
        for item in bits:
            rng = np.random.default_rng(content_seed(item) if seed is None else seed)
            time_major = item.T.ravel()
            rows += [time_major, shuffled_bits(time_major, rng), *item, *shuffled_bits(item, rng)]
        counts = phrase_counts(rows).reshape(m, 2 + 2 * c).astype(np.float64)
        lzc = counts[:, 0] / counts[:, 1]
        lzs = (counts[:, 2 : 2 + c] / counts[:, 2 + c :]).mean(axis=1)
        return np.stack([lzc, lzs], axis=1)

    return map_series(
        "lzc_multichannel", x, compute, axis=axis, dim=dim, channel_axis=channel_axis if channel_dim is None else None,
        channel_dim=channel_dim, numeric=True, new_dim=("measure", ("lzc", "lzs")),
    )
