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
from parsimetrics_tools import as_symbols, symbolize
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
    assert many(measure, seqs, **options) == [function(as_symbols(s), **options) for s in seqs]
    rows = np.random.default_rng(1).integers(0, 3, (4, 40))
    values = many(measure, rows, **options)
    assert (values.tolist() if measure == "h" else values) == [function(bytes(r.astype(np.uint8)), **options) for r in rows]


@pytest.mark.parametrize("function", [lambda s: many("h", s), nid_matrix])
@pytest.mark.parametrize("bad", [3.5, "\ud800", ["a", 1], [0, 256], [-1], None, np.ones(2)])
def test_the_first_bad_item_is_reported_with_its_position(function, bad):
    with pytest.raises(Exception) as expected:
        as_symbols(bad)
    with pytest.raises(expected.type) as raised:
        function([b"01", "ab", bad, 7])
    name = "many" if function is not nid_matrix else "nid_matrix"
    assert str(raised.value) == f"{name}: sequences[2]: " + str(expected.value).removeprefix("as_symbols: ")


def test_an_item_failure_without_text_is_named(monkeypatch):
    monkeypatch.setattr(parsimetrics_tools.toolkit._native, "many", lambda *args: (None, (1, MemoryError())))
    with pytest.raises(MemoryError, match=r"^many: sequences\[1\]: MemoryError$"):
        many("h", [b"01", b"10"])


X = np.linspace(-3, 3, 2 * 3 * 40).reshape(2, 3, 40) ** 3


@pytest.mark.parametrize("call, error, words", [
    (lambda: many("entropy", [b"01"]), ValueError, "many: measure"),
    (lambda: many("h", "0101"), TypeError, "many: sequences"),
    (lambda: many("h", []), None, None),
    (lambda: many("h", [], alphabet=-1), OverflowError, "many: alphabet: out of range"),
    (lambda: many("h", [b"01"], max_block_size=3), TypeError, "many: h.. got an unexpected keyword argument 'max_block_size'"),
    (lambda: many("emc", [], max_block_size=2**31), OverflowError, "many: max_block_size: out of range"),
    (lambda: many("emc", [], max_block_size=1.5), TypeError, "many: argument 'max_block_size'"),
    (lambda: many("h", X), TypeError, 'many: .*symbolize.x, "median"'),
    (lambda: many("h", X.astype(int)), ValueError, 'many: values from -27 to 27 .*symbolize.x, "values"'),
    (lambda: many("h", X > 0, axis=3), np.exceptions.AxisError, "many: axis 3 is out of bounds"),
    (lambda: many("h", [b"01"], axis=0), TypeError, "many: axis and dim"),
    (lambda: profile(b"0101", 0), ValueError, "profile: window"),
    (lambda: profile(b"0101", 5), ValueError, "profile: window: 5 exceeds the sequence length 4"),
    (lambda: profile(b"0101", 2, step=0), ValueError, "profile: step"),
    (lambda: profile(b"0101", 2, measure="lz76"), ValueError, "profile: measure"),
    (lambda: profile(b"0101", 2.0), TypeError, "profile: window"),
    (lambda: profile(b"0101", 2, foo=1), TypeError, r"^profile\(\) got an unexpected keyword argument 'foo'"),
    (lambda: profile(b"0101", 2, log_base=-1), OverflowError, "profile: log_base"),
    (lambda: nid_matrix([b"01", 2.5]), TypeError, "nid_matrix: sequences.1."),
    (lambda: nid_matrix([b"01"], max_block_size=2), TypeError, r"^nid_matrix\(\) got an unexpected keyword"),
    (lambda: nid_matrix(X > 0), ValueError, "nid_matrix: sequences: expected a 2-D array"),
    (lambda: multiscale([1.0, np.nan, 2.0, 3.0], [1]), ValueError, "multiscale: x holds missing"),
    (lambda: multiscale(np.arange(8.0), [0]), ValueError, "multiscale: scales"),
    (lambda: multiscale(np.arange(8.0), [9]), ValueError, "multiscale: scales: 9 exceeds the length 8"),
    (lambda: multiscale(np.arange(8.0), []), ValueError, "multiscale: scales: give at least one"),
    (lambda: multiscale(np.arange(8.0), [True]), TypeError, "multiscale: scales"),
    (lambda: multiscale(np.arange(8.0), [1], method="cubic"), ValueError, "multiscale: method"),
    (lambda: multiscale(np.arange(8.0), [1], measure="lz76"), ValueError, "multiscale: measure"),
    (lambda: multiscale(np.arange(8.0) + 1j, [1]), TypeError, "multiscale: complex"),
    (lambda: multiscale([1.0, np.inf, 2.0, 3.0], [1]), ValueError, "multiscale: x holds infinite"),
    (lambda: kaspar_schuster([-1, 1, 1, -1, 1]), ValueError, 'kaspar_schuster: .*symbolize.x, "values"'),
    (lambda: kaspar_schuster(X), TypeError, "kaspar_schuster: .*symbolize"),
])
def test_bad_arguments_are_named(call, error, words):
    if error is None:
        assert call() == []
        return
    with pytest.raises(error, match=words):
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
    symbols = list(map(as_symbols, seqs))
    assert matrix.tolist() == [[parsimetrics.nid(a, b) for b in symbols] for a in symbols]
    assert nid_matrix([]).shape == (0, 0)


