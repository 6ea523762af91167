"""Results of `emc`, `nid` and `lz76`, and their independence from the pool size."""

import math
import os
import random
import subprocess
import sys
import time

import pytest

import parsimetrics as pm

BINARY_47 = "01001010101101010101110101010101010000100101011"


def random_bytes(n, sigma, seed):
    rng = random.Random(seed)
    symbols = rng.sample(range(256), sigma)
    return bytes(rng.choice(symbols) for _ in range(n))


def alphabet_size(x: bytes):
    return max(len(set(x)), 2)


def auto_m(n):
    """The automatic largest block length, from the table of lengths."""
    for last, m in ((9, 1), (16, 2), (45, 3), (50, 4), (113, 14), (271, 15), (633, 16), (1448, 17),
                    (3258, 18), (7240, 19), (15929, 20)):
        if n <= last:
            return m
    raise ValueError(n)


def ordered(value):
    """Nested dicts as lists of pairs, so that comparisons see key order."""
    if isinstance(value, dict):
        return [(k, ordered(v)) for k, v in value.items()]
    return value


# (sigma, length) pairs; 2049 and more go through the library suffix sorter.
RANDOM_CASES = [(1, 300), (2, 7), (2, 47), (2, 500), (4, 1000), (26, 333), (256, 2049), (2, 3001), (4, 5000)]
RANDOM_INPUTS = [random_bytes(n, s, seed=17 * n + s) for s, n in RANDOM_CASES]
RANDOM_IDS = [f"sigma{s}-n{n}" for s, n in RANDOM_CASES]


# --- emc ----------------------------------------------------------------------


def test_emc_end_to_end():
    assert pm.emc(BINARY_47) == (0.17727411228758438, [0.05909137076252813, 0.0, 0.11818274152505626, 0.0])


@pytest.mark.parametrize("text, m", [("", 1), ("a", 1), ("bb", 1), ("c" * 10, 2), ("d" * 1000, 17)])
def test_emc_constant_or_tiny(text, m):
    assert pm.emc(text) == (0.0, [0.0] * m)
    assert pm.lz76(text)["emc"] == {"value": 0.0, "summands": [0.0] * m, "max_block_size": m,
                                    "multi_information": 0.0}


@pytest.mark.parametrize("n", range(2, 11))
def test_emc_short_sequences_are_never_rearranged(n):
    x = random_bytes(n, min(n, 4), seed=n)
    assert pm.emc(x) == (0.0, [0.0] * (1 if n <= 9 else 2))


@pytest.mark.parametrize("m", [0, -1, -7, -2**31])
def test_emc_non_positive_block_size_is_automatic(m):
    x = RANDOM_INPUTS[3]
    assert pm.emc(x, max_block_size=m) == pm.emc(x)
    assert pm.lz76(x, max_block_size=m) == pm.lz76(x)


def test_emc_block_size_beyond_length():
    auto = pm.lz76(BINARY_47)["emc"]
    wide = pm.lz76(BINARY_47, max_block_size=40)["emc"]
    assert wide["max_block_size"] == 40 and len(wide["summands"]) == 40
    assert wide["multi_information"] == auto["multi_information"]
    assert min(wide["summands"]) >= 0.0
    assert pm.emc(BINARY_47, max_block_size=40) == (wide["value"], wide["summands"])


def test_emc_huge_block_size_on_two_symbols_is_cheap():
    start = time.monotonic()
    value, summands = pm.emc("ab", max_block_size=10**6)
    assert time.monotonic() - start < 5
    assert value == 0.0 and len(summands) == 10**6 and not any(summands)


def test_emc_impossible_block_size_is_memory_error():
    with pytest.raises(MemoryError):
        pm.emc("ab", max_block_size=2**31 - 1)
    assert pm.emc("ab") == (0.0, [0.0])


@pytest.mark.parametrize("x", RANDOM_INPUTS, ids=RANDOM_IDS)
@pytest.mark.parametrize("m", [-1, 30])
def test_emc_shape(x, m):
    value, summands = pm.emc(x, max_block_size=m)
    assert len(summands) == (m if m > 0 else auto_m(len(x)))
    assert value >= 0.0 and all(s >= 0.0 for s in summands)
    assert value == pytest.approx(math.fsum(summands), rel=1e-12, abs=1e-15)


# --- nid ----------------------------------------------------------------------


NID_CASES = [
    ("abcd", "abce", 0.25),
    ("ab", "ab", 0.0),
    ("", "", 0.0),
    ("", "abc", 0.6666666666666666),
    ("abc", "", 0.6666666666666666),
    ("aaaa", "aaaa", 0.0),
    ("aaaa", "bbbb", 1.0),
]
OPTIONS = [
    {},
    {"alphabet": 0},
    {"alphabet": 300, "log_base": 3},
    {"log_base": 0},
    {"partitions": -7, "jobs": 12},
]


