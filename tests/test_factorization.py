"""Results of `factorization` and `h`, and how inputs become symbols."""

import array
import math
import random
import re

import numpy as np
import pytest

import parsimetrics as pm
from tests.helpers import CONVERSION_MESSAGE

GENERIC = "^" + re.escape(CONVERSION_MESSAGE) + "$"


def reference(text: bytes):
    """LZ76 straight from the definition: each factor copies the longest
    stretch that also starts earlier (overlap allowed), then adds a symbol."""
    n = len(text)
    if n == 0 or text.count(text[:1]) == n:
        return 1, [0, 1, n]

    def lpf(i):
        # text[i:i+k+1] starts before i iff it lies within text[:i+k].
        k = 0
        while i + k < n and text.find(text[i : i + k + 1], 0, i + k) != -1:
            k += 1
        return k

    factors = [0, 1]
    while factors[-1] < n:
        factors.append(factors[-1] + lpf(factors[-1]) + 1)
    m = len(factors)
    return (m - 1 if factors[-1] == n else m - 2), factors


def random_inputs():
    rng = random.Random(2048)
    for sigma in (1, 2, 4, 26, 256):
        symbols = bytes(rng.sample(range(256), sigma)) if sigma != 26 else b"abcdefghijklmnopqrstuvwxyz"
        for n in (1, 2, 3, 5, 8, 13, 64, 500, 2047, 2048, 2049, 2100):
            yield bytes(rng.choice(symbols) for _ in range(n))
        # Mostly one symbol: long copies, some running to the very end.
        for n in (7, 2047, 2049):
            text = bytearray(symbols[:1] * n)
            for _ in range(3):
                text[rng.randrange(n)] = symbols[-1]
            yield bytes(text)
    for unit in (b"ab", b"aab", b"abcab", b"\x00\xff"):
        for n in (2047, 2048, 2049):
            yield (unit * n)[:n]
            yield (unit * n)[: n - 1] + b"z"


@pytest.mark.parametrize("text", list(random_inputs()), ids=lambda t: f"n{len(t)}")
def test_matches_reference(text):
    want = reference(text)
    assert pm.factorization(text) == want, f"input {text!r}"
    if text.isascii():
        assert pm.factorization(text.decode()) == want, f"input {text!r}"
    n = len(text)
    expected_h = 0.0 if n < 2 else want[0] / (n / (math.log(n) / math.log(2)))
    assert pm.h(text, log_base=2) == expected_h, f"input {text!r}"


@pytest.mark.parametrize(
    "seq, want",
    [("banana", (3, [0, 1, 2, 3, 7])), ("01010101", (2, [0, 1, 2, 9])), ("abcdabce", (5, [0, 1, 2, 3, 4, 8])),
     ("ab", (2, [0, 1, 2])), ("", (1, [0, 1, 0])), ("a", (1, [0, 1, 1])), ("aaaa", (1, [0, 1, 4])),
     ("éé", (2, [0, 1, 2, 5])), ([0, 1, 10], (3, [0, 1, 2, 4])), ([-1, 2], (3, [0, 1, 2, 3])),
     ((1, 10), (2, [0, 1, 3])), (["ab", "", "ab"], (2, [0, 1, 2, 5]))],
)
def test_examples(seq, want):
    assert pm.factorization(seq) == want


def test_options_leave_factors_alone():
    base = pm.factorization("abracadabra")
    for alphabet in (None, 0, 1, 2, 3, 26, 2**32 - 1):
        for log_base in (None, 0, 2, 7):
            assert pm.factorization("abracadabra", alphabet=alphabet, log_base=log_base) == base


class Outer:
    class Inner:
        pass


# Sequence protocol whose iteration fails at the second element; one without a length.
Flaky = type("Flaky", (), {"__len__": lambda self: 3, "__getitem__": lambda self, i: 1 // (1 - i)})
Unsized = type("Unsized", (), {"__getitem__": lambda self, i: [4, 20][i]})


@pytest.mark.parametrize(
    "seq, text",
    [("banana", b"banana"), (type("S", (str,), {})("abc"), b"abc"), (type("B", (bytes,), {})(b"\x00\xff"), b"\x00\xff"),
     ("é\u20ac𝄞", "é\u20ac𝄞".encode()), (["ab", "", "cé"], "abcé".encode()), (type("L", (list,), {})(["x", "y"]), b"xy"),
     ([0, 1, 10], b"0110"), ((1, 10), b"110"), (range(12), b"01234567891011"), ([True, False, 7], b"107"),
     ([-2**63, 5], b"-92233720368547758085"), ([2**63 - 1, 0], b"92233720368547758070"),
     (bytearray(b"ab"), b"9798"), (memoryview(b"ab"), b"9798"), (array.array("i", [-3, 40]), b"-340"),
     (np.array([3, 14, 15]), b"31415"), (np.array([200, 7], dtype=np.uint8), b"2007"),
     ([np.int64(-5), np.uint32(9)], b"-59"), (Unsized(), b"420"), ("", b""), (b"", b""), ([], b""), ((), b"")],
    ids=repr,
)
def test_input_conversion(seq, text):
    assert pm.factorization(seq) == pm.factorization(text) == reference(text)
    assert pm.h(seq) == pm.h(text)  # also sees the detected alphabet


@pytest.mark.parametrize(
    "seq",
    ["a\ud800", ["\ud800", "a"], ("a", "b"), (i for i in [1]), iter([1]), {1}, {"a": 1}, None, 5, 1.5, [1, "a"],
     [1.0], [1, None], [2**63], [-2**63 - 1], (b"a",), Flaky(), object()],
    ids=lambda v: type(v).__name__,
)
def test_rejected_inputs(seq):
    with pytest.raises(TypeError, match=GENERIC) as info:
        pm.factorization(seq)
    assert info.value.__cause__ is None and info.value.__context__ is None


@pytest.mark.parametrize(
    "seq, message",
    [(["a", 1], "'int' object cannot be converted to 'PyString'"),
     (["a", "b", None], "'NoneType' object cannot be converted to 'PyString'"),
     (["a", b"b"], "'bytes' object cannot be converted to 'PyString'"),
     (["a", Outer.Inner()], "'Outer.Inner' object cannot be converted to 'PyString'")],
)
def test_list_of_texts_rejects_other_elements(seq, message):
    with pytest.raises(TypeError) as info:
        pm.factorization(seq)
    assert str(info.value) == message


def test_list_of_texts_reports_encoding_errors():
    with pytest.raises(UnicodeEncodeError):
        pm.factorization(["a", "b", "\udc80"])


@pytest.mark.parametrize(
    "seq, kwargs, want",
    [("01010101", {}, 0.75), ("banana", {}, 0.8154648767857287), ("banana", {"log_base": 2}, 1.292481250360578),
     ("banana", {"log_base": 2**32 - 1}, 0.8154648767857287),  # all ones means absent
     ("aaaa", {}, 0.5), ("", {}, 0.0), ("a", {}, 0.0), ([7], {"log_base": 5}, 0.0)],
)
def test_h_examples(seq, kwargs, want):
    assert pm.h(seq, **kwargs) == want


@pytest.mark.parametrize("seq", ["banana", "abcdabce", "0001101", "aaaa", "é"])
def test_h_options(seq):
    two = pm.h(seq, log_base=2)
    assert [pm.h(seq, log_base=b) for b in (0, 1, True)] == [two] * 3
    for log_base in (None, 2, 3):
        base = pm.h(seq, log_base=log_base)
        assert {pm.h(seq, alphabet=a, log_base=log_base) for a in (0, 1, 2, 3, 100, 2**32 - 1)} == {base}