@pytest.mark.parametrize("log_base", [None, 2, 7])
@pytest.mark.parametrize("measure", ["h", "complexity", "emc"])
def test_multiscale_coarse_grains_symbolizes_and_measures(measure, log_base):
    x = np.random.default_rng(4).normal(size=(2, 1003)).cumsum(axis=1)
    scales = [1, 2, 5, 10]
    if measure == "complexity" and log_base is not None:
        with pytest.raises(ValueError, match="log_base"):
            multiscale(x, scales, measure, log_base=log_base)
        return
    base = {} if log_base is None else {"log_base": log_base}
    expected = []
    for row in x:
        values = []
        for s in scales:
            symbols = symbolize(row[: len(row) // s * s].reshape(-1, s).mean(axis=1), "mean")
            if measure == "h":
                values.append(parsimetrics.h(symbols, **base))
            elif measure == "emc":
                values.append(parsimetrics.emc(symbols, **base)[0])
            else:
                values.append(parsimetrics.factorization(symbols)[0])
        expected.append(values)
    assert multiscale(x, scales, measure, method="mean", **base).tolist() == expected
    assert multiscale(x[1], scales, measure, method="mean", **base).tolist() == expected[1]


@pytest.mark.parametrize("method", ["median", "mean", "quantiles:4", "threshold:4611686018427387925.5", "ordinal:3"])
@pytest.mark.parametrize("dtype", [np.int64, np.uint64])
def test_multiscale_means_of_integers_are_exact(method, dtype):
    from fractions import Fraction

    from tests.test_symbolize import exact_codes

    x = (2**62 + np.random.default_rng(5).integers(0, 50, 301)).astype(dtype)
    means = [Fraction(sum(map(int, block)), 3) for block in x[:300].reshape(-1, 3)]
    if method.startswith("ordinal"):
        codes = symbolize([int(m * 3) for m in means], method)  # orders as the means do
    else:
        codes = bytes(exact_codes(means, method))
    assert multiscale(x, [3], "h", method).tolist() == [parsimetrics.h(codes)]
    assert multiscale(x, [3], "complexity", method).tolist() == [parsimetrics.factorization(codes)[0]]


def test_multiscale_averages_without_overflow():
    x = np.array([1e308, 1e308, -1e308, 1e308] * 10)
    assert multiscale(x, [2], method="mean").tolist() == [parsimetrics.h(symbolize(x.reshape(-1, 2) @ [0.5, 0.5], "mean"))]


@pytest.mark.parametrize("measure", ["h", "lz76"])
def test_many_measures_symbolized_nd_arrays_in_their_shape(measure):
    x = np.random.default_rng(6).normal(size=(2, 3, 50))
    nested = symbolize(x, "median")
    assert np.asarray(many(measure, nested), dtype=object).shape == (2, 3)
    expected = many(measure, x > np.median(x, axis=-1, keepdims=True))
    assert np.array_equal(np.asarray(many(measure, nested), dtype=object), np.asarray(expected, dtype=object))
    with pytest.raises(ValueError, match="unequal lengths"):
        many(measure, [[b"01", b"10"], [b"11"]])


def test_docstring_examples():
    import doctest

    from parsimetrics_tools import toolkit

    assert doctest.testmod(toolkit).failed == 0


# --------------------------------------------------------------------------
# The series of N-D arrays, pandas and xarray objects, each as the function gives it for one series

rng = np.random.default_rng(21)
CODES = rng.integers(0, 12, (4, 5, 24))  # codes of 10 and more are one symbol each
NUMBERS = rng.normal(size=(4, 5, 24)).cumsum(axis=-1)

SHAPED = {
    "many h": (lambda x, **k: many("h", x, **k), CODES, lambda s: parsimetrics.h(as_symbols(s))),
    "many factorization": (lambda x, **k: many("factorization", x, **k), CODES,
                           lambda s: parsimetrics.factorization(as_symbols(s))),
    "kaspar_schuster": (kaspar_schuster, CODES > 5, lambda s: published_count(as_symbols(s))),
    "kaspar_schuster normalized": (lambda x, **k: kaspar_schuster(x, True, **k), CODES,
                                   lambda s: kaspar_schuster(as_symbols(s), True)),
    "profile": (lambda x, **k: profile(x, 3, 2, "emc", **k)[1], CODES, lambda s: profile(as_symbols(s), 3, 2, "emc")[1]),
    "multiscale": (lambda x, **k: multiscale(x, [1, 2], "complexity", "quantiles:3", **k), NUMBERS,
                   lambda s: [parsimetrics.factorization(symbolize(s[: len(s) // k * k].reshape(-1, k).mean(axis=1),
                                                                   "quantiles:3"))[0] for k in (1, 2)]),
    "symbolize": (lambda x, **k: symbolize(x, "ordinal:3", **k), NUMBERS, lambda s: symbolize(s, "ordinal:3")),
}


def same(got, expected):
    if isinstance(expected, (tuple, bytes)):
        return got == expected
    return np.asarray(got).tolist() == np.asarray(expected).tolist()


@pytest.mark.parametrize("axis", [0, 1, 2, -1])
@pytest.mark.parametrize("name", SHAPED)
def test_every_series_of_an_nd_array(name, axis):
    function, x, one = SHAPED[name]
    got = function(x, axis=axis)
    moved = np.moveaxis(x, axis, -1)
    for index in np.ndindex(moved.shape[:-1]):
        item = got[index] if isinstance(got, np.ndarray) else got[index[0]][index[1]]
        assert same(item, one(moved[index])), index
    assert same(function(moved[1, 2]), one(moved[1, 2]))  # one series: one value, as before


@pytest.mark.parametrize("name", SHAPED)
def test_dataframes_by_column_and_row_and_dataarrays_by_dim(name):
    import pandas as pd
    import xarray as xr
    function, x, one = SHAPED[name]
    frame = pd.DataFrame(x[0].T, columns=["ab", "ba", "abc", "a", "b"])  # labels are not sequences
    by_column = function(frame)
    assert list(by_column.index) == list(frame.columns)
    for label in frame.columns:
        assert same(by_column.loc[label], one(frame[label].to_numpy()))
        assert same(function(frame[label]), one(frame[label].to_numpy()))
    by_row = function(frame, axis=1)
    assert list(by_row.index) == list(frame.index) and same(by_row.loc[3], one(x[0].T[3]))
    data = xr.DataArray(x, dims=("epoch", "time", "channel"), coords={"epoch": [10, 20, 30, 40], "time": np.arange(5)})
    got = function(data, dim="time")
    assert got.dims[:2] == ("epoch", "channel") and got["epoch"].values.tolist() == [10, 20, 30, 40]
    assert "time" not in got.coords and same(got.values[3, 1], one(x[3, :, 1]))


def test_nid_matrix_of_labelled_and_nd_series():
    import pandas as pd
    import xarray as xr
    rows = CODES[0]
    expected = nid_matrix([as_symbols(r) for r in rows])
    assert nid_matrix(rows).tolist() == expected.tolist() == nid_matrix(rows.T, axis=0).tolist()
    frame = nid_matrix(pd.DataFrame(rows.T, columns=list("vwxyz")))
    assert list(frame.index) == list(frame.columns) == list("vwxyz") and frame.to_numpy().tolist() == expected.tolist()
    data = nid_matrix(xr.DataArray(rows, dims=("channel", "time"), coords={"channel": list("abcde")}), dim="time")
    assert data.dims == ("channel", "channel_2") and data.values.tolist() == expected.tolist()
    reads = pd.Series([b"ACGT", "ACGA", b"TTTT"], index=["r1", "r2", "r3"])  # a column of sequences
    assert many("h", reads).to_dict() == {"r1": parsimetrics.h(b"ACGT"), "r2": parsimetrics.h("ACGA"), "r3": parsimetrics.h("TTTT")}
    assert list(nid_matrix(reads).columns) == ["r1", "r2", "r3"]
    assert many("h", np.array(["ACGT", "ACGA"])) == many("h", np.array([b"ACGT", b"ACGA"])) == many("h", ["ACGT", "ACGA"])


def test_symbolized_codes_mean_the_same_sequence_in_any_container():
    x = np.sin(np.arange(300) * 0.37) + np.arange(300) % 7 * 0.1
    symbols = symbolize(x, "ordinal:4")
    assert max(symbols) >= 10
    codes = np.frombuffer(symbols, dtype=np.uint8)
    expected = parsimetrics.h(symbols)
    assert many("h", [symbols, codes, codes.astype(">i8"), list(codes)]) == [expected] * 4
    assert many("h", codes.astype(np.int16)) == profile(codes, len(codes))[1][0] == expected
    assert kaspar_schuster(codes) == kaspar_schuster(symbols)
    assert many("h", [np.arange(300) % 9 > 4]) == [parsimetrics.h(bytes(np.arange(300) % 9 > 4))]


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
    return inputs + [[0, 1, 10, 1, 0], [255, 1, 1, 255, 1], np.array([True, False, False])]


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
from parsimetrics_tools import lzc_multichannel, pci, permutation_lzc
print(lzc_multichannel(rng.normal(size=(3, 16, 2000))).tolist(), permutation_lzc(rng.normal(size=(40, 3000)), 4).tolist())
print(pci(rng.random((5, 60, 500)) < 0.1).tolist())
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
