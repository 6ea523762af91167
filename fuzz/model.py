"""The model: what a call must do, from the input rules alone, and the
checks that a result is well formed."""

import ctypes
import math
import operator
import os

from tests.helpers import INTEGER_PARAMS, functions, required

I64 = (-(2**63), 2**63 - 1)
# A ladder of more block lengths than this may honestly not fit in memory.
_PHYSICAL = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


class Finding(AssertionError):
    """A call did something no input may make it do."""


_PySequence_Check = ctypes.pythonapi.PySequence_Check
_PySequence_Check.argtypes = [ctypes.py_object]
_PySequence_Check.restype = ctypes.c_int


def _utf8(text):
    try:
        return str.encode(text, "utf-8")
    except UnicodeEncodeError:
        return None


def _as_i64(item):
    """The value of one element of an integer sequence, or None."""
    try:
        value = int.__index__(item) if isinstance(item, int) else operator.index(item)
    except BaseException:  # noqa: BLE001 - the module discards whatever it was
        return None
    return value if I64[0] <= value <= I64[1] else None


def expected_symbols(obj):
    """The bytes `obj` stands for, or the exception class converting it raises."""
    if isinstance(obj, str):
        data = _utf8(obj)
        if data is not None:
            return data
    if isinstance(obj, bytes):
        return bytes(memoryview(obj))
    if isinstance(obj, list):
        initial = list.__len__(obj)
        if initial == 0:
            return b""
        first = list.__getitem__(obj, 0)
        if isinstance(first, str) and _utf8(first) is not None:
            out = []
            for i in range(initial):
                item = list.__getitem__(obj, i)
                if not isinstance(item, str):
                    return TypeError
                data = _utf8(item)
                if data is None:
                    return UnicodeEncodeError
                out.append(data)
            return b"".join(out)
    if isinstance(obj, str):
        return TypeError
    if _PySequence_Check(obj):
        items = []
        try:
            for item in iter(obj):  # list() would trust a length hint
                items.append(item)
        except BaseException:  # noqa: BLE001
            return TypeError
        values = [_as_i64(item) for item in items]
        if any(v is None for v in values):
            return TypeError
        return "".join(str(v) for v in values).encode()
    return TypeError


def expected_integer(obj, param):
    """The value of a numeric argument, or the exception class it raises."""
    low, high, none_is_absent = INTEGER_PARAMS[param]
    if obj is None and none_is_absent:
        return None
    if isinstance(obj, int):
        value = int.__index__(obj)
    else:
        try:
            value = operator.index(obj)
        except TypeError:
            return TypeError
        except BaseException as e:  # noqa: BLE001 - a user's own exception propagates
            return type(e)
    if not (I64[0] <= value <= I64[1]) or not (low <= value <= high):
        return OverflowError
    return value


class Expectation:
    def __init__(self, error=None, symbols=None, numbers=None, memory=False):
        self.error = error          # the exception class the call must raise
        self.symbols = symbols      # the bytes of each sequence otherwise
        self.numbers = numbers      # plain values of the numeric arguments given
        self.memory = memory        # MemoryError is a legitimate outcome


def expect(name, positional, keywords, predictable=True):
    params = functions()[name]
    sequences = required(name)
    bound = {}
    if len(positional) > len(params):
        return Expectation(TypeError)
    for p, v in zip(params, positional):
        bound[p] = v
    for k, v in keywords.items():
        if k not in params or k in bound:
            return Expectation(TypeError)
        bound[k] = v
    if any(p not in bound for p in params[:sequences]):
        return Expectation(TypeError)
    numbers = {}
    for p in params[sequences:]:
        if p in bound:
            value = expected_integer(bound[p], p)
            if isinstance(value, type):
                return Expectation(value)
            numbers[p] = value
    block = numbers.get("max_block_size")
    memory = block is not None and block > _PHYSICAL // 64
    if not predictable:
        return Expectation(None, None, numbers, memory)
    symbols = []
    for p in params[:sequences]:
        s = expected_symbols(bound[p])
        if isinstance(s, type):
            return Expectation(s)
        symbols.append(s)
    return Expectation(None, symbols, numbers, memory)


