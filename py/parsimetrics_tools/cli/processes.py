"""Running the per-sequence work in order, in this process or in worker processes.

A call into the extension holds the interpreter lock for its whole duration,
so threads would not overlap, and a signal handler in the same process only
runs when the call returns; separate processes do overlap, and leave this
process free to redraw the progress display and to act on Ctrl-C at once.
Workers are started fresh ("spawn") rather than forked from this process,
which may already be running the extension's native threads; being direct
children of the tool, they can be told to die with it.

The workers are our own small pool rather than ``multiprocessing.Pool``: that
one waits forever for a result when a worker is killed (as the out-of-memory
killer does), while here the death of a worker fails its one item, a fresh
worker takes over, and the other items finish.
"""

from __future__ import annotations

import multiprocessing
import os
import pickle
import signal
import sys
import traceback
import types
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from multiprocessing.connection import Connection, wait
from typing import Any

from .progress import TICK_SECONDS, Progress, isatty

# The extension sizes its thread pool from this variable when it first needs it.
_POOL_THREADS_VARIABLE = "RAYON_NUM_THREADS"


class WorkerDied(Exception):
    """The process computing an item ended without an answer."""


def available_cpus() -> int:
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


# Below this many symbols a measure takes well under a second, so a worker
# process (half a second to start) would cost more than it saves.
_WORKER_SYMBOLS = 1 << 17


def choose_workers(requested: int, longest: int) -> int | None:
    """Worker processes to use for ``--processes requested``, or None to compute here.

    ``longest`` is the length of the longest input.  On a terminal even one
    long input is measured in a worker process: this one then stays free to
    show the elapsed time and to stop at once on Ctrl-C.
    """
    if requested == 0:
        return available_cpus()
    if requested == 1:
        return 1 if longest >= _WORKER_SYMBOLS and isatty(sys.stderr) else None
    return requested


def _context() -> multiprocessing.context.BaseContext:
    return multiprocessing.get_context("spawn")


def _die_with_parent() -> None:
    # Should the tool itself be killed outright, its workers must not compute on.
    if not sys.platform.startswith("linux"):
        return
    try:
        import ctypes

        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _worker(conn: Connection, func: Callable[[Any], Any], threads: int) -> None:
    # Ctrl-C goes to the whole process group; the parent alone handles it and
    # then ends the workers.  SIGTERM keeps its default: end at once.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _die_with_parent()
    if threads and _POOL_THREADS_VARIABLE not in os.environ:
        os.environ[_POOL_THREADS_VARIABLE] = str(threads)
    while True:
        try:
            task = conn.recv()
        except (EOFError, OSError):
            return
        if task is None:
            return
        index, item = task
        try:
            answer = (index, True, func(item))
        except BaseException as exc:  # the item's failure, whatever it is, is the caller's to report
            answer = (index, False, _portable(exc))
        if not _send(conn, answer):
            return


def _send(conn: Connection, answer: tuple) -> bool:
    """Send an item's answer; False when the parent is gone."""
    try:
        conn.send(answer)
    except OSError:  # BrokenPipeError included
        return False
    except Exception as exc:  # a result that cannot be pickled fails its item, not the worker
        return _send(conn, (answer[0], False, _portable(exc)))
    return True


def _portable(exc: BaseException) -> BaseException:
    """``exc`` as it can cross to the parent: its own type where pickling keeps it, else a RuntimeError naming it.

    Either way the worker's traceback goes along as a note, since a traceback
    itself cannot be pickled.
    """
    where = "".join(traceback.format_exception(exc))
    try:
        kept = type(pickle.loads(pickle.dumps(exc))) is type(exc)
    except Exception:
        kept = False
    if not kept:
        exc = RuntimeError(f"{type(exc).__name__}: {exc}")
    exc.add_note(f"In worker process {os.getpid()}:\n{where.rstrip()}")
    return exc


def _describe_death(code: int | None) -> str:
    if code is not None and code < 0:
        try:
            return f"its worker process was killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"its worker process was killed by signal {-code}"
    return f"its worker process ended with status {code}"


