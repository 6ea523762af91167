"""The toolkit's functions against their definitions through the module."""

import math
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import parsimetrics
import parsimetrics_tools
from parsimetrics_tools import symbolize
from parsimetrics_tools.toolkit import kaspar_schuster, many, multiscale, nid_matrix, profile
from tests.helpers import ENDLESS_SEQUENCE

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def random_bytes(rng, n, k):
    return rng.integers(0, k, n, dtype=np.uint8).tobytes()


def corpus(seed=0):
    """Sequences of several alphabets, sizes and Python types, constant and empty ones included."""
    rng = np.random.default_rng(seed)
    seqs = [b"", b"a", b"aaaa", "ab\u00e9c", ["ab", "c"], [0, 1, 10, 1]]
    seqs += [random_bytes(rng, n, k) for n in (2, 17, 300, 2500) for k in (2, 3, 26)]
    return seqs + [rng.integers(0, 12, 50)]


# --------------------------------------------------------------------------
# many


@pytest.mark.parametrize("measure, options", [
    ("factorization", {}), ("h", {}), ("h", {"log_base": 2, "alphabet": 5}),
    ("emc", {"max_block_size": 4}), ("lz76", {}),
])
def test_many_equals_a_loop(measure, options):
    seqs = corpus()
    function = getattr(parsimetrics, measure)
    assert many(measure, seqs, **options) == [function(s, **options) for s in seqs]
    rows = np.random.default_rng(1).integers(0, 3, (4, 40))
    assert many(measure, rows, **options) == [function(r, **options) for r in rows]


@pytest.mark.parametrize("bad", [3.5, "\ud800", ["a", 1], ["a", "\ud800"], None])
def test_many_reports_the_first_bad_item_as_the_loop_would(bad):
    seqs = [b"01", "ab", bad, 7]
    with pytest.raises(Exception) as expected:
        [parsimetrics.h(s) for s in seqs]
    with pytest.raises(expected.type) as raised:
        many("h", seqs)
    # An exception type that takes more than a message keeps it and gets a note.
    told = [str(raised.value), *getattr(raised.value, "__notes__", [])]
    assert f"sequences[2]: {expected.value}" in told


@pytest.mark.parametrize("call, error, words", [
    (lambda: many("entropy", [b"01"]), ValueError, "measure"),
    (lambda: many("h", np.zeros((2, 2, 2), dtype=int)), ValueError, "sequences"),
    (lambda: many("h", np.arange(3)), ValueError, "sequences"),
    (lambda: many("h", "0101"), TypeError, "sequences"),
    (lambda: many("h", []), None, None),
    (lambda: many("h", [], alphabet=-1), OverflowError, "out of range"),
    (lambda: many("h", [b"01"], max_block_size=3), TypeError, "max_block_size"),
    (lambda: many("emc", [], max_block_size=2**31), OverflowError, "out of range"),
    (lambda: many("emc", [], max_block_size=1.5), TypeError, "max_block_size"),
    (lambda: profile(b"0101", 0), ValueError, "window"),
    (lambda: profile(b"0101", 5), ValueError, "window"),
    (lambda: profile(b"0101", 2, step=0), ValueError, "step"),
    (lambda: profile(b"0101", 2, measure="lz76"), ValueError, "measure"),
    (lambda: profile(np.zeros((2, 4), dtype=int), 2), ValueError, "sequence"),
    (lambda: profile(b"0101", 2.0), TypeError, "window"),
    (lambda: nid_matrix([b"01", 2.5]), TypeError, "sequences[1]"),
    (lambda: multiscale([1.0, np.nan, 2.0, 3.0], [1]), ValueError, "x"),
    (lambda: multiscale(np.zeros((2, 2, 2)), [1]), ValueError, "x"),
    (lambda: multiscale(np.arange(8.0), [0]), ValueError, "scales"),
    (lambda: multiscale(np.arange(8.0), [9]), ValueError, "scales"),
])
def test_bad_arguments_are_named(call, error, words):
    if error is None:
        assert call() == []
        return
    with pytest.raises(error, match=words.replace("[", r"\[")):
        call()


# --------------------------------------------------------------------------
# profile, nid_matrix, multiscale


@pytest.mark.parametrize("measure", ["h", "complexity", "emc"])
@pytest.mark.parametrize("k, window, step", [(2, 64, 16), (5, 100, None), (26, 37, 50)])
def test_profile_equals_the_module_on_each_window(measure, k, window, step):
    seq = random_bytes(np.random.default_rng(k), 700, k)
    starts, values = profile(seq, window, step, measure=measure)
    step = step or window
    assert starts.tolist() == list(range(0, len(seq) - window + 1, step))
    base = len(set(seq))  # the whole sequence's alphabet, for every window

    def module(part, **options):
        if measure == "h":
            return parsimetrics.h(part, **options)
        return (parsimetrics.factorization if measure == "complexity" else parsimetrics.emc)(part, **options)[0]

    assert values.tolist() == [module(seq[s:s + window], log_base=base) for s in starts]
    assert values.dtype == (np.int64 if measure == "complexity" else np.float64)
    explicit = profile(seq, window, step, measure=measure, log_base=2)[1]
    assert explicit.tolist() == [module(seq[s:s + window], log_base=2) for s in starts]


