"""One call, checked against the model; the fuzz target and its entry point."""

import ctypes
import glob
import os
import sys
import warnings

from tests.helpers import unchanged_refcounts

from .generator import Gen
from .model import Finding, _check, _same, check_result, expect, expected_symbols

pm = None  # the module under test, imported by load_module()


def run_call(name, positional, keywords, predictable=True):
    """Makes the call and checks it against the model; raises Finding."""
    exp = expect(name, positional, keywords, predictable)
    fn = getattr(load_module(), name)
    # Shared objects (None, small ints, interned texts) change hands all the
    # time, and a list that changes drops the references it held to itself.
    watched = [a for a in list(positional) + list(keywords.values())
               if sys.getrefcount(a) < 100 and (predictable or not isinstance(a, list))]
    context = (name, positional, keywords)
    kind = None
    # Checked once the exception is gone with its traceback, which may have held an argument.
    with unchanged_refcounts(watched, collect=False, context=context):
        try:
            result = fn(*positional, **keywords)
        except BaseException as e:  # noqa: BLE001
            kind, message, result = type(e), f"{type(e).__name__}: {e}", None
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
    atheris = sys.modules.get("atheris")  # absent when the checks run from the tests
    cores = glob.glob(os.path.join(os.path.dirname(atheris.__file__), "core_with_libfuzzer*.so")) if atheris else []
    for core in cores:
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

