"""Arguments for one call of a module function, built from the fuzzer's bytes."""

import array
import random
import sys
import warnings

import numpy as np

from tests.helpers import Index, functions, required

from .objects import BigInt, BytesSub, FakeSequence, ListWithLies, Mutator, StrSub, UserBaseError, UserError

# HUGE_BLOCKS is refused before anything is allocated; counts between
# LARGEST_SMALL_BLOCKS and the physical limit would allocate gigabytes for
# real, so they are never asked for.
HUGE_BLOCKS = 2**31 - 1
LARGEST_SMALL_BLOCKS = 512

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
# Lengths on both sides of the engine's switches: where tiny texts stop being
# compared directly (160 binary symbols), where short repetitive ones stop
# (512), where the pool takes the work (4,096) and where induced sorting
# takes any alphabet (2^14).
LENGTHS_AT_SWITCHES = [n for switch in (160, 512, 4096, 2**14) for n in range(switch - 3, switch + 4)]
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
            return self.pick(LENGTHS_AT_SWITCHES)
        if kind == 1:
            return self.int_in(0, 12)
        if kind == 2:
            return self.int_in(0, 300)
        return self.pick([10_000, 2**17 - 1, 2**17])

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
        n = self.int_in(0, 40) if self.flag() else self.pick(LENGTHS_AT_SWITCHES)
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
        raw = self.symbols(self.int_in(0, 8) * 8 if self.flag() else self.pick([512, 4096, 4104]))
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
        name = self.pick(list(functions()))
        params = functions()[name]
        sequences = required(name)
        values = {}
        for i, p in enumerate(params):
            if i < sequences:
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

