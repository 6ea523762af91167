"""Permutation Lempel-Ziv complexity: the Kaspar-Schuster count of a series' ordinal patterns."""

from __future__ import annotations

import math
import operator
from typing import Any

import numpy as np

from .phrases import phrase_counts
from .shapes import map_series
from .symbolizers import MAX_ORDER, Symbolizer, symbolize_rows

NORMALIZATIONS = ("possible", "observed")


def permutation_lzc(
    x: Any, order: int = 3, delay: int = 1, normalize: str | None = "possible", *, axis: Any = None, dim: Any = None
) -> Any:
    """Permutation Lempel-Ziv complexity (PLZC) of every series of ``x``.

    Parameters
    ----------
    x : array-like, pandas or xarray object of numbers
        The series, along ``axis`` (or the DataArray dimension ``dim``).
    order : int
        D, the number of values in an ordinal pattern, from 2 to 7.
    delay : int
        TAU, the step between a pattern's values, at least 1.
    normalize : {"possible", "observed", None}
        ``"possible"``: the count c of the n' patterns is scaled to
        ``c * log_k(n') / n'`` with k = D!, the patterns there can be
        (Bai et al. 2015, and neurokit2's base); ``"observed"``: with k the
        number of distinct patterns the series shows (at least 2);
        ``None``: the count itself.
    axis : int, optional
        The series axis of an array (default the last); a DataFrame's
        series are its columns unless ``axis=1``.
    dim : hashable, optional
        The series dimension of an xarray DataArray.

    Returns
    -------
    int, float, numpy.ndarray, pandas or xarray object
        One value per series (int64 counts without normalization, float64
        with): a plain number for one series, otherwise shaped and labelled
        like ``x`` without its series axis.

    Raises
    ------
    ValueError
        A series shorter than one pattern ((D - 1) TAU + 1 values), missing
        values, an order outside 2..7, an unknown ``normalize``, or a series
        showing more than 256 distinct patterns (possible from D = 6 on: the
        patterns a series shows are numbered in one byte each).

    Notes
    -----
    Each window ``x[i], x[i + TAU], ..., x[i + (D - 1) TAU]`` becomes its
    ordinal pattern, the order in which its values rank (equal values rank
    by position, the earlier one lower, as ``symbolize(x, "ordinal:D:TAU")``
    ranks them), so n values give n' = n - (D - 1) TAU patterns.  The
    Kaspar-Schuster count c of that sequence of patterns (see
    ``kaspar_schuster``) is the PLZC of Bai, Liang and Li (2015); normalized
    as ``c * log_k(n') / n'``.  Ties matter for integer or quantized data:
    ranking them by position makes every pattern well defined.

    References
    ----------
    Y. Bai, Z. Liang, X. Li, A permutation Lempel-Ziv complexity measure for
    EEG analysis, Biomedical Signal Processing and Control 19 (2015) 102-114.

    Examples
    --------
    >>> permutation_lzc([4, 7, 9, 10, 6, 11, 3], normalize=None)
    4
    >>> rng = np.random.default_rng(0)
    >>> permutation_lzc(rng.normal(size=(2, 3, 500))).shape
    (2, 3)
    """
    order = _integer("permutation_lzc", "order", order, 2, MAX_ORDER)
    delay = _integer("permutation_lzc", "delay", delay, 1, None)
    if normalize is False:
        normalize = None
    if normalize is not None and normalize not in NORMALIZATIONS:
        raise ValueError(f"permutation_lzc: normalize must be 'possible', 'observed' or None, not {normalize!r}")
    patterns = Symbolizer("ordinal", math.factorial(order), order=order, delay=delay)

    def compute(rows: np.ndarray) -> list:
        try:
            codes = symbolize_rows(rows, patterns)
        except ValueError as exc:
            raise ValueError(f"permutation_lzc: {exc}") from None
        base = math.factorial(order) if normalize == "possible" else None
        return phrase_counts(codes, normalize=normalize is not None, log_base=base).tolist()

    return map_series("permutation_lzc", x, compute, axis=axis, dim=dim, numeric=True)


def _integer(function: str, name: str, value: Any, low: int, high: int | None) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{function}: {name} must be an int, not {type(value).__name__}") from None
    if number < low or (high is not None and number > high):
        bounds = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{function}: {name} must be {bounds}, not {number}")
    return number
