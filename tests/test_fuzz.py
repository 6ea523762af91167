"""A short coverage-guided fuzz run of all five functions, and the inputs that
earlier runs found.  The fuzz package holds the generator and the checks;
fuzz/run.sh is the long run."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import parsimetrics as pm
from fuzz import generator, objects
from fuzz.runner import run_call
from tests.helpers import Lies, functions

ROOT = pathlib.Path(__file__).resolve().parent.parent
# A module built with coverage counters (tools/test.sh builds one with clang);
# without it the run is guided by the generator's own coverage only.
INSTRUMENTED = os.environ.get("PARSIMETRICS_FUZZ_MODULE")
SECONDS = int(os.environ.get("PARSIMETRICS_FUZZ_SECONDS", "50"))


def test_short_fuzz_run(tmp_path, record_property, capsys):
    pytest.importorskip("atheris")
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [INSTRUMENTED, str(ROOT), env.get("PYTHONPATH")]))
    corpus = tmp_path / "corpus"
    corpus.mkdir()
    proc = subprocess.run(
        [sys.executable, "-m", "fuzz", str(corpus), f"-max_total_time={SECONDS}", "-timeout=60",
         "-rss_limit_mb=4096", "-print_final_stats=1", f"-artifact_prefix={tmp_path}/"],
        env=env, cwd=tmp_path, capture_output=True, text=True, timeout=SECONDS + 120)
    log = proc.stderr + proc.stdout
    assert proc.returncode == 0, "fuzzing found a problem:\n" + log[-6000:]
    done = re.findall(r"#(\d+)\s+DONE\s+cov: (\d+) ft: (\d+)", log)
    assert done, log[-3000:]
    runs, cov, features = map(int, done[-1])
    record_property("fuzz_inputs", runs)
    record_property("fuzz_coverage_edges", cov)
    with capsys.disabled():
        print(f"\nfuzz: {runs} inputs, {cov} coverage edges, {features} features"
              f" ({'instrumented module' if INSTRUMENTED else 'generator coverage only'})")
    assert runs > 1000


# A length is only a capacity hint: claiming 2**62 elements once raised
# PanicException ("vector::reserve") and 2**40 a MemoryError.
@pytest.mark.parametrize("length", [0, 2, 3, 2**31, 2**40, 2**62, sys.maxsize, -1, ValueError, OverflowError])
@pytest.mark.parametrize("name", list(functions()))
def test_a_lying_length_is_only_a_hint(name, length):
    seqs = [Lies(length)] * (2 if name == "nid" else 1)
    run_call(name, seqs, {})
    if name == "factorization":
        assert pm.factorization(Lies(length)) == pm.factorization("123")


# Inputs of each kind the generator makes, run through the same checks, so
# that a failure here names the kind without a fuzzing run.
@pytest.mark.parametrize("seq", [
    "a\udc80b", ["ab", "c\ud800"], ["ab", 3], [3, "ab"], [[1, 2], [3]], range(2**63 - 3, 2**63),
    range(-(2**63), -(2**63) + 3), [2**63], [-(2**63)], [True, 2, False], (1, 10), b"\0" * 2047,
    b"ab" * 1024, bytes(range(256)) * 8 + b"a", bytearray(b"ab"), memoryview(b"ab"),
    iter([1]), {1}, None, 1.5,
], ids=lambda seq: repr(seq)[:24])
@pytest.mark.parametrize("name", ["factorization", "lz76"])
def test_input_kinds(name, seq):
    run_call(name, [seq], {})


def test_self_referencing_and_fake_sequences():
    looped = [1, 2]
    looped.append(looped)
    texts = ["x"]
    texts.append(texts)
    for seq in (looped, texts, objects.FakeSequence([1, 2], 2, fail_at=1, fail_with=KeyboardInterrupt),
                objects.FakeSequence([1, 2], 2, iterator=False), objects.ListWithLies([1, 2])):
        for name in functions():
            run_call(name, [seq] * (2 if name == "nid" else 1), {})


@pytest.mark.parametrize("dtype", generator.NUMPY_DTYPES)
def test_numpy_arrays_of_every_dtype(dtype):
    np = pytest.importorskip("numpy")
    for n in (0, 5, 2048):
        try:
            arr = (np.arange(n) % 200).astype(dtype)
        except (TypeError, ValueError):
            arr = np.zeros(n, dtype=dtype)
        run_call("h", [arr], {})
        run_call("nid", [arr, arr[::-1]], {})


def test_threads_calling_at_once_with_arguments_that_yield():
    # __index__ runs Python code in the middle of the call frame, where the
    # interpreter may switch to another thread that calls in as well.
    import threading
    import time

    class Yielding:
        def __index__(self):
            time.sleep(0)
            return 3

    calls = [
        lambda: pm.emc([Yielding(), 1, 0, Yielding()] * 300, max_block_size=Yielding()),
        lambda: pm.nid([Yielding(), 2] * 200, "0110" * 100, alphabet=Yielding()),
        lambda: pm.lz76(b"abracadabra" * 100, log_base=Yielding()),
        lambda: pm.factorization(["ab", "c\udc80"]),
    ]

    def outcome(call):
        try:
            return repr(call())
        except BaseException as e:  # noqa: BLE001
            return type(e).__name__

    expected = [outcome(c) for c in calls]
    results, errors = [], []

    def worker():
        try:
            for _ in range(15):
                results.append([outcome(c) for c in calls])
        except BaseException as e:  # noqa: BLE001
            errors.append(e)

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not errors and len(results) == 60
    assert all(r == expected for r in results)


def _buffers():
    import array
    import ctypes

    np = pytest.importorskip("numpy")
    raw = bytes(range(1, 65))
    cases = []
    for dtype in generator.INTEGER_DTYPES:
        arr = np.frombuffer(raw, dtype=dtype)
        cases += [(f"ndarray {dtype}", arr), (f"ndarray {dtype} reversed", arr[::-1]),
                  (f"memoryview of ndarray {dtype}", memoryview(arr))]
    for code in generator.ARRAY_TYPECODES:
        cases += [(f"array {code}", array.array(code, raw)), (f"memoryview of array {code}", memoryview(array.array(code, raw)))]
    cases += [(f"memoryview cast {f}", memoryview(raw).cast(f)) for f in "BbhHiIlqQnNc?fd"]
    cases += [("memoryview of ctypes int[3]", memoryview((ctypes.c_int * 3)(1, 23, 4))),
              ("memoryview of big-endian ctypes int[3]", memoryview((ctypes.c_int.__ctype_be__ * 3)(1, 23, 4))),
              ("broadcast ndarray", np.broadcast_to(np.int16(-7), (2048,))),
              ("masked ndarray", np.ma.masked_array(np.arange(5), mask=[0, 1, 0, 0, 0]))]
    return cases


# Integer buffers are read in place, and must give what iterating them gives:
# a memoryview in an explicit byte order ("<i", ">H") cannot be iterated, so it
# is the generic TypeError, where reading it in place once gave its integers.
@pytest.mark.parametrize("seq", [pytest.param(seq, id=label) for label, seq in _buffers()])
def test_buffers_convert_as_their_iteration_does(seq):
    run_call("factorization", [seq], {})
    run_call("nid", [seq, b"ab"], {})
