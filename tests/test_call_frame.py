"""The call frame shared by every function: binding, integer arguments,
order of checks, module attributes and reference hygiene."""

import gc
import importlib
import operator
import sys
import tomllib
import tracemalloc
from pathlib import Path

import numpy as np
import pytest

import parsimetrics as pm
from tests.helpers import INTEGER_PARAMS, Index, functions, required, unchanged_refcounts

FUNCTIONS = [(name, params, required(name)) for name, params in functions().items()]
INTEGER_CASES = [(name, p) for name, params, _ in FUNCTIONS for p in params if p in INTEGER_PARAMS]

RANGE_MESSAGE = "^out of range integral type conversion attempted$"
LONG_OVERFLOW = "Python int too large to convert to C long"


def seqs(name):
    return ("abracadabra", "abc")[: required(name)]


def call(name, *args, **kwargs):
    return getattr(pm, name)(*args, **kwargs)


def type_error_with_cause():
    err = TypeError("no index here")
    err.__cause__ = KeyError("why")
    return err


def message(excinfo):
    return str(excinfo.value)


# --- binding ---------------------------------------------------------------


@pytest.mark.parametrize("name, params, required", FUNCTIONS)
def test_binding_errors(name, params, required):
    f = f"{name}()"
    s = seqs(name)
    total = len(params)
    full = s + (1, None, None, 0, 0)[: total - required]
    missing_all = (f"{f} missing 2 required positional arguments: 'seq1' and 'seq2'" if required == 2
                   else f"{f} missing 1 required positional argument: '{params[0]}'")
    cases = [
        ((*full, 5), {}, f"{f} takes from {required} to {total} positional arguments but {total + 1} were given"),
        ((*full, 5, 6), {"bogus": 1}, f"{f} takes from {required} to {total} positional arguments but {total + 2} were given"),
        (s, {"Jobs": 1}, f"{f} got an unexpected keyword argument 'Jobs'"),
        (s, {"partitions\0ü": 1}, f"{f} got an unexpected keyword argument 'partitions\0ü'"),  # whole name
        (s, {params[0]: "x"}, f"{f} got multiple values for argument '{params[0]}'"),
        ((*s, 1), {"partitions": 1}, f"{f} got multiple values for argument 'partitions'"),
        (s, {"bogus": 1, params[0]: "x"}, f"{f} got an unexpected keyword argument 'bogus'"),
        (s, {params[0]: "x", "bogus": 1}, f"{f} got multiple values for argument '{params[0]}'"),
        ((), {"bogus": 1}, f"{f} got an unexpected keyword argument 'bogus'"),
        ((), {"jobs": 1}, missing_all),
        (s[:-1], {}, f"{f} missing 1 required positional argument: '{params[required - 1]}'"),
    ]
    if "max_block_size" not in params:
        cases.append((s, {"max_block_size": 3}, f"{f} got an unexpected keyword argument 'max_block_size'"))
    for args, kwargs, want in cases:
        with pytest.raises(TypeError) as info:
            call(name, *args, **kwargs)
        assert message(info) == want, (args, kwargs)


@pytest.mark.parametrize("name, params, required", FUNCTIONS)
def test_keywords_bind_like_positions(name, params, required):
    s = seqs(name)
    values = dict(zip(params, s + (-7, 3, 2, 12, 12)[: len(params) - required]))
    positional = call(name, *values.values())
    assert call(name, **values) == positional
    assert call(name, **dict(reversed(values.items()))) == positional
    for ignored in ({"partitions": -7, "jobs": 12}, {"partitions": 0}, {"partitions": 2**31 - 1, "jobs": 2**32 - 1}):
        assert call(name, *s, **ignored) == call(name, *s)


# --- integer arguments ------------------------------------------------------


@pytest.mark.parametrize("name, param", INTEGER_CASES)
def test_integer_arguments(name, param):
    low, high, none_is_absent = INTEGER_PARAMS[param]
    s = seqs(name)
    ok = [low, high, True, False, Index(high), np.int64(low), type("I", (int,), {})(low + 1)]
    ok += [np.uint32(high)] if low == 0 else [np.int32(low)]
    for value in ok:
        try:
            call(name, *s, **{param: value})
        except MemoryError:
            # Accepted, but a ladder of 2**31 - 1 block lengths cannot fit in memory.
            assert param == "max_block_size" and operator.index(value) == high

    for value in (low - 1, high + 1, Index(high + 1), np.int64(low - 1)):
        with pytest.raises(OverflowError, match=RANGE_MESSAGE):
            call(name, *s, **{param: value})
    wrong = [(2.0, "'float' object cannot be interpreted as an integer"),
             ("1", "'str' object cannot be interpreted as an integer"),
             (np.float64(1), "'numpy.float64' object cannot be interpreted as an integer")]
    if none_is_absent:
        assert call(name, *s, **{param: None}) == call(name, *s)
    else:
        wrong.append((None, "'NoneType' object cannot be interpreted as an integer"))
    for value, text in wrong:
        with pytest.raises(TypeError) as info:
            call(name, *s, **{param: value})
        assert message(info) == f"argument '{param}': {text}"

    with pytest.raises(TypeError) as info:
        call(name, *s, **{param: Index(type_error_with_cause())})
    assert message(info) == f"argument '{param}': no index here"
    assert isinstance(info.value.__cause__, KeyError)
    other = ValueError("left alone")
    with pytest.raises(ValueError) as info:
        call(name, *s, **{param: Index(other)})
    assert info.value is other