@pytest.mark.parametrize("x, y, want", NID_CASES)
@pytest.mark.parametrize("options", OPTIONS)
def test_nid_examples(x, y, want, options):
    assert pm.nid(x, y, **options) == want


@pytest.mark.parametrize("options", OPTIONS)
def test_nid_options_never_matter(options):
    a, b = RANDOM_INPUTS[4], RANDOM_INPUTS[8]
    assert pm.nid(a, b, **options) == pm.nid(a, b)
    assert pm.nid(b, a[:400], **options) == pm.nid(b, a[:400])


@pytest.mark.parametrize("x", RANDOM_INPUTS, ids=RANDOM_IDS)
def test_nid_of_sequence_with_itself_is_small(x):
    # Repeating x adds at most one factor.
    assert 0.0 <= pm.nid(x, x) <= 1.0 / pm.factorization(x)[0]


# --- lz76 ---------------------------------------------------------------------

CONSTANT_EXTRAS = {"rajski_distance": 0.0, "redundancy": 0.5, "fh_uncertainty": 1.0, "lh_uncertainty": 1.0,
                   "pearson_coefficient": 1.0}
ZERO_EMC = {"value": 0.0, "summands": [0.0], "max_block_size": 1, "multi_information": 0.0}

LZ76_EXAMPLES = {
    "": {"complexity": 1, "h": 0.0, "factors": [0, 1, 0], "emc": ZERO_EMC, "epsilon": 0.0,
         "factors_stddev": 1.3743685418725535, "normal_error": 0.0, "poison_error": 0.0,
         "extras": CONSTANT_EXTRAS},
    "a": {"complexity": 1, "h": 0.0, "factors": [0, 1, 1], "emc": ZERO_EMC, "epsilon": 0.0,
          "factors_stddev": 1.0, "normal_error": 0.0, "poison_error": 0.0, "extras": CONSTANT_EXTRAS},
    "aaaa": {"complexity": 1, "h": 0.5, "factors": [0, 1, 4], "emc": ZERO_EMC, "epsilon": 0.0,
             "factors_stddev": 1.1547005383792515, "normal_error": 0.28867513459481287, "poison_error": 0.125,
             "extras": CONSTANT_EXTRAS},
    "banana": {"complexity": 3, "h": 0.8154648767857287, "factors": [0, 1, 2, 3, 7], "emc": ZERO_EMC,
               "epsilon": 2.306056841148618, "factors_stddev": 1.4106735979665883,
               "normal_error": 0.5415972257316474, "poison_error": 0.13591081279762143,
               "extras": {"rajski_distance": 0.33333333333333326, "redundancy": 0.4,
                          "fh_uncertainty": 0.6666666666666666, "lh_uncertainty": 1.0,
                          "pearson_coefficient": 0.8164965809277261}},
}


@pytest.mark.parametrize("text", list(LZ76_EXAMPLES))
def test_lz76_examples_in_key_order(text):
    assert ordered(pm.lz76(text)) == ordered(LZ76_EXAMPLES[text])


def test_lz76_odd_length_puts_longer_half_last():
    # ababc splits into ab (2 factors) and abc (3); aba and bc would count 2 and 2.
    extras = pm.lz76("ababc")["extras"]
    assert (extras["fh_uncertainty"], extras["lh_uncertainty"]) == (1.0, 2 / 3)
    # Every constant sequence, whatever its halves, gives the same five values.
    assert pm.lz76("zzzzzzz")["extras"] == CONSTANT_EXTRAS


