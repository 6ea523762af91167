"""Failures forced from outside: allocations that fail inside a computation,
on the calling thread and on the workers, a worker pool that cannot start,
and an internal failure inside a task of a `join`.  Each runs in a child
interpreter with a lowered address-space limit, so that what fails is the
allocation and not this process; each checks that the interpreter and the
module keep working afterwards."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import parsimetrics

MODULE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(parsimetrics.__file__)))

PRELUDE = """
import json, random, resource, sys
import parsimetrics as pm

def address_space():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

SOFT, HARD = resource.getrlimit(resource.RLIMIT_AS)

def limit(extra):
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + extra, HARD))

def unlimit():
    resource.setrlimit(resource.RLIMIT_AS, (SOFT, HARD))

def outcome(call):
    try:
        call()
        return "returned"
    except BaseException as e:
        return f"{type(e).__name__}: {e}"
    finally:
        unlimit()

def coin(n, seed=1):
    return random.Random(seed).randbytes(n // 2 + 1).hex().encode()[:n]
"""


def run_child(body, threads=2, timeout=300):
    """Runs SMALL_CHECKS and `body` in a fresh interpreter and returns the
    last line it printed, as JSON."""
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [MODULE_DIR, env.get("PYTHONPATH")]))
    proc = subprocess.run([sys.executable, "-c", PRELUDE + SMALL_CHECKS + textwrap.dedent(body)], env=env,
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, f"child failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr[-4000:]}"
    return json.loads(proc.stdout.strip().splitlines()[-1])


SMALL_CHECKS = """
def small_calls():
    return [pm.factorization("banana"), pm.nid("abcd", "abce"), pm.emc("0110" * 50, max_block_size=3),
            pm.lz76("abracadabra")["complexity"]]
"""


# Each case: the call made under the limit, the number of symbols n, and the
# address space it gets beyond what the process has mapped, in units of n.
# Counting n symbols takes 8n bytes of working arrays, allocated straight
# from the kernel at these sizes (so they do need new address space).
#  - factorization: the input's copy (n) and its arrays (8n), all on the
#    calling thread;
#  - nid: the calling thread copies both inputs (2n); every count runs on a
#    worker, and the first one already needs 8n more;
#  - emc: the copy (n) and the count of the input (8n) fit on the calling
#    thread, while each surrogate task on a worker needs its own copy of the
#    input as well (9n).
ALLOCATION_CASES = {
    "calling thread": ("pm.factorization(big)", 10_000_000, 4),
    "workers, nid": ("pm.nid(big, big[::-1])", 10_000_000, 6),
    "workers, emc": ("pm.emc(big, max_block_size=2)", 10_000_000, 9.5),
}


@pytest.mark.parametrize("case", list(ALLOCATION_CASES))
def test_allocation_failure_is_memory_error_and_the_module_recovers(case):
    call, n, headroom = ALLOCATION_CASES[case]
    headroom = int(n * headroom)
    result = run_child(f"""
    big = coin({n})
    expected_small = small_calls()  # the pool and its thread stacks exist before the limit
    limit({headroom})
    failed = outcome(lambda: {call})
    limit({headroom})   # the same limit again: the small calls fit in it
    small_ok = small_calls() == expected_small
    unlimit()
    print(json.dumps([failed, small_ok, outcome(lambda: {call})]))
    """)
    assert result == ["MemoryError: ", True, "returned"]


def test_pool_that_cannot_start_is_an_internal_failure_and_is_retried():
    result = run_child("""
    pm.factorization("warm up the calling thread")
    limit(2_000_000)  # far below one worker's stack
    failed = outcome(lambda: pm.emc("ab" * 5000))  # enough work for the pool
    limit(4_000_000)  # a long text wants a second thread, but can do without
    long_alone = outcome(lambda: pm.factorization(coin(140_000)))
    caught_as_exception = False
    try:
        limit(2_000_000)
        pm.nid("ab", "ba")
    except Exception:
        caught_as_exception = True
    except BaseException:
        pass
    unlimit()
    print(json.dumps([failed, long_alone, caught_as_exception, small_calls()[1]]))
    """)
    failed, long_alone, caught_as_exception, nid = result
    assert failed.startswith("PanicException: The global thread pool has not been initialized.")
    assert long_alone == "returned"
    assert not caught_as_exception
    assert nid == 0.25


def _available_memory():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


# The only internal failure an input can reach: the two concatenations of nid
# are counted in a join on the workers and are one byte too long for the
# suffix sort.  Both inputs are constant, so nothing else is factorized; the
# run needs about 8 GiB (the input, its copy, two concatenations), and the
# child is held to 12 GiB so that allocating working arrays before the size
# check shows up as a MemoryError here rather than as the machine swapping.
@pytest.mark.skipif(_available_memory() < 16 * 2**30, reason="needs 16 GiB of free memory")
def test_internal_failure_in_a_join_is_panic_exception_and_the_next_call_works():
    result = run_child("""
    expected_small = small_calls()
    long = b"a" * 2147483646
    resource.setrlimit(resource.RLIMIT_AS, (12 * 2**30, HARD))
    failed = outcome(lambda: pm.nid(b"b", long))
    del long
    print(json.dumps([failed, small_calls() == expected_small]))
    """, timeout=600)
    assert result == ["PanicException: text too large, should not exceed 2147483646 bytes", True]


def test_a_forked_child_gets_a_pool_of_its_own():
    # The parent's workers do not exist in the child; waiting for them would hang.
    result = run_child("""
    import os
    expected_small = small_calls()  # the parent's pool is running
    pid = os.fork()
    if pid == 0:
        os._exit(0 if small_calls() == expected_small else 1)
    _, status = os.waitpid(pid, 0)
    print(json.dumps([os.waitstatus_to_exitcode(status), small_calls() == expected_small]))
    """, timeout=120)
    assert result == [0, True]


def _sanitized():
    with open("/proc/self/maps") as f:
        return any(name in f.read() for name in ("libasan", "libtsan"))


# The C++ runtime allocates a thread's exception state on the thread's first
# throw; if that allocation fails, the process ends.  A fresh thread meets
# a full C heap (every small block taken) under an address-space limit, first
# on its very first call, then again once it has made calls.
@pytest.mark.skipif(_sanitized(), reason="a sanitizer's shadow memory defeats the address-space limit")
def test_exhausted_memory_on_a_thread_that_never_raised_is_memory_error():
    result = run_child("""
    import ctypes, threading
    libc = ctypes.CDLL(None)
    libc.malloc.restype = ctypes.c_void_p
    libc.malloc.argtypes = [ctypes.c_size_t]
    libc.free.argtypes = [ctypes.c_void_p]
    held = (ctypes.c_void_p * 4_000_000)()
    big = coin(1_000_000)
    expected_small = small_calls()
    results = []

    def exhausted(call):
        n = 0
        limit(1 << 20)
        for size in (1 << 16, 1 << 12, 1 << 8, 16):
            while n < len(held) and (p := libc.malloc(size)):
                held[n] = p
                n += 1
        failed = outcome(call)
        for i in range(n):
            libc.free(held[i])
        return [failed, n < len(held)]

    def fresh_thread():
        for _ in range(2):
            results.append(exhausted(lambda: pm.factorization(big)) + [small_calls() == expected_small])

    thread = threading.Thread(target=fresh_thread)
    thread.start()
    thread.join()
    print(json.dumps(results))
    """, timeout=120)
    assert result == [["MemoryError: ", True, True]] * 2
