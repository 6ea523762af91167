"""symbolize: every method against a direct NumPy computation, 2-D and axis, gaps and bad arguments."""

import itertools
import math
from fractions import Fraction

import numpy as np
import pytest

import parsimetrics
from parsimetrics_tools import parse_symbolizer, symbolize

rng = np.random.default_rng(11)
# Rounded so that ties (with each other and with the cut points) are common.
SERIES = [rng.normal(size=500).round(1), rng.integers(-3, 4, size=400), rng.random(300) < 0.3]


def ordinal_oracle(x, d, tau):
    """Index of each window's rank vector (ties by position) among all permutations in lexicographic order."""
    patterns = {p: i for i, p in enumerate(itertools.permutations(range(d)))}
    out = []
    for i in range(len(x) - (d - 1) * tau):
        window = x[i : i + (d - 1) * tau + 1 : tau]
        ranks = np.argsort(np.argsort(window, kind="stable"), kind="stable")
        out.append(patterns[tuple(int(r) for r in ranks)])
    return out


def expected_codes(x, method):
    x = np.asarray(x, dtype=np.float64)
    if method == "median":
        return x > np.median(x)
    if method == "mean":
        return x > np.mean(x)
    if method == "zero":
        return x > 0
    if method == "values":
        return np.unique(x, return_inverse=True)[1]
    parsed = parse_symbolizer(method)
    if parsed.method == "threshold":
        return np.digitize(x, parsed.cuts, right=False)  # cut points at or below the value
    if parsed.method == "quantiles":
        return np.searchsorted(np.quantile(x, np.arange(1, parsed.classes) / parsed.classes), x, side="left")
    return ordinal_oracle(x, parsed.order, parsed.delay)


METHODS = ["median", "mean", "zero", "values", "threshold:0", "threshold:-0.5,0,0.5", "quantiles:3",
           "quantiles:5", "ordinal:2", "ordinal:3", "ordinal:4:3", "ordinal:5:2"]


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("series", range(len(SERIES)))
def test_methods_against_numpy(series, method):
    x = SERIES[series]
    assert symbolize(x, method) == bytes(np.asarray(expected_codes(x, method), dtype=np.uint8))


def test_ordinal_of_d6_renumbers_the_patterns_seen():
    x = rng.random(200)  # fewer windows than a byte has codes
    seen = np.asarray(ordinal_oracle(x, 6, 1))
    assert symbolize(x, "ordinal:6") == bytes(np.unique(seen, return_inverse=True)[1].astype(np.uint8))


@pytest.mark.parametrize("method", ["median", "quantiles:4", "ordinal:3:2", "values", "threshold:0.2"])
@pytest.mark.parametrize("axis", [-1, 0, 1, -2])
def test_rows_are_symbolized_one_by_one(method, axis):
    x = rng.normal(size=(4, 60)).round(1)
    data = x if axis in (-1, 1) else x.T.copy()
    assert symbolize(data, method, axis=axis) == [symbolize(row, method) for row in x]


def test_missing_values():
    x = np.array([0.5, np.nan, 2.0, 1.0, np.nan, 3.0])
    assert symbolize(x, "median", missing="drop") == symbolize(x[~np.isnan(x)], "median")
    rows = np.array([[1.0, np.nan, 3.0], [4.0, 5.0, 6.0]])
    assert symbolize(rows, "values", missing="drop") == [b"\0\1", b"\0\1\2"]
    with pytest.raises(ValueError, match="2 missing values"):
        symbolize(x)


def test_no_overflow_in_the_split_values():
    big = [1e308, 1.7e308]
    assert symbolize(big, "median") == symbolize(big, "mean") == b"\0\1"
    assert symbolize([-1.7e308, 1.7e308, 1e308, -1e308], "quantiles:2") == b"\0\1\1\0"


