"""What the tests and the fuzz harness share: the functions and their
parameters as the module itself reports them, the ranges of the integer
parameters, argument objects with behaviour of their own, and the
reference-count check.

Nothing here imports the module at import time: the fuzz harness must load
its coverage-instrumented build only once the fuzzer runs."""

import contextlib
import functools
import gc
import inspect
import sys

CONVERSION_MESSAGE = "expected str, bytes, list[str], list[int], or iterable of ints"

# parameter -> (lowest, highest, None means absent)
INTEGER_PARAMS = {
    "partitions": (-(2**31), 2**31 - 1, False),
    "alphabet": (0, 2**32 - 1, True),
    "log_base": (0, 2**32 - 1, True),
    "max_block_size": (-(2**31), 2**31 - 1, False),
    "jobs": (0, 2**32 - 1, False),
}


@functools.cache
def functions():
    """Each published function's name -> its parameter names, in order."""
    import parsimetrics

    return {name: tuple(inspect.signature(getattr(parsimetrics, name)).parameters) for name in parsimetrics.__all__}


@functools.cache
def required(name):
    """How many leading parameters of `name` have no default: its sequences."""
    import parsimetrics

    params = inspect.signature(getattr(parsimetrics, name)).parameters.values()
    return sum(p.default is p.empty for p in params)


def _raise_or_return(outcome):
    if isinstance(outcome, BaseException):
        raise outcome
    if isinstance(outcome, type) and issubclass(outcome, BaseException):
        raise outcome("raised on purpose")
    return outcome


class Index:
    """An integer-like object: `__index__` returns `outcome`, or raises it if
    it is an exception (class or instance)."""

    def __init__(self, outcome):
        self.outcome = outcome

    def __index__(self):
        return _raise_or_return(self.outcome)

    def __repr__(self):
        return f"Index({self.outcome!r})"


class Lies:
    """The sequence protocol with a length that claims (or raises) whatever
    it is told; reading item `fail_at` raises `fail_with`."""

    def __init__(self, length, items=(1, 2, 3), fail_at=None, fail_with=ValueError):
        self.length, self.items, self.fail_at, self.fail_with = length, list(items), fail_at, fail_with

    def __len__(self):
        return _raise_or_return(self.length)

    def __getitem__(self, i):
        if i == self.fail_at:
            raise self.fail_with("raised on purpose")
        return self.items[i]

    def __repr__(self):
        return f"{type(self).__name__}({self.length!r}, {self.items!r}, fail_at={self.fail_at!r})"


@contextlib.contextmanager
def unchanged_refcounts(objects, collect=True, context=()):
    """Asserts that the block leaves the reference count of every object as
    it found it; `context` goes into the message.  `collect` runs the cycle
    collector on both sides."""
    if collect:
        gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    yield
    if collect:
        gc.collect()
    after = [sys.getrefcount(o) for o in objects]
    assert after == before, f"reference counts changed: {before} -> {after}" + "".join(f"\n  {c!r}"[:2000] for c in context)


# Source for child interpreters: a sequence whose every item runs Python code
# (and sets `inside`), long enough that converting it never ends.
ENDLESS_SEQUENCE = """
inside = threading.Event()

class Sequence:
    def __len__(self):
        return 1 << 30

    def __getitem__(self, i):
        if i >= 1 << 30:
            raise IndexError
        inside.set()
        return i & 1
"""