@pytest.mark.parametrize("name, param", INTEGER_CASES)
def test_integer_beyond_64_bits_is_untagged(name, param):
    for value in (2**63, -2**63 - 1, 2**200, Index(2**64)):
        with pytest.raises(OverflowError) as info:
            call(name, *seqs(name), **{param: value})
        assert message(info) == LONG_OVERFLOW


@pytest.mark.parametrize("name", list(functions()))
def test_numeric_errors_come_first_in_parameter_order(name):
    bad_seqs = (5, None)[: len(seqs(name))]
    with pytest.raises(TypeError, match="^argument 'partitions': "):
        call(name, *bad_seqs, partitions="x")
    with pytest.raises(OverflowError, match=RANGE_MESSAGE):
        call(name, *bad_seqs, jobs=-1)
    with pytest.raises(OverflowError, match=RANGE_MESSAGE):  # partitions before log_base
        call(name, *seqs(name), log_base=2.0, partitions=2**31)
    with pytest.raises(TypeError, match="^argument 'alphabet': "):  # alphabet before jobs
        call(name, *seqs(name), jobs=None, alphabet=1.5)
    with pytest.raises(TypeError, match="^argument 'log_base': "):
        call(name, *seqs(name), jobs=-1, log_base="2")
    with pytest.raises(TypeError, match="unexpected keyword"):  # binding before everything
        call(name, *bad_seqs, partitions="x", bogus=1)


# --- module -----------------------------------------------------------------


def test_module_attributes():
    # pyproject.toml is where the version is set; the build passes it in.
    pyproject = tomllib.loads((Path(__file__).resolve().parents[1] / "pyproject.toml").read_text())
    assert pm.__version__ == pyproject["project"]["version"]
    assert type(pm.__all__) is list
    assert pm.__all__ == ["factorization", "h", "emc", "nid", "lz76"]
    assert all(getattr(pm, name).__module__ == "parsimetrics" for name in pm.__all__)
    assert pm.__doc__.startswith("LZ76-based complexity analysis for symbolic sequences.")
    assert issubclass(pm.PanicException, BaseException)
    assert not issubclass(pm.PanicException, Exception)
    assert pm.PanicException.__bases__ == (BaseException,)


def test_reimport_returns_the_same_module():
    saved = sys.modules.pop("parsimetrics")
    try:
        again = importlib.import_module("parsimetrics")
        assert again is saved
        assert importlib.reload(again) is saved
    finally:
        sys.modules["parsimetrics"] = saved


def test_sub_interpreters_are_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interp, "import parsimetrics")
    finally:
        interpreters.destroy(interp)


# --- reference hygiene ------------------------------------------------------


def _workload():
    """Fresh argument objects, and calls through every success and failure path."""
    text, ints, texts, data = "".join(["ab", "racadabra"]), [10**12 + 1, 7, 10**12 + 1], ["ab" * 3, "c" * 2], bytes(range(40))
    index, big, bad_index = Index(int("1000")), 2**40, Index(type_error_with_cause())
    calls = [
        lambda: pm.factorization(text, alphabet=index, log_base=big % 7),
        lambda: pm.factorization(data, jobs=index),
        lambda: pm.factorization(ints),
        lambda: pm.h(texts, log_base=index),
        lambda: pm.h(np.arange(1000, 1030)),
        lambda: pm.factorization([ints, text]),
        lambda: pm.factorization(["a", ints]),
        lambda: pm.factorization(["a", "\udc80"]),
        lambda: pm.factorization(iter(ints)),
        lambda: pm.factorization(text, alphabet=big),
        lambda: pm.factorization(text, alphabet=text),
        lambda: pm.h(text, jobs=bad_index),
        lambda: pm.h(text, log_base=2**70),
        lambda: pm.h(text, bogus=text),
        lambda: pm.h(text, seq=ints),
        lambda: pm.factorization(text, 1, None, None, 0, ints),
    ]
    return (text, ints, ints[0], texts, texts[0], data, index, index.outcome, big, bad_index), calls


def _run(calls, rounds):
    for _ in range(rounds):
        for c in calls:
            try:
                c()
            except (TypeError, OverflowError, UnicodeEncodeError):
                pass


def test_no_reference_leaks():
    args, calls = _workload()
    _run(calls, 50)
    with unchanged_refcounts(args):
        objects = len(gc.get_objects())
        tracemalloc.start()
        try:
            _run(calls, 10)
            gc.collect()
            before = tracemalloc.get_traced_memory()[0]
            _run(calls, 300)
            gc.collect()
            grown = tracemalloc.get_traced_memory()[0] - before
        finally:
            tracemalloc.stop()
    assert len(gc.get_objects()) - objects < 50
    # Nothing is retained at all; one leaked small object per call shows as ~15 kB.
    assert grown < 2_000, f"{grown} bytes retained after {300 * len(calls)} calls"