# ---------------------------------------------------------------------------
# Well-formed results.


def _check(condition, what, *context):
    if not condition:
        raise Finding(what + "".join(f"\n  {c!r}"[:2000] for c in context))


def check_factors(complexity, factors, n):
    _check(type(complexity) is int and type(factors) is list, "factorization types", complexity, factors)
    _check(all(type(f) is int for f in factors), "factor boundaries are ints", factors)
    if n is None:  # the input changed while it was read: n is whatever it was then
        n = factors[-1] if complexity == len(factors) - 1 or factors == [0, 1, factors[-1]] else factors[-1] - 1
    if n <= 1 or len(set(factors)) == 3 and factors[-1] == n and complexity == 1:
        _check(factors == [0, 1, n] and complexity == 1, "constant sequence result", n, complexity, factors)
        return
    _check(factors[:2] == [0, 1], "factors start at 0, 1", factors[:5])
    _check(all(a < b for a, b in zip(factors, factors[1:])), "factor boundaries increase", factors)
    _check(factors[-1] in (n, n + 1), "last boundary is n or n + 1", n, factors[-3:])
    _check(complexity == len(factors) - (1 if factors[-1] == n else 2), "complexity counts factors",
           complexity, len(factors), factors[-1], n)


def _finite_float(x, what):
    _check(type(x) is float and math.isfinite(x), what + " is a finite float", x)


def check_emc(value, summands, block, n):
    _finite_float(value, "emc value")
    _check(type(summands) is list and all(type(s) is float for s in summands), "summands are floats", summands)
    if block is not None and block > 0:
        _check(len(summands) == block, "one summand per block length", block, len(summands))
    else:
        _check(1 <= len(summands) <= 64, "automatic block count", n, len(summands))
    _check(all(s >= 0.0 and math.isfinite(s) for s in summands), "summands are non-negative", summands)
    _check(value >= 0.0 and math.isclose(value, math.fsum(summands), rel_tol=1e-9, abs_tol=1e-12),
           "emc value is the sum of its summands", value, summands)


LZ76_KEYS = ["complexity", "h", "factors", "emc", "epsilon", "factors_stddev", "normal_error",
             "poison_error", "extras"]
EMC_KEYS = ["value", "summands", "max_block_size", "multi_information"]
EXTRAS_KEYS = ["rajski_distance", "redundancy", "fh_uncertainty", "lh_uncertainty", "pearson_coefficient"]


def check_result(name, result, exp):
    n = len(exp.symbols[0]) if exp.symbols else None
    block = exp.numbers.get("max_block_size")
    if name == "factorization":
        _check(type(result) is tuple and len(result) == 2, "factorization returns a pair", result)
        check_factors(result[0], result[1], n)
    elif name in ("h", "nid"):
        _finite_float(result, name)
        if name == "h":
            _check(result >= 0.0 and (n is None or n >= 2 or result == 0.0), "h is non-negative", n, result)
    elif name == "emc":
        _check(type(result) is tuple and len(result) == 2, "emc returns a pair", result)
        check_emc(result[0], result[1], block, n)
    else:
        _check(type(result) is dict and list(result) == LZ76_KEYS, "lz76 keys", result.keys())
        _check(list(result["emc"]) == EMC_KEYS and list(result["extras"]) == EXTRAS_KEYS, "nested keys",
               result["emc"].keys(), result["extras"].keys())
        check_factors(result["complexity"], result["factors"], n)
        emc = result["emc"]
        check_emc(emc["value"], emc["summands"], block, n)
        _check(emc["max_block_size"] == len(emc["summands"]), "emc max_block_size", emc)
        for key in ("h", "epsilon", "factors_stddev", "normal_error", "poison_error"):
            _check(type(result[key]) is float, f"lz76 {key} is a float", result[key])
        _check(all(type(v) is float for v in result["extras"].values()), "extras are floats", result["extras"])


def _same(a, b):
    return repr(a) == repr(b)  # bit for bit, NaN and -0.0 included

