"""LZc and LZs of multichannel recordings, and the hilbert symbolizer, against written-out references."""

import math

import numpy as np
import pytest

from parsimetrics_tools import symbolize
from parsimetrics_tools.multichannel import lzc_multichannel
from tests.test_toolkit import published_count


def envelope_bits(x):
    """The analytic signal by its definition: negative frequencies dropped, positive ones doubled."""
    n = len(x)
    weights = np.zeros(n)
    weights[0] = 1
    weights[1 : (n + 1) // 2] = 2
    if n % 2 == 0:
        weights[n // 2] = 1
    envelope = np.abs(np.fft.ifft(np.fft.fft(x) * weights))
    if np.ptp(x) == 0:
        return np.zeros(n, dtype=np.uint8)
    return (envelope > envelope.mean()).astype(np.uint8)


def shuffle(bits, rng):
    """The documented draw: the rarer symbol at a uniformly chosen set of positions."""
    n, ones = len(bits), int(bits.sum())
    rare = int(2 * ones <= n)
    out = np.full(n, 1 - rare, dtype=np.uint8)
    out[rng.choice(n, ones if rare else n - ones, replace=False, shuffle=False)] = rare
    return out


def reference(x, seed):
    """LZc and LZs step by step, drawing the shuffles as and in the order the function documents."""
    bits = np.array([envelope_bits(channel) for channel in x])
    rng = np.random.default_rng(seed)
    time_major = bits.T.ravel()
    lzc = published_count(time_major.tolist()) / published_count(shuffle(time_major, rng).tolist())
    shuffled = [shuffle(channel, rng) for channel in bits]
    lzs = np.mean([published_count(b.tolist()) / published_count(s.tolist()) for b, s in zip(bits, shuffled)])
    return [lzc, lzs]


def recordings():
    rng = np.random.default_rng(2)
    t = np.arange(601) / 100
    bursts = np.sin(2 * np.pi * 10 * t) * (1 + np.sin(2 * np.pi * 0.7 * t + np.arange(4)[:, None]))
    return {
        "noise": rng.normal(size=(6, 400)),
        "bursts, odd length": bursts + 0.1 * rng.normal(size=bursts.shape),
        "one channel": rng.normal(size=(1, 500)),
        "constant channels": np.vstack([np.full(300, 2.5), rng.normal(size=300), np.zeros(300)]),
    }


@pytest.mark.parametrize("name", recordings())
def test_equals_the_reference(name):
    x = recordings()[name]
    assert lzc_multichannel(x, seed=11).tolist() == pytest.approx(reference(x, 11), rel=1e-15)
    # The default seed comes from the data: the same data, the same values.
    assert lzc_multichannel(x.copy()).tolist() == lzc_multichannel(x).tolist()


def test_the_shuffle_is_uniform():
    # Every arrangement of two ones among four places, about equally often.
    rng = np.random.default_rng(0)
    from parsimetrics_tools.multichannel import shuffled_bits

    draws = [shuffled_bits(np.array([[1, 1, 0, 0], [0, 1, 1, 1]], dtype=np.uint8), rng) for _ in range(6000)]
    for row, ones in ((0, 2), (1, 3)):
        seen, counts = np.unique([d[row].tobytes() for d in draws], return_counts=True)
        assert all(sum(s) == ones for s in seen) and len(seen) == math.comb(4, ones)
        assert counts.min() > 0.8 * counts.mean()


def test_hilbert_symbolizer_binarizes_each_series_at_its_envelope_mean():
    x = recordings()["constant channels"]
    assert symbolize(x, "hilbert") == [envelope_bits(row).tobytes() for row in x]


def test_every_recording_of_an_nd_array_and_a_table():
    import pandas as pd

    x = np.random.default_rng(5).normal(size=(300, 4, 3))  # time, channels, recordings
    got = lzc_multichannel(x, axis=0, channel_axis=1)
    assert got.shape == (3, 2)
    assert got.tolist() == [lzc_multichannel(x[:, :, r].T).tolist() for r in range(3)]
    table = pd.DataFrame(x[:, :, 0], columns=list("abcd"))
    assert lzc_multichannel(table).tolist() == got[0].tolist()
    for bad in (np.nan, np.inf):
        x[5, 1, 2] = bad
        with pytest.raises(ValueError, match="lzc_multichannel: x holds missing or infinite values"):
            lzc_multichannel(x, axis=0, channel_axis=1)