def exact_codes(x, method):
    """The definitions in exact rational arithmetic, on Python ints or fractions."""
    x = [v if isinstance(v, Fraction) else int(v) for v in x]
    ordered, n = sorted(x), len(x)
    parsed = parse_symbolizer(method)
    if parsed.method == "threshold":
        return [sum(Fraction(c) <= v for c in parsed.cuts) for v in x]
    if method == "median":
        cuts = [Fraction(ordered[(n - 1) // 2] + ordered[n // 2], 2)]
    elif method == "mean":
        cuts = [Fraction(sum(x), n)]
    else:
        cuts = []
        for k in range(1, parsed.classes):
            low, r = divmod(k * (n - 1), parsed.classes)
            a, b = ordered[low], ordered[min(low + 1, n - 1)]
            cuts.append(a + Fraction(r, parsed.classes) * (b - a))
    return [sum(c < v for c in cuts) for v in x]


TOP = 2**63 - 1
BIG = [
    np.array([1700000000000000001, 1700000000000000003, 1700000000000000000, 1700000000000000002]),
    np.array([TOP, -TOP - 1, TOP - 1, -TOP, TOP - 2, 5, -7], dtype=np.int64),
    np.array([2**64 - 1, 2**64 - 2, 2**63, 2**63 + 1, 3, 2**64 - 3], dtype=np.uint64),
    np.random.default_rng(3).integers(2**62, 2**62 + 40, 301, dtype=np.int64),
]


@pytest.mark.parametrize("method", ["median", "mean", "quantiles:2", "quantiles:3", "quantiles:7", "threshold:1.7e18",
                                    "threshold:-9.2e18,0,4611686018427387904.5,1e30"])
@pytest.mark.parametrize("series", range(len(BIG)))
def test_integer_splits_are_exact_at_any_magnitude(series, method):
    x = BIG[series]
    assert symbolize(x, method) == bytes(exact_codes(x, method))
    # Python ints beyond 64 bits are compared as exactly.
    huge = [int(v) * 2**40 for v in x]
    assert symbolize(huge, method) == bytes(exact_codes(huge, method))


def test_threshold_reproduces_the_logistic_example():
    from pathlib import Path

    examples = Path(__file__).resolve().parent.parent / "examples"
    orbit = np.loadtxt(examples / "logistic.csv", delimiter=",", skiprows=1)[:, 1]
    text = (examples / "logistic.txt").read_bytes().replace(b"\n", b"")
    symbols = symbolize(orbit, "threshold:0.5")
    assert symbols.translate(b"01" + bytes(254)) == text
    # One byte per symbol, so the module counts symbols rather than digits.
    assert parsimetrics.h(symbols) == parsimetrics.h(text)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (("abc",), {}, TypeError, "symbolize: expected numbers, got str"),
        ((["a", "b"],), {}, TypeError, "symbolize: expected numbers, got list"),
        ((np.array(["a", "b"]),), {}, TypeError, "symbolize: expected numbers .* got an array of <U1"),
        (([1 + 2j, 3],), {}, TypeError, "symbolize: complex"),
        (([],), {}, ValueError, "symbolize: x is empty"),
        (([1.0, math.inf],), {}, ValueError, "infinite"),
        (([1, 2], "cubic"), {}, ValueError, "method: unknown symbolizer 'cubic'"),
        (([1, 2], 3), {}, TypeError, "method must be a str"),
        (([1, 2], "quantiles:1"), {}, ValueError, "quantiles:K needs an integer K from 2"),
        (([1, 2], "threshold:1,x"), {}, ValueError, "threshold:X"),
        (([1, 2], "threshold:2,1"), {}, ValueError, "must increase"),
        (([1, 2], "ordinal:8"), {}, ValueError, "D from 2 to 7"),
        (([1, 2], "ordinal:3:0"), {}, ValueError, "TAU of at least 1"),
        (([1, 2, 3], "ordinal:3:2"), {}, ValueError, "needs at least 5 values"),
        ((list(range(300)), "values"), {}, ValueError, "300 distinct values"),
        (([1, 2],), {"missing": "skip"}, ValueError, "missing must be"),
        ((np.zeros((2, 3)),), {"axis": 2}, ValueError, "symbolize: axis 2 is out of bounds for array of dimension 2"),
        (([1, 2],), {"axis": 1.0}, TypeError, "symbolize: axis must be an int"),
    ],
)
def test_bad_arguments(args, kwargs, error, message):
    with pytest.raises(error, match=message):
        symbolize(*args, **kwargs)


@pytest.mark.parametrize("text", ["median", "quantiles:7", "threshold:0.5,1.5", "ordinal:3", "ordinal:4:2", "values"])
def test_text_form_round_trips(text):
    assert str(parse_symbolizer(text)) == text


def test_docstring_examples():
    import doctest

    from parsimetrics_tools import symbolizers

    assert doctest.testmod(symbolizers).failed == 0