def test_nid_matrix_equals_pairwise_nid():
    seqs = corpus(3)[:12]
    matrix = nid_matrix(seqs)
    assert matrix.shape == (12, 12)
    assert matrix.tolist() == [[parsimetrics.nid(a, b) for b in seqs] for a in seqs]
    assert nid_matrix([]).shape == (0, 0)


@pytest.mark.parametrize("measure", ["h", "complexity", "emc"])
def test_multiscale_coarse_grains_symbolizes_and_measures(measure):
    x = np.random.default_rng(4).normal(size=(2, 1003)).cumsum(axis=1)
    scales = [1, 2, 5, 10]
    expected = []
    for row in x:
        values = []
        for s in scales:
            symbols = symbolize(row[: len(row) // s * s].reshape(-1, s).mean(axis=1), "mean")
            if measure == "h":
                values.append(parsimetrics.h(symbols))
            else:
                values.append((parsimetrics.factorization if measure == "complexity" else parsimetrics.emc)(symbols)[0])
        expected.append(values)
    assert multiscale(x, scales, measure, method="mean").tolist() == expected
    assert multiscale(x[1], scales, measure, method="mean").tolist() == expected[1]


def test_docstring_examples():
    import doctest

    from parsimetrics_tools import toolkit

    assert doctest.testmod(toolkit).failed == 0


# --------------------------------------------------------------------------
# kaspar_schuster


def published_count(s):
    """Kaspar and Schuster's procedure (Phys. Rev. A 36, 842, 1987), step by step."""
    n = len(s)
    if n < 2:
        return n  # the procedure starts from a first symbol; nothing has no phrase
    c, l, i, k, k_max = 1, 1, 0, 1, 1
    while True:
        if s[i + k - 1] == s[l + k - 1]:
            k += 1
            if l + k > n:
                return c + 1
        else:
            k_max = max(k, k_max)
            i += 1
            if i == l:
                c, l = c + 1, l + k_max
                if l + 1 > n:
                    return c
                i, k, k_max = 0, 1, 1
            else:
                k = 1


def ks_inputs():
    rng = np.random.default_rng(6)
    inputs = ["", "a", "aa", "aaaaaaa", "ab", "1001111011000010", "h\u00e9llo w\u00f6rld", [True, False, True]]
    inputs += [rng.integers(0, k, n).tolist() for k in (2, 3, 30) for n in (3, 10, 257, 1000)]
    return inputs + [[0, 1, 10, 1, 0], [-1, 1, 1, -1, 1]]


def test_kaspar_schuster_follows_the_published_procedure():
    for s in ks_inputs():
        c = published_count(list(s))
        assert kaspar_schuster(s) == c, s
        n, k = len(s), max(2, len(set(s)))
        if n >= 2:
            assert kaspar_schuster(s, normalize=True) == c / (n / math.log(n, k))


def test_kaspar_schuster_equals_antropy():
    import antropy
    for s in ks_inputs()[1:]:  # it counts the empty sequence 1
        assert kaspar_schuster(s) == antropy.lziv_complexity(s), s
        if len(s) >= 2 and min(map(ord, s) if isinstance(s, str) else s) >= 0:  # it counts in uint32
            assert kaspar_schuster(s, normalize=True) == antropy.lziv_complexity(s, normalize=True), s


# --------------------------------------------------------------------------
# Threads: the lock is released, and the thread count changes nothing


@pytest.mark.parametrize("call", [
    lambda seqs: many("h", seqs * 4),
    lambda seqs: profile(b"".join(seqs), 2000, 100),
    lambda seqs: nid_matrix(seqs[:6]),
])
def test_other_threads_run_while_native_code_computes(call):
    rng = np.random.default_rng(8)
    # Longer inputs until the call lasts long enough to watch, however fast
    # the machine.
    for length in (50_000, 200_000, 800_000):
        seqs = [random_bytes(rng, length, 2) for _ in range(12)]
        ticks, done = [], threading.Event()

        def other():
            while not done.is_set():
                ticks.append(time.perf_counter())

        thread = threading.Thread(target=other)
        thread.start()
        time.sleep(0.01)
        start = time.perf_counter()
        call(seqs)
        end = time.perf_counter()
        done.set()
        thread.join()
        if end - start > 0.05:
            break
    # Holding the lock, the call would let the other thread in only near its ends.
    middle = [t for t in ticks if start + (end - start) / 3 < t < end - (end - start) / 3]
    assert end - start > 0.05 and len(middle) > 100


# A daemon thread inside a call (converting, or computing without the lock)
# when the main thread ends: the interpreter ends it as it reaches for the lock.
EXIT = """
import sys, threading, time
from parsimetrics_tools import many, profile
""" + ENDLESS_SEQUENCE + """
big = bytes(i * 7 % 5 % 2 for i in range(2_000_000))

def forever():
    while True:
        if sys.argv[1] == "converting":
            many("h", [b"01", Sequence()])
        else:
            inside.set()
            profile(big, 100_000, 10_000)

threading.Thread(target=forever, daemon=True).start()
inside.wait()
time.sleep(0.05)
print("main thread done")
"""


@pytest.mark.parametrize("doing", ["converting", "computing"])
def test_exit_with_a_daemon_thread_inside_a_call(doing):
    proc = subprocess.run([sys.executable, "-c", EXIT, doing], capture_output=True, text=True, timeout=120)
    assert (proc.returncode, proc.stdout) == (0, "main thread done\n"), proc.stderr[-4000:]


DETERMINISM = """
import numpy as np
from parsimetrics_tools.toolkit import many, nid_matrix, profile
rng = np.random.default_rng(9)
seqs = [rng.integers(0, 3, n, dtype=np.uint8).tobytes() for n in range(50, 3000, 150)]
print(many("lz76", seqs, max_block_size=3))
print(profile(b"".join(seqs), 500, 70, measure="emc")[1].tolist())
print(nid_matrix(seqs).tolist())
print(many("kaspar_schuster", seqs, normalize=True), profile(b"".join(seqs), 500, 70, "kaspar_schuster")[1].tolist())
"""


def test_results_do_not_depend_on_the_thread_count():
    def run(threads):
        env = {"RAYON_NUM_THREADS": str(threads), "PATH": ""}
        proc = subprocess.run([sys.executable, "-c", DETERMINISM], capture_output=True, text=True, env=env, timeout=300)
        assert proc.returncode == 0, proc.stderr
        return proc.stdout

    assert run(1) == run(4)


# --------------------------------------------------------------------------
# The command line


def cli(*args):
    proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", *map(str, args)],
                          capture_output=True, text=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def test_profile_command(tmp_path):
    import json

    path = EXAMPLES / "logistic.txt"
    status, out, err = cli("profile", path, "--window", 300, "--step", 120, "-m", "emc", "--plot", tmp_path / "p.png")
    assert status == 0, err
    rows = [json.loads(line) for line in out.splitlines()]
    symbols = parsimetrics_tools.read_source(str(path))[0].symbols
    base = len(set(symbols))
    starts, values = profile(symbols, 300, 120, "emc")
    assert [(r["start"], r["end"], r["emc"], r["log_base"]) for r in rows] == [
        (s, s + 300, v, base) for s, v in zip(starts.tolist(), values.tolist())]
    assert (tmp_path / "p.png").stat().st_size > 0
    status, out, _ = cli("profile", path, "-w", 300, "-s", 120, "-m", "complexity", "--csv", "--log-base", 7)
    assert out.splitlines()[:2] == ["name,start,end,complexity,log_base",
                                    f"{path},0,300,{profile(symbols, 300, measure='complexity')[1][0]},7"]
    assert cli("profile", path, "-w", len(symbols) + 1)[2].endswith(f"exceeds the sequence length {len(symbols)}\n")


def test_analysis_reports_the_kaspar_schuster_count(tmp_path):
    import json

    status, out, _ = cli("analyze", "-m", "factorization", "--json", EXAMPLES / "fibonacci.txt")
    result = json.loads(out)
    assert list(result)[list(result).index("complexity") + 1] == "ks_complexity"
    symbols = parsimetrics_tools.read_source(str(EXAMPLES / "fibonacci.txt"))[0].symbols
    assert result["ks_complexity"] == kaspar_schuster(symbols)


# --------------------------------------------------------------------------
# The Dask recipe on a real cluster of worker processes


def test_dask_recipe_on_a_local_cluster_matches_the_command_line():
    distributed = pytest.importorskip("dask.distributed")
    import json

    from parsimetrics_tools import dask_bag

    paths = [str(EXAMPLES / "sequences.fasta"), *map(str, sorted(EXAMPLES.glob("*.txt")))]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster):
            results = dask_bag(paths, measure="lz76", npartitions=3).compute()
    proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", "analyze", "--json", *paths],
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert results == [json.loads(line) for line in proc.stdout.splitlines()]
