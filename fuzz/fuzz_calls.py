"""Coverage-guided fuzzing of the five module functions.

Every argument of `factorization`, `h`, `emc`, `nid` and `lz76` is fed an
object built from the fuzzer's bytes: texts with lone surrogates, bytes of
every length around the 2048-symbol switch to the library suffix sort, lists
of texts and of integers (nested, self-referencing, huge and negative
values), NumPy arrays and scalars of every dtype, and objects whose
`__index__`, `__len__` or `__iter__` raise or lie.  Each call must either

* return a well-formed result equal to the result for the plain bytes the
  input stands for, or
* raise exactly the exception an independent model of the input rules
  predicts (TypeError, OverflowError, UnicodeEncodeError from a list of str,
  or whatever a user's own `__index__` raised for a numeric argument);
  MemoryError only for block counts that cannot fit in memory,

and must leave the reference count of every argument as it found it.  Any
other outcome raises `Finding`, which the fuzzer reports as a crash along
with the input that caused it; a crash of the interpreter is reported by
the fuzzer itself.

Run it through fuzz/run.sh, which builds a coverage-instrumented module.
"""

from __future__ import annotations

import array
import ctypes
import glob
import math
import operator
import os
import random
import sys
import warnings

import numpy as np

FUNCTIONS = {
    "factorization": ("seq", "partitions", "alphabet", "log_base", "jobs"),
    "h": ("seq", "partitions", "alphabet", "log_base", "jobs"),
    "emc": ("seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"),
    "nid": ("seq1", "seq2", "partitions", "alphabet", "log_base", "jobs"),
    "lz76": ("seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"),
}
SEQUENCE_PARAMS = ("seq", "seq1", "seq2")
# parameter -> (lowest, highest, None means absent)
INTEGER_PARAMS = {
    "partitions": (-(2**31), 2**31 - 1, False),
    "alphabet": (0, 2**32 - 1, True),
    "log_base": (0, 2**32 - 1, True),
    "max_block_size": (-(2**31), 2**31 - 1, False),
    "jobs": (0, 2**32 - 1, False),
}
I64 = (-(2**63), 2**63 - 1)

# Block counts above this are refused before anything is allocated; the
# fuzzer never asks for counts between HUGE_BLOCKS and the physical limit,
# which would allocate gigabytes for real.
_PHYSICAL = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
HUGE_BLOCKS = 2**31 - 1
LARGEST_SMALL_BLOCKS = 512

pm = None  # the module under test, imported by load_module()


class Finding(AssertionError):
    """A call did something no input may make it do."""


class UserError(Exception):
    pass


class UserBaseError(BaseException):
    pass


# ---------------------------------------------------------------------------
# Objects with behaviour of their own.  Every one is deterministic, so the
# model below can ask it the same questions the module does and get the same
# answers.


def _raise_or_return(outcome):
    if isinstance(outcome, type) and issubclass(outcome, BaseException):
        raise outcome("raised on purpose")
    return outcome


class Index:
    """An integer-like object: `__index__` returns or raises `outcome`."""

    def __init__(self, outcome):
        self.outcome = outcome

    def __index__(self):
        return _raise_or_return(self.outcome)

    def __repr__(self):
        return f"Index({self.outcome!r})"


class BigInt(int):
    """An int subclass whose own `__index__` lies; the module reads the value."""

    def __index__(self):
        return 7


class Mutator:
    """An element whose `__index__` changes the list being converted."""

    def __init__(self, target, action):
        self.target, self.action, self.budget = target, action, 50

    def __index__(self):
        if self.budget > 0:
            self.budget -= 1
            if self.action == "append":
                self.target.append(self.budget)
            elif self.action == "clear":
                self.target.clear()
            elif self.action == "pop" and self.target:
                self.target.pop(0)
            elif self.action == "text":
                self.target.insert(0, "text")
        return 1


