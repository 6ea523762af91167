"""Buffer-backed inputs are read in place; they must mean exactly what
iterating them element by element means, failures included."""
import array
import re

import numpy as np
import pytest

import parsimetrics as pm
from tests.helpers import CONVERSION_MESSAGE

INTEGER_DTYPES = ["i1", "u1", "<i2", ">i2", "<u2", ">u2", "<i4", ">i4", "<u4", ">u4",
                  "<i8", ">i8", "<u8", ">u8"]


def element_path(values):
    # A plain list takes the element-by-element conversion.
    return pm.factorization([int(v) for v in values])


@pytest.mark.parametrize("dtype", INTEGER_DTYPES)
def test_numpy_arrays_match_element_path(dtype):
    info = np.iinfo(dtype)
    rng = np.random.default_rng(7)
    small = rng.integers(max(info.min, -130), min(info.max, 130), 2500, endpoint=True)
    extremes = [info.min, info.max, 0, info.max, info.min] if info.max <= 2**63 - 1 else [0, 2**63 - 1, 1]
    for a in (small.astype(dtype), np.array(extremes, dtype=dtype)):
        for view in (a, a[::3], a[::-1], a[:0], a[5:6]):
            assert pm.factorization(view) == element_path(view.tolist()), (dtype, view)


@pytest.mark.parametrize("code", list("bBhHiIlLqQ"))
def test_array_module_matches_element_path(code):
    values = [0, 1, 7, 12, 3, 1, 0, 99, 1, 7] * 50
    if code.islower():
        values[3::7] = [-v for v in values[3::7]]
    assert pm.factorization(array.array(code, values)) == element_path(values)


def test_byte_buffers_are_integers_not_text():
    assert pm.factorization(bytearray(b"ab")) == pm.factorization("9798")
    assert pm.factorization(memoryview(b"abab")[::2]) == pm.factorization("9797")
    assert pm.h(memoryview(array.array("i", [5, -3]))) == pm.h("5-3")


@pytest.mark.parametrize("value", [
    np.array([True, False]),
    np.array([1.0, 2.0]),
    np.array([[1, 2], [3, 4]]),
    np.array([2**64 - 1], dtype="u8"),
    np.ma.array([1, 2], mask=[0, 1]),
    memoryview(b"ab").cast("c"),
    array.array("d", [1.0]),
])
def test_non_integer_buffers_fail_as_before(value):
    with pytest.raises(TypeError, match=re.escape(CONVERSION_MESSAGE)):
        pm.factorization(value)


def test_fast_path_sees_every_function():
    a = np.arange(40, dtype="i4") % 3
    text = "".join(map(str, a.tolist()))
    assert pm.lz76(a) == pm.lz76(text)
    assert pm.nid(a, a[::-1]) == pm.nid(text, text[::-1])
