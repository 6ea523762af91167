"""Permutation LZC against a written-out reference and against neurokit2."""

import math

import numpy as np
import pytest

from parsimetrics_tools.permutation import permutation_lzc
from tests.test_toolkit import published_count


def reference(x, order, delay, normalize):
    """Patterns as stable argsorts (ties rank by position), counted step by step."""
    n = len(x) - (order - 1) * delay
    patterns = [tuple(np.argsort(x[i : i + (order - 1) * delay + 1 : delay], kind="stable")) for i in range(n)]
    c = published_count(patterns)
    if normalize is None:
        return c
    k = math.factorial(order) if normalize == "possible" else max(2, len(set(patterns)))
    return 0.0 if n < 2 else c / (n / math.log(n, k))


def series(kind, n=1200, seed=0):
    rng = np.random.default_rng(seed)
    if kind == "random":
        return rng.normal(size=n)
    if kind == "ar1":
        x = np.zeros(n)
        for i in range(1, n):
            x[i] = 0.8 * x[i - 1] + rng.normal()
        return x
    if kind == "sine":
        return np.sin(np.arange(n) * 2 * np.pi / 37) + 0.3 * rng.normal(size=n)
    x = np.empty(n)  # the logistic map in its chaotic regime
    x[0] = 0.4
    for i in range(1, n):
        x[i] = 3.99 * x[i - 1] * (1 - x[i - 1])
    return x


@pytest.mark.parametrize("order, delay", [(2, 1), (3, 1), (3, 4), (4, 2), (5, 1)])
@pytest.mark.parametrize("normalize", [None, "possible", "observed"])
def test_equals_the_reference_with_and_without_ties(order, delay, normalize):
    rng = np.random.default_rng(order * 10 + delay)
    for x in (rng.normal(size=700), rng.integers(0, 3, 400), np.repeat(rng.normal(size=50), 4), np.zeros(30)):
        assert permutation_lzc(x, order, delay, normalize) == pytest.approx(reference(x, order, delay, normalize),
                                                                            rel=1e-15)


@pytest.mark.parametrize("kind", ["random", "ar1", "sine", "logistic"])
def test_equals_neurokit2_for_order_3(kind):
    import neurokit2 as nk

    x = series(kind)
    for delay in (1, 2):
        expected, _ = nk.complexity_lempelziv(x, delay=delay, dimension=3, permutation=True)
        assert permutation_lzc(x, 3, delay) == pytest.approx(expected, rel=1e-12)


def test_order_6_numbers_the_patterns_of_each_series_apart():
    rows = np.random.default_rng(7).normal(size=(3, 140))  # 135 patterns each, some 330 in all
    assert permutation_lzc(rows, 6).tolist() == [reference(r, 6, 1, "possible") for r in rows]


def test_every_series_of_an_nd_array():
    x = np.random.default_rng(3).normal(size=(2, 300, 3))
    got = permutation_lzc(x, 4, axis=1, normalize="observed")
    assert got.shape == (2, 3)
    assert got.tolist() == [[permutation_lzc(x[i, :, j], 4, normalize="observed") for j in range(3)] for i in range(2)]


@pytest.mark.parametrize("args, error, words", [
    (([1.0, 2.0], 3), ValueError, "at least 3 values"),
    (([1.0, 2.0, 3.0], 8), ValueError, "order must be from 2 to 7"),
    (([1.0, 2.0, 3.0], 3, 0), ValueError, "delay must be at least 1"),
    (([1.0, 2.0, 3.0], 3, 1, "all"), ValueError, "normalize must be"),
    (([1.0, np.nan, 3.0, 4.0], 2), ValueError, "missing values"),
])
def test_bad_arguments_are_named(args, error, words):
    with pytest.raises(error, match=f"permutation_lzc: .*{words}"):
        permutation_lzc(*args)


@pytest.mark.parametrize("module", ["permutation", "multichannel", "pci"])
def test_docstring_examples(module):
    import doctest
    import importlib

    assert doctest.testmod(importlib.import_module(f"parsimetrics_tools.{module}")).failed == 0