@contextmanager
def _main_module_hidden() -> Iterator[None]:
    """While a worker starts, a main module with nothing to import.

    A fresh process runs the caller's main module again before it works
    (under another name, to find what was defined there); a script that calls
    ``main`` without an ``if __name__ == "__main__"`` guard would then start
    workers of its own in every worker, and each would fail.  The workers run
    only this package's functions, so they need nothing from that module.
    """
    main = sys.modules["__main__"]
    sys.modules["__main__"] = types.ModuleType("__main__")
    try:
        yield
    finally:
        sys.modules["__main__"] = main


class _Pool:
    def __init__(self, func: Callable[[Any], Any], workers: int):
        self._ctx = _context()
        self._func = func
        self._threads = max(1, available_cpus() // workers)
        self._slots: list[tuple[Any, Connection]] = [self._start() for _ in range(workers)]
        self._busy: dict[int, int] = {}  # slot -> item index

    def _start(self) -> tuple[Any, Connection]:
        here, there = self._ctx.Pipe()
        process = self._ctx.Process(
            target=_worker, args=(there, self._func, self._threads), daemon=True
        )
        with _main_module_hidden():
            process.start()
        there.close()
        return process, here

    def _replace(self, slot: int) -> None:
        process, conn = self._slots[slot]
        process.join()
        conn.close()
        self._slots[slot] = self._start()

    def run(self, items: list, progress: Progress | None) -> Iterator[tuple[bool, Any]]:
        pending = iter(enumerate(items))
        done: dict[int, tuple[bool, Any]] = {}
        next_out = 0
        exhausted = False

        def feed(slot: int) -> None:
            nonlocal exhausted
            if exhausted:
                return
            task = next(pending, None)
            if task is None:
                exhausted = True
                return
            self._busy[slot] = task[0]
            try:
                self._slots[slot][1].send(task)
            except OSError:  # it died after its last answer: its successor takes the item
                self._replace(slot)
                self._slots[slot][1].send(task)

        for slot in range(len(self._slots)):
            feed(slot)
        while next_out < len(items):
            while next_out in done:
                yield done.pop(next_out)
                next_out += 1
                if progress:
                    progress.update()
            if next_out >= len(items):
                break
            waitables = {}
            for slot in self._busy:
                process, conn = self._slots[slot]
                waitables[conn] = slot
                waitables[process.sentinel] = slot
            ready = {waitables[handle] for handle in wait(list(waitables), timeout=TICK_SECONDS)}
            if progress:
                progress.tick()
            for slot in sorted(ready):
                process, conn = self._slots[slot]
                try:
                    index, ok, value = conn.recv()
                except (EOFError, OSError):
                    process.join()
                    index = self._busy[slot]
                    ok, value = False, WorkerDied(_describe_death(process.exitcode))
                    self._replace(slot)
                del self._busy[slot]
                done[index] = (ok, value)
                feed(slot)

    def close(self, now: bool) -> None:
        for process, conn in self._slots:
            if now:
                process.terminate()  # default SIGTERM action: the computation ends at once
            else:
                try:
                    conn.send(None)
                except OSError:
                    process.terminate()
        for process, conn in self._slots:
            process.join(timeout=None if not now else 5)
            if process.is_alive():
                process.kill()
                process.join()
            conn.close()


def ordered_map(
    func: Callable[[Any], Any],
    items: list,
    processes: int | None = None,
    progress: Progress | None = None,
) -> Iterator[tuple[bool, Any]]:
    """Yield ``(True, func(item))``, or ``(False, exception)`` when it failed, for every item in input order.

    With ``processes`` of 1 or more the calls run in that many worker
    processes (None runs them here); ``func`` must then be picklable (a
    module-level function or a ``functools.partial`` of one).  An item whose
    worker died yields a ``WorkerDied`` failure.  Closing the iterator early
    ends the workers at once.
    """
    if not items:
        return
    if processes is None:
        for item in items:
            try:
                outcome = (True, func(item))
            except Exception as exc:
                outcome = (False, exc)
            yield outcome
            if progress:
                progress.update()
        return

    pool = _Pool(func, min(processes, len(items)))
    finished = False
    try:
        yield from pool.run(items, progress)
        finished = True
    finally:
        # After an error, Ctrl-C or SIGTERM, stop the workers now rather than after their current item.
        pool.close(now=not finished)
