"""Control of the toolkit's native calls: Ctrl-C, exceptions while reading,
limits on threads and memory, one pool per process, memory per row."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import parsimetrics
from parsimetrics_tools import many, nid_matrix, profile


def run_child(body, env=(), timeout=300):
    """The JSON that `body`, run in a fresh interpreter, prints last."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(body)], capture_output=True, text=True,
                          timeout=timeout, env={**os.environ, **dict(env)})
    assert proc.returncode == 0, proc.stderr[-3000:]
    return json.loads(proc.stdout.splitlines()[-1])


# --------------------------------------------------------------------------
# Ctrl-C: each call would last 10 s or more.

INTERRUPTED = """
import json, os, signal, threading, time
import numpy as np
from parsimetrics_tools import many, nid_matrix, profile

rng = np.random.default_rng(0)
rows = [rng.integers(0, 2, 400_000, dtype=np.uint8).tobytes() for _ in range({rows})]
small = [b"0110101", b"0001" * 300]
def small_calls():
    return many("h", small), nid_matrix(small).tolist(), profile(small[1], 100)[1].tolist()
expected = small_calls()

sent = []
def interrupt():
    time.sleep(0.5)
    sent.append(time.perf_counter())
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=interrupt).start()
try:
    {call}
    took = None
except KeyboardInterrupt:
    took = time.perf_counter() - sent[0]
# Nothing goes on working for the interrupted call.
cpu = time.process_time()
time.sleep(0.3)
idle = time.process_time() - cpu
print(json.dumps([took, idle, small_calls() == expected]))
"""

# (rows of 400,000 symbols, the call); the last one's items take a second
# each, which the interrupted call leaves to end on their own.
CALLS = {
    "many": (20, 'many("emc", rows)'),
    "profile": (5, 'profile(b"".join(rows), 400_000, measure="emc")'),
    "nid_matrix": (40, "nid_matrix(rows)"),
    "many, one long sequence": (16, 'many("emc", [b"".join(rows)])'),
}


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("function", list(CALLS))
def test_ctrl_c_stops_the_call_at_once(function, threads):
    rows, call = CALLS[function]
    took, idle, unchanged = run_child(INTERRUPTED.format(rows=rows, call=call), {"RAYON_NUM_THREADS": str(threads)})
    assert took is not None and took < 0.5
    assert idle < 0.1 or function.endswith("long sequence")
    assert unchanged


# --------------------------------------------------------------------------
# Exceptions raised while the toolkit reads Python-level sequences


class Mine(Exception):
    pass


class Raising:
    """A sequence whose items cannot be read."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 3

    def __getitem__(self, i):
        raise self.exc


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3), MemoryError(), Mine("mine")])
@pytest.mark.parametrize("call", [
    lambda s: many("h", [b"01", s]),
    lambda s: profile(s, 1),
    lambda s: nid_matrix([b"01", s]),
], ids=["many", "profile", "nid_matrix"])
def test_exceptions_from_the_caller_propagate_unchanged(call, exc):
    with pytest.raises(type(exc)) as raised:
        call(Raising(exc))
    assert raised.value is exc
    with pytest.raises(TypeError, match="expected str"):  # the module keeps its rule
        parsimetrics.h(Raising(exc))


@pytest.mark.parametrize("value, error", [(object(), TypeError), (256, ValueError), (2**64, ValueError)])
def test_a_value_that_is_no_symbol_is_the_documented_error(value, error):
    with pytest.raises(error, match=r"^many: sequences\[1\]: ") as raised:
        many("h", [b"01", [1, value]])
    assert type(raised.value.__cause__) is error


# --------------------------------------------------------------------------
# Limits: no room for worker threads, and batches that cannot fit

LIMITED = """
import json, resource, warnings
import numpy as np
from parsimetrics_tools import many, profile

rows = [np.random.default_rng(k).integers(0, 3, 5000, dtype=np.uint8).tobytes() for k in range(4)]
def calls():
    return many("emc", rows, max_block_size=4), profile(rows[0], 1000, measure="emc")[1].tolist()
def outcome(call):
    try:
        call()
        return "returned"
    except BaseException as exc:
        return type(exc).__name__

soft, hard = resource.getrlimit(resource.RLIMIT_AS)
with open("/proc/self/statm") as f:
    size = int(f.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (size + (48 << 20), hard))  # far from 64 thread stacks
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    limited = calls(), calls()
refused = outcome(lambda: many("emc", rows, max_block_size=2**30))
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(json.dumps([limited[0] == limited[1] == calls(), [str(w.message) for w in caught], refused]))
"""


def test_without_worker_threads_the_calling_thread_computes():
    same, warned, refused = run_child(LIMITED, {"RAYON_NUM_THREADS": "64"})
    assert same
    assert len(warned) == 1 and "worker threads could not be started" in warned[0]
    assert refused == "MemoryError"


def test_a_batch_that_cannot_fit_is_refused_at_once():
    with pytest.raises(MemoryError):
        many("emc", [b"01" * 100] * 64, max_block_size=2**31 - 1)


# --------------------------------------------------------------------------
# One pool for the module and the toolkit

SHARED = """
import json, os
import numpy as np
import parsimetrics as pm
from parsimetrics_tools import many

big = np.random.default_rng(0).integers(0, 2, 100_000, dtype=np.uint8).tobytes()
before = len(os.listdir("/proc/self/task"))
for call in {order}:
    call()
print(json.dumps(len(os.listdir("/proc/self/task")) - before))
"""


@pytest.mark.parametrize("order", ['lambda: pm.emc(big), lambda: many("emc", [big])',
                                   'lambda: many("emc", [big]), lambda: pm.emc(big)'])
def test_the_module_and_the_toolkit_share_one_pool(order):
    assert run_child(SHARED.format(order=f"[{order}]"), {"RAYON_NUM_THREADS": "3"}) == 3


# --------------------------------------------------------------------------
# Memory per row: the peak beyond the inputs and the results, at two row counts

PER_ROW = """
import gc, json, sys
from parsimetrics_tools import many

rows = [b"01", b"11", b"10"] * ({n} // 3)
gc.collect()
with open("/proc/self/statm") as f:
    base = int(f.read().split()[1]) * 4096
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # peak resident size from here on
values = many("h", rows)
with open("/proc/self/status") as f:
    peak = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))
print(json.dumps(peak - base - sys.getsizeof(values) - sum(map(sys.getsizeof, values))))
"""


def test_memory_per_row_beyond_the_results():
    counts = (600_000, 1_800_000)
    beyond = [run_child(PER_ROW.format(n=n)) for n in counts]
    assert (beyond[1] - beyond[0]) / (counts[1] - counts[0]) <= 64