def expected_extras(x: bytes, c):
    c1 = float(pm.factorization(x[: len(x) // 2])[0])
    c2 = float(pm.factorization(x[len(x) // 2:])[0])
    d = c1 + c2
    e = d - c
    return {"rajski_distance": 2.0 - (d / c), "redundancy": e / d, "fh_uncertainty": e / c1,
            "lh_uncertainty": e / c2, "pearson_coefficient": e / math.sqrt(c1 * c2)}


def expected_errors(n, h, spread, k):
    if n < 2:
        return 0.0, 0.0
    k = 2 if k < 3 else k
    w = n / (math.log(n) / math.log(k))
    return (math.sqrt((h * h) * h) * spread) / math.sqrt(w), h / n


@pytest.mark.parametrize("x", RANDOM_INPUTS, ids=RANDOM_IDS)
@pytest.mark.parametrize("log_base", [None, 5])
def test_lz76_agrees_with_the_other_functions(x, log_base):
    r = pm.lz76(x, log_base=log_base)
    assert [type(r[k]) for k in r] == [int, float, list, dict, float, float, float, float, dict]
    assert (r["complexity"], r["factors"]) == pm.factorization(x, log_base=log_base)
    assert r["h"] == pm.h(x, log_base=log_base)
    assert (r["emc"]["value"], r["emc"]["summands"]) == pm.emc(x, log_base=log_base)
    assert r["emc"]["max_block_size"] == auto_m(len(x))
    assert r["extras"] == expected_extras(x, float(r["complexity"]))
    k = alphabet_size(x) if log_base is None else log_base
    assert (r["normal_error"], r["poison_error"]) == expected_errors(len(x), r["h"], r["factors_stddev"], k)


NEVER_BY_BASE = ("complexity", "factors", "factors_stddev", "extras")


def test_lz76_alphabet_changes_only_epsilon():
    x = RANDOM_INPUTS[3]
    base = pm.lz76(x)
    for alphabet in (0, 7, 200, 2**32 - 2):
        other = pm.lz76(x, alphabet=alphabet)
        assert {k: v for k, v in other.items() if k != "epsilon"} == {k: v for k, v in base.items() if k != "epsilon"}
    assert pm.lz76(x, alphabet=200)["epsilon"] != base["epsilon"]


@pytest.mark.parametrize("log_base", [3, 10, 256])
def test_lz76_log_base_rescales_densities_only(log_base):
    x = RANDOM_INPUTS[3]  # binary, nonzero emc
    base, other = pm.lz76(x), pm.lz76(x, log_base=log_base)
    assert base["emc"]["value"] > 0.0
    for key in NEVER_BY_BASE:
        assert other[key] == base[key]
    ratio = math.log(2) / math.log(log_base)
    assert other["h"] == pytest.approx(base["h"] * ratio, rel=1e-12)
    assert other["poison_error"] == pytest.approx(base["poison_error"] * ratio, rel=1e-12)
    assert other["normal_error"] == pytest.approx(base["normal_error"] * ratio**2, rel=1e-12)
    for key in ("value", "multi_information"):
        assert other["emc"][key] == pytest.approx(base["emc"][key] * ratio, rel=1e-9)
    assert other["emc"]["summands"] == pytest.approx([s * ratio for s in base["emc"]["summands"]], rel=1e-9,
                                                     abs=1e-12)
    assert other["epsilon"] != base["epsilon"]


def test_lz76_log_base_below_three_is_two_and_all_ones_is_absent():
    x = RANDOM_INPUTS[4]  # four symbols, so base 2 differs from the default
    two = pm.lz76(x, log_base=2)
    assert pm.lz76(x, log_base=0) == pm.lz76(x, log_base=1) == two != pm.lz76(x)
    assert pm.lz76(x, log_base=2**32 - 1) == pm.lz76(x)


# --- pool size --------------------------------------------------------------------

POOL_SCRIPT = r"""
import os, random
import parsimetrics as pm

rng = random.Random(20000)
inputs = [
    bytes(rng.choice(b"01") for _ in range(20000)),
    bytes(rng.choice(b"ACGT") for _ in range(19000)),
    (b"abracadabra" * 1900)[:20500] + bytes(rng.choice(b"abcdr") for _ in range(300)),
]
results = []
for x in inputs:
    results += [pm.factorization(x), pm.h(x), pm.emc(x), pm.lz76(x, log_base=3)]
results += [pm.nid(inputs[0], inputs[1]), pm.nid(inputs[2], inputs[1], alphabet=9)]
print(len(os.listdir("/proc/self/task")))
print(repr(results))
"""

# RAYON_NUM_THREADS value -> worker threads it should give (None: not checked)
POOL_SIZES = {None: None, "1": 1, "2": 2, "+2": 2, "0": None, "two": None, "-3": None, " 2": None,
              "18446744073709551616": None}


def test_results_do_not_depend_on_pool_size():
    module_dir = os.path.dirname(os.path.abspath(pm.__file__))
    runs = {}
    for value in POOL_SIZES:
        env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, os.environ.get("PYTHONPATH")]))
        if value is not None:
            env["RAYON_NUM_THREADS"] = value
        runs[value] = subprocess.Popen([sys.executable, "-c", POOL_SCRIPT], env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True)
    outputs = {}
    for value, proc in runs.items():
        out, err = proc.communicate(timeout=120)
        assert proc.returncode == 0, (value, err)
        threads, results = out.splitlines()
        if POOL_SIZES[value] is not None:
            assert int(threads) == 1 + POOL_SIZES[value], value  # the variable really took effect
        outputs[value] = results
    assert len(set(outputs.values())) == 1, [v for v in outputs if outputs[v] != outputs[None]]
