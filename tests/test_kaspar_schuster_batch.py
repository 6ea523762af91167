"""Kaspar and Schuster's count in the batch paths: many, profile and multiscale."""

import math

import numpy as np
import pytest

from parsimetrics_tools.toolkit import kaspar_schuster, many, multiscale, profile
from tests.test_toolkit import published_count


def scaled(count, n, k):
    return 0.0 if n < 2 else count / (n / math.log(n, max(2, k)))


def sequences():
    rng = np.random.default_rng(4)
    seqs = [b"", b"a", b"ab", b"aaaa", b"abab", b"aab"]
    seqs += [rng.integers(0, k, n, dtype=np.uint8).tobytes() for k in (2, 5) for n in (40, 600, 3000)]
    # Long enough for the walk over the whole index.
    return seqs + [rng.integers(0, 2, 140_000, dtype=np.uint8).tobytes()]


@pytest.mark.parametrize("options", [{}, {"normalize": True}, {"normalize": True, "log_base": 7}])
def test_many_equals_the_published_count(options):
    seqs = sequences()
    got = many("kaspar_schuster", seqs, **options)
    assert got == [kaspar_schuster(s, **options) for s in seqs]
    short = seqs[:-1]  # the step-by-step procedure is quadratic
    counts = [published_count(s) for s in short]
    if options.get("normalize"):
        k = options.get("log_base")
        counts = [scaled(c, len(s), k or len(set(s))) for c, s in zip(counts, short)]
    assert got[:-1] == pytest.approx(counts, rel=1e-15)
    assert got[-1] == kaspar_schuster(seqs[-1], **options)


@pytest.mark.parametrize("normalize", [False, True])
def test_profile_counts_each_window_with_the_whole_alphabet(normalize):
    seq = np.random.default_rng(5).integers(0, 4, 3000, dtype=np.uint8)
    seq[1000:1500] = 2  # windows with fewer symbols still take the whole alphabet's base
    starts, values = profile(seq.tobytes(), 400, 150, "kaspar_schuster", normalize=normalize)
    window = [seq[s:s + 400].tobytes() for s in starts]
    expected = [published_count(w) for w in window]
    if normalize:
        expected = [scaled(c, 400, 4) for c in expected]
    assert values.dtype == (np.float64 if normalize else np.int64)
    assert values.tolist() == pytest.approx(expected, rel=1e-15)


@pytest.mark.parametrize("method, options", [("mean", {}), ("ordinal:3", {"permutation": True, "dimension": 3})])
def test_multiscale_equals_neurokit2(method, options):
    import neurokit2 as nk

    x = np.random.default_rng(6).normal(size=1500).cumsum() % 7
    scales = [1, 2, 3, 5, 8, 13]
    _, info = nk.entropy_multiscale(x, method="LZC", scale=scales, **options)
    ours = multiscale(x, scales, "kaspar_schuster", method, normalize=True)
    np.testing.assert_allclose(ours, info["Value"], rtol=1e-12)
    assert multiscale(x, scales, "kaspar_schuster", method).dtype == np.int64


def test_bad_options_are_named():
    with pytest.raises(TypeError, match="unexpected keyword argument 'alphabet'"):
        many("kaspar_schuster", [b"01"], alphabet=2)
    with pytest.raises(ValueError, match="normalize"):
        multiscale(np.arange(10.0), [1], "h", normalize=True)
