"""The perturbational complexity index (PCI) of Casali et al., and the significance matrix it is computed on."""

from __future__ import annotations

import operator
from typing import Any

import numpy as np

from .multichannel import as_channels
from .phrases import phrase_counts
from .shapes import map_series

ORDERS = ("activity", "given")


def pci(binary: Any, *, axis: Any = None, source_axis: Any = -2, order: str = "activity", dim: Any = None,
        source_dim: Any = None) -> Any:
    """The perturbational complexity index of binary sources x time matrices (Casali et al. 2013).

    Parameters
    ----------
    binary : array-like or xarray.DataArray of 0 and 1 (bool or integers)
        Sources x time: which source is significantly active at which
        sample, as ``significance_matrix`` gives it.  The time axis is
        ``axis`` (default the last), the source axis ``source_axis`` (default
        the one before it); further axes hold separate matrices.  For a
        DataArray, ``dim`` and ``source_dim`` name them; a DataFrame is read
        with its columns as sources and its rows as samples.
    order : {"activity", "given"}
        ``"activity"`` (the published method): sources sorted by their
        number of active samples, most active first, ties in the given
        order; ``"given"``: as they are.

    Returns
    -------
    float, numpy.ndarray, xarray.DataArray
        PCI (float64) per matrix: a plain float for one matrix.

    Raises
    ------
    ValueError
        A value other than 0 and 1, an input that is not sources x time,
        or an unknown ``order``.
    TypeError
        Values that are not integers or bools.

    Notes
    -----
    With L the number of entries (sources x samples), p the fraction of
    ones, ``H = -p log2 p - (1 - p) log2(1 - p)`` the source entropy and
    c_L the Kaspar-Schuster count (see ``kaspar_schuster``) of the matrix
    read time-major (all sources at the first sample, then at the second,
    ...) after ordering its sources::

        PCI = c_L * log2(L) / (L * H)

    Values near 1 mean a response as complex as noise of the same sparsity;
    a matrix with no activity at all, or activity everywhere (H = 0), gives
    0.0, as does one of fewer than two entries.  Casali et al. order the
    sources by their total significant activity before reading the matrix,
    so that the count does not depend on how the sources were numbered;
    ``order="given"`` keeps the caller's order.

    Of the published pipeline this computes the last step, and
    ``significance_matrix`` the one before it.  The stimulation (TMS),
    the EEG recording and its cleaning, and the source modelling that gives
    source activity per trial stay with the user.

    References
    ----------
    A. G. Casali, O. Gosseries, M. Rosanova, M. Boly, S. Sarasso,
    K. R. Casali, S. Casarotto, M.-A. Bruno, S. Laureys, G. Tononi,
    M. Massimini, A theoretically based index of consciousness independent
    of sensory processing and behavior, Sci. Transl. Med. 5 (2013) 198ra105.

    Examples
    --------
    >>> pci(np.zeros((4, 100), dtype=bool))
    0.0
    >>> rng = np.random.default_rng(0)
    >>> round(pci(rng.random((60, 300)) < 0.2), 2)
    1.01
    """
    if order not in ORDERS:
        raise ValueError(f"pci: order must be 'activity' or 'given', not {order!r}")
    binary, axis, source_axis = as_channels(binary, axis, source_axis)

    def compute(matrices: np.ndarray) -> list:
        if matrices.ndim != 3:
            raise ValueError("pci: expected sources x time")
        if matrices.size and matrices.max() > 1:
            raise ValueError(f"pci: expected a binary matrix (0 and 1), found the value {int(matrices.max())}")
        if order == "activity":
            ranks = np.argsort(-matrices.sum(axis=2, dtype=np.int64), axis=1, kind="stable")
            matrices = np.take_along_axis(matrices, ranks[:, :, None], axis=1)
        m, sources, samples = matrices.shape
        entries = sources * samples
        counts = phrase_counts(np.swapaxes(matrices, 1, 2).reshape(m, entries)).astype(np.float64)
        p = matrices.reshape(m, entries).mean(axis=1) if entries else np.zeros(m)
        with np.errstate(divide="ignore", invalid="ignore"):
            h = -(p * np.log2(p) + (1 - p) * np.log2(1 - p))
            value = counts * np.log2(entries) / (entries * h)
        return np.where((h > 0) & (entries >= 2), value, 0.0).tolist()

    return map_series("pci", binary, compute, axis=axis, dim=dim, channel_axis=source_axis if source_dim is None else None,
                      channel_dim=source_dim)