class FakeSequence:
    """The sequence protocol with a `__len__` and an `__iter__` that may lie
    or raise.  `fail_at` makes iteration raise after that many items."""

    def __init__(self, items, length, fail_at=None, fail_with=UserError, iterator=True):
        self.items = items
        self.length = length
        self.fail_at = fail_at
        self.fail_with = fail_with
        if not iterator:
            self.__class__ = FakeSequenceBadIter

    def __len__(self):
        return _raise_or_return(self.length)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        for k, item in enumerate(self.items):
            if k == self.fail_at:
                raise self.fail_with("iteration failed on purpose")
            yield item

    def __repr__(self):
        return f"FakeSequence({self.items!r}, len={self.length!r}, fail_at={self.fail_at!r})"


class FakeSequenceBadIter(FakeSequence):
    def __iter__(self):  # not an iterator
        return 42


class ListWithLies(list):
    """A list whose Python-level length, items and iteration lie; the module
    reads the list itself."""

    def __len__(self):
        return 0

    def __iter__(self):
        return iter(["lie"])

    def __getitem__(self, i):
        return "lie"


class StrSub(str):
    def encode(self, *args, **kwargs):
        return b"lie"

    def __str__(self):
        return "lie"


class BytesSub(bytes):
    def __bytes__(self):
        return b"lie"

    def __getitem__(self, i):
        return 0


# ---------------------------------------------------------------------------
# Generation from the fuzzer's bytes.

NUMPY_DTYPES = [
    "bool", "int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64",
    "float16", "float32", "float64", "longdouble", "complex64", "complex128", "object",
    "U3", "S3", "V4", "datetime64[D]", "timedelta64[s]",
]
# Every integer layout, byte orders included; floats and bools beside them.
INTEGER_DTYPES = [
    "i1", "u1", "<i2", ">i2", "<u2", ">u2", "<i4", ">i4", "<u4", ">u4", "<i8", ">i8", "<u8", ">u8",
    "=i8", "?", "<f8",
]
ARRAY_TYPECODES = ["b", "B", "h", "H", "i", "I", "l", "L", "q", "Q", "f", "d", "u"]
INTERESTING_INTS = [
    0, 1, -1, 2, 3, 255, 256, 2**31 - 1, 2**31, -(2**31), -(2**31) - 1, 2**32 - 1, 2**32,
    2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 2**64, 10**30, -(10**30),
]
LENGTHS_AROUND_2048 = list(range(2040, 2057))
EXCEPTIONS = [TypeError, ValueError, OverflowError, UserError, UserBaseError, KeyboardInterrupt, MemoryError]


class Gen:
    """Turns the fuzzer's bytes into Python objects."""

    def __init__(self, fdp):
        self.fdp = fdp
        self.depth = 0
        self.predictable = True  # the model can tell what the call must do

    # primitives
    def int_in(self, lo, hi):
        return self.fdp.ConsumeIntInRange(lo, hi)

    def pick(self, options):
        return options[self.int_in(0, len(options) - 1)]

    def flag(self):
        return self.fdp.ConsumeBool()

    def integer(self):
        kind = self.int_in(0, 4)
        if kind == 0:
            return self.pick(INTERESTING_INTS) + self.int_in(-2, 2)
        if kind == 1:
            return self.int_in(-1000, 1000)
        if kind == 2:
            return self.fdp.ConsumeInt(self.int_in(1, 12))
        if kind == 3:
            return self.pick([True, False])
        return self.int_in(0, 9)

    def symbols(self, n):
        """n bytes from a few fuzzer bytes: periodic, random or constant."""
        if n == 0:
            return b""
        kind = self.int_in(0, 3)
        if kind == 0:
            return bytes([self.int_in(0, 255)]) * n
        if kind == 1:
            period = self.fdp.ConsumeBytes(self.int_in(1, 8)) or b"\0"
            return (period * (n // len(period) + 1))[:n]
        if kind == 2:
            rng = random.Random(self.fdp.ConsumeInt(4))
            k = self.int_in(2, 256)
            return bytes(rng.randrange(k) for _ in range(n))
        data = self.fdp.ConsumeBytes(n)
        return data + b"a" * (n - len(data))

    def length(self):
        kind = self.int_in(0, 3)
        if kind == 0:
            return self.pick(LENGTHS_AROUND_2048)
        if kind == 1:
            return self.int_in(0, 12)
        if kind == 2:
            return self.int_in(0, 300)
        return self.pick([4095, 4096, 4097, 10_000])

    def text(self):
        kind = self.int_in(0, 3)
        if kind == 0:
            return self.fdp.ConsumeUnicode(self.int_in(0, 40))  # may hold lone surrogates
        if kind == 1:
            return self.symbols(self.length()).decode("latin-1")
        if kind == 2:
            base = self.fdp.ConsumeUnicodeNoSurrogates(self.int_in(0, 6))
            surrogate = chr(self.int_in(0xD800, 0xDFFF))
            cut = self.int_in(0, len(base))
            return base[:cut] + surrogate + base[cut:]
        return self.pick(["", "a", "é", "\U0001f600", "\0", "ab" * 1024])

    # sequence arguments
    def sequence(self):
        self.depth += 1
        try:
            return self._sequence()
        finally:
            self.depth -= 1

    def _sequence(self):
        kind = self.int_in(0, 18 if self.depth < 3 else 9)
        if kind == 0:
            return self.text()
        if kind == 1:
            return self.symbols(self.length())
        if kind == 2:
            return [self.text() for _ in range(self.int_in(0, 5))]
        if kind == 3:
            return [self.integer() for _ in range(self.int_in(0, 30))]
        if kind == 4:
            return self.numpy_array()
        if kind == 5:
            return tuple(self.integer() for _ in range(self.int_in(0, 10)))
        if kind == 6:
            lo = self.pick(INTERESTING_INTS)
            step = self.pick([1, -1, 7, -(2**40), 2**62])
            return range(lo, lo + step * self.int_in(0, 50), step)
        if kind == 7:
            return self.buffer()
        if kind == 8:
            return self.pick([None, 5, 1.5, {1, 2}, {"a": 1}, iter([1, 2]), (i for i in [1, 2]),
                              object(), ("a", "b"), b"", [], (), "", 2**100])
        if kind == 9:
            return StrSub(self.text()) if self.flag() else BytesSub(self.symbols(self.length()))
        if kind == 10:
            items = [self.element() for _ in range(self.int_in(0, 6))]
            return self.pick([list, tuple, ListWithLies])(items)
        if kind == 11:  # text first, then anything
            return [self.text()] + [self.element() for _ in range(self.int_in(0, 4))]
        if kind == 12:  # self-referencing
            items = [self.integer() for _ in range(self.int_in(0, 3))]
            if self.flag():
                items.insert(0, "x")
            items.append(items)
            return items
        if kind == 13:  # nested
            return [self.sequence() for _ in range(self.int_in(0, 3))]
        if kind == 14:
            items = [self.element() for _ in range(self.int_in(0, 6))]
            length = self.pick([len(items), 0, -1, 2**62, sys.maxsize, 2**31, 10**6, "3", 2.5,
                                UserError, TypeError, OverflowError])
            fail_at = self.pick([None, 0, 1, 3])
            return FakeSequence(items, length, fail_at, self.pick(EXCEPTIONS), iterator=self.flag())
        if kind == 15:
            return [Index(self.index_spec()) for _ in range(self.int_in(1, 4))]
        if kind == 16:
            return np.array(self.integer() % 256, dtype=self.pick(["int64", "uint8", "object"]))
        if kind == 17:
            return [BigInt(self.integer()) for _ in range(self.int_in(1, 4))]
        # A list that changes while it is converted: the model cannot replay it.
        self.predictable = False
        items = [self.integer() for _ in range(self.int_in(0, 5))]
        for _ in range(self.int_in(1, 3)):
            items.insert(self.int_in(0, len(items)), Mutator(items, self.pick(["append", "clear", "pop", "text"])))
        return items

    def element(self):
        kind = self.int_in(0, 6)
        if kind == 0:
            return self.integer()
        if kind == 1:
            return self.text()
        if kind == 2:
            return Index(self.index_spec())
        if kind == 3:
            return self.numpy_scalar()
        if kind == 4:
            return self.sequence() if self.depth < 3 else None
        if kind == 5:
            return BigInt(self.integer())
        return self.pick([None, 1.5, b"a", bytearray(b"1"), object()])

    def numpy_array(self):
        dtype = np.dtype(self.pick(NUMPY_DTYPES))
        n = self.int_in(0, 40) if self.flag() else self.pick(LENGTHS_AROUND_2048)
        raw = self.symbols(n * dtype.itemsize)
        if dtype.kind == "O":
            arr = np.array([self.integer() for _ in range(min(n, 8))], dtype=object)
        else:
            arr = np.frombuffer(raw, dtype=dtype)
        if dtype.kind in "fc" and self.flag():
            arr = np.arange(n).astype(dtype)  # integral values in a float dtype
        if self.flag() and arr.size >= 4:
            arr = arr[: arr.size // 2 * 2].reshape(2, -1)
        return arr

    def buffer(self):
        """Objects whose integers can be read from memory in place."""
        raw = self.symbols(self.int_in(0, 8) * 8 if self.flag() else self.pick([2048, 2056, 4096]))
        kind = self.int_in(0, 6)
        if kind == 0:
            return bytearray(raw)
        if kind == 1:
            return array.array(self.pick(ARRAY_TYPECODES), raw[: len(raw) // 8 * 8])
        if kind == 2:
            view = memoryview(raw)
            return view.cast(self.pick(["B", "b", "h", "H", "i", "I", "l", "q", "Q", "n", "N", "c", "?", "f", "d"]))
        arr = np.frombuffer(raw, dtype=self.pick(INTEGER_DTYPES))
        if kind == 3:
            arr = arr[:: self.pick([1, 2, -1, -3])]
        elif kind == 4:
            arr = np.broadcast_to(arr[:1], (self.int_in(0, 3000),)) if arr.size else arr
        elif kind == 5:
            arr = self.pick([np.ma.masked_array, lambda a: a.astype(object), np.atleast_2d])(arr)
        if self.flag():
            try:
                return memoryview(arr)
            except (TypeError, ValueError):
                pass
        return arr

    def numpy_scalar(self):
        dtype = self.pick(["int8", "int64", "uint64", "uint8", "bool", "float64", "int32", "uint32"])
        value = self.integer()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                return np.array(value).astype(dtype)[()]
            except (OverflowError, ValueError, TypeError):
                return np.array(0, dtype=dtype)[()]

    def index_spec(self):
        if self.int_in(0, 3) == 0:
            return self.pick(EXCEPTIONS + ["3", 2.0, None, BigInt(5), True])
        return self.integer()

    # numeric arguments
    def number(self):
        kind = self.int_in(0, 7)
        if kind <= 1:
            return self.integer()
        if kind == 2:
            return self.numpy_scalar()
        if kind == 3:
            return Index(self.index_spec())
        if kind == 4:
            return self.pick([None, 2.0, "3", b"3", [3], BigInt(3), np.array(5), np.array([5])])
        return self.int_in(-3, 300)

    def block_size(self):
        kind = self.int_in(0, 5)
        if kind == 0:
            return HUGE_BLOCKS
        if kind == 1:
            return self.pick([0, -1, -(2**31), -(2**31) - 1, 2**31, None, Index(UserError)])
        if kind == 2:
            return Index(self.int_in(-5, 64))
        return self.int_in(-3, 64) if kind < 5 else self.int_in(65, LARGEST_SMALL_BLOCKS)

    # a whole call
    def call(self):
        name = self.pick(list(FUNCTIONS))
        params = FUNCTIONS[name]
        values = {}
        for p in params:
            if p in SEQUENCE_PARAMS:
                values[p] = self.sequence()
            elif self.flag():
                values[p] = self.block_size() if p == "max_block_size" else self.number()
        # Bind: a prefix positionally, the rest by keyword, sometimes broken.
        cut = self.int_in(0, len(params))
        while cut > 0 and params[cut - 1] not in values:
            cut -= 1
        positional = []
        for p in params[:cut]:
            positional.append(values[p] if p in values else 1)
        keywords = {p: v for p, v in values.items() if p not in params[:cut]}
        mishap = self.int_in(0, 15)
        if mishap == 0:
            positional.append(0)
        elif mishap == 1:
            keywords["bogus"] = 1
        elif mishap == 2 and positional:
            keywords[params[0]] = positional[0]
        elif mishap == 3 and params[0] in keywords:
            del keywords[params[0]]
        elif mishap == 4:
            keywords[self.pick(["seq\0", "jobs\udc80", "Seq", "", "partitions "])] = 1
        return name, positional, keywords


# ---------------------------------------------------------------------------
# The model: what a call must do, from the input rules alone.

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
    params = FUNCTIONS[name]
    required = 2 if name == "nid" else 1
    bound = {}
    if len(positional) > len(params):
        return Expectation(TypeError)
    for p, v in zip(params, positional):
        bound[p] = v
    for k, v in keywords.items():
        if k not in params or k in bound:
            return Expectation(TypeError)
        bound[k] = v
    if any(p not in bound for p in params[:required]):
        return Expectation(TypeError)
    numbers = {}
    for p in params[required:]:
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
    for p in params[:required]:
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


# ---------------------------------------------------------------------------
# One call.


def run_call(name, positional, keywords, predictable=True):
    """Makes the call and checks it against the model; raises Finding."""
    exp = expect(name, positional, keywords, predictable)
    fn = getattr(pm, name)
    # Shared objects (None, small ints, interned texts) change hands all the
    # time, and a list that changes drops the references it held to itself.
    watched = [a for a in list(positional) + list(keywords.values())
               if sys.getrefcount(a) < 100 and (predictable or not isinstance(a, list))]
    before = [sys.getrefcount(a) for a in watched]
    kind = None
    try:
        result = fn(*positional, **keywords)
    except BaseException as e:  # noqa: BLE001
        kind, message, result = type(e), f"{type(e).__name__}: {e}", None
    # The exception is gone with its traceback, which may have held an argument.
    after = [sys.getrefcount(a) for a in watched]
    context = (name, positional, keywords)
    if kind is not None:
        if kind is MemoryError and exp.memory:
            pass
        elif exp.error is None and exp.symbols is None and kind in (TypeError, UnicodeEncodeError):
            pass  # whatever the changing input turned out to be
        elif exp.error is None:
            raise Finding(f"{name} raised {message}; expected a result", *context)
        elif kind is not exp.error:
            raise Finding(f"{name} raised {message}; expected {exp.error.__name__}", *context)
    else:
        if exp.error is not None:
            raise Finding(f"{name} returned; expected {exp.error.__name__}", result, *context)
        check_result(name, result, exp)
    if kind is None and exp.symbols is not None:
        # The same call on the plain bytes and integers the arguments stand for.
        plain = dict(exp.numbers)
        if name == "nid":
            reference = pm.nid(exp.symbols[0], exp.symbols[1], **plain)
        else:
            reference = fn(exp.symbols[0], **plain)
        _check(_same(result, reference), "result differs from the one for the plain input",
               result, reference, *context)
    del result
    _check(before == after, "argument reference counts changed by the call", before, after, *context)


def one_input(data):
    """The fuzz target: one call built from `data`."""
    import atheris

    gen = Gen(atheris.FuzzedDataProvider(data))
    name, positional, keywords = gen.call()
    run_call(name, positional, keywords, gen.predictable)


def load_module():
    """Imports the module under test.  A coverage-instrumented build needs the
    fuzzer's runtime in the global symbol scope first, which exists only once
    fuzzing has started."""
    global pm
    if pm is not None:
        return pm
    for core in glob.glob(os.path.join(os.path.dirname(sys.modules["atheris"].__file__), "core_with_libfuzzer*.so")):
        try:
            ctypes.CDLL(core, mode=os.RTLD_GLOBAL | os.RTLD_NOLOAD)
        except OSError:
            pass  # not loaded: not fuzzing (replaying without libFuzzer)
    import parsimetrics

    pm = parsimetrics
    return pm


def target(data):
    load_module()
    one_input(data)


def main(argv):
    import atheris

    warnings.simplefilter("ignore")  # DeprecationWarnings of lying __index__ results
    for func in (Gen._sequence, Gen.element, Gen.buffer, Gen.numpy_array, expected_symbols):
        atheris.instrument_func(func)
    atheris.Setup(argv, target)
    atheris.Fuzz()


if __name__ == "__main__":
    main(sys.argv)