def significance_matrix(
    trials: Any, baseline: Any, alpha: float = 0.01, n_boot: int = 500, seed: int = 0
) -> np.ndarray:
    """Which sources respond significantly at which samples: the binary matrix ``pci`` reads.

    Parameters
    ----------
    trials : array-like, shape (trials, sources, samples)
        Source activity after the stimulus, one matrix per trial.
    baseline : array-like, shape (trials, sources, baseline samples)
        The same trials and sources before the stimulus.
    alpha : float
        The significance level, in (0, 1).
    n_boot : int
        The number of bootstrap draws, at least 1.
    seed : int
        Seeds the draws (NumPy's default generator), so results reproduce.

    Returns
    -------
    numpy.ndarray of bool, shape (sources, samples)

    Raises
    ------
    ValueError
        Arrays that are not 3-D or whose numbers of trials or sources
        differ, an empty axis, values that are not finite, ``alpha`` outside
        (0, 1) or ``n_boot`` below 1.

    Notes
    -----
    A bootstrap against the pre-stimulus baseline, with one threshold for
    all sources and samples so that the family of tests keeps level alpha:

    1. Each source is normalized by its baseline: the mean of all its
       baseline values (every trial and sample) is subtracted from trials
       and baseline, and both are divided by those values' standard
       deviation.
    2. The response R[x, t] is the mean over trials of the normalized
       activity after the stimulus.
    3. For each of ``n_boot`` draws, the samples of every trial's baseline
       are shuffled in time (one permutation per trial, shared by all
       sources, so the sources keep their correlation), averaged over
       trials, and the largest absolute value over all sources and baseline
       samples is kept.
    4. The threshold T is the 1 - alpha quantile of those maxima (linear
       interpolation, as ``numpy.quantile``).
    5. The matrix is ``abs(R) > T``.

    This follows the nonparametric bootstrap of Casali et al. (2013): the
    null distribution is the trial average of baseline activity whose time
    structure is destroyed, and the maximum over sources and samples
    controls the error rate over the whole matrix.  A source whose baseline
    is constant has no spread to normalize by and is never significant.

    Examples
    --------
    >>> rng = np.random.default_rng(1)
    >>> before = rng.normal(size=(40, 6, 100))
    >>> after = rng.normal(size=(40, 6, 50))
    >>> after[:, 2, 10:20] += 3  # source 2 responds from sample 10 to 19
    >>> np.flatnonzero(significance_matrix(after, before, n_boot=200).any(axis=0)).tolist()
    [10, 11, 12, 13, 14, 15, 16, 17, 18, 19]
    """
    post = np.asarray(trials, dtype=np.float64)
    pre = np.asarray(baseline, dtype=np.float64)
    if post.ndim != 3 or pre.ndim != 3:
        raise ValueError("significance_matrix: trials and baseline must be (trials, sources, samples) arrays")
    if post.shape[:2] != pre.shape[:2] or 0 in post.shape or 0 in pre.shape:
        raise ValueError(
            f"significance_matrix: trials {post.shape} and baseline {pre.shape} need the same non-zero "
            "numbers of trials and sources, and samples"
        )
    if not 0 < alpha < 1:
        raise ValueError(f"significance_matrix: alpha must lie between 0 and 1, not {alpha!r}")
    draws = operator.index(n_boot)
    if draws < 1:
        raise ValueError(f"significance_matrix: n_boot must be at least 1, not {draws}")
    if not (np.isfinite(post).all() and np.isfinite(pre).all()):
        raise ValueError("significance_matrix: trials and baseline must be finite (no NaN or infinity)")

    mean = pre.mean(axis=(0, 2), keepdims=True)
    spread = pre.std(axis=(0, 2), keepdims=True)
    flat = spread == 0
    spread[flat] = 1.0
    post, pre = (post - mean) / spread, (pre - mean) / spread
    response = post.mean(axis=0)

    rng = np.random.default_rng(seed)
    count, sources, length = pre.shape
    # Samples x sources per trial, so that a permutation in time gathers whole rows; each draw sums
    # into one sources x samples array instead of copying every trial.
    by_sample = np.ascontiguousarray(pre.transpose(0, 2, 1))
    maxima = np.empty(draws)
    total = np.empty((length, sources))
    for b in range(draws):
        total[:] = 0.0
        for trial in by_sample:
            total += trial[rng.permutation(length)]
        maxima[b] = np.abs(total).max() / count
    threshold = np.quantile(maxima, 1 - alpha)
    significant = np.abs(response) > threshold
    significant[flat[0, :, 0]] = False
    return significant
