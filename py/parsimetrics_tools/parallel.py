"""Running the per-sequence work in order, in this process or in worker processes.

A call into the extension holds the interpreter lock for its whole duration,
so threads would not overlap; separate processes do.  Workers are started
fresh ("forkserver", or "spawn" where that is missing) rather than forked from
this process, which may already be running the extension's native threads.
"""

from __future__ import annotations

import multiprocessing
import os
import signal
import sys
from collections.abc import Callable, Iterator
from typing import Any

# The extension sizes its thread pool from this variable when it first needs it.
_POOL_THREADS_VARIABLE = "RAYON_NUM_THREADS"

_shared: Any = None


def shared() -> Any:
    """The value handed to ``ordered_map(..., shared=...)``, in whichever process runs the job."""
    return _shared


def _init_worker(threads: int, value: Any) -> None:
    global _shared
    # Ctrl-C goes to the whole process group; the parent alone handles it and
    # then ends the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if threads and _POOL_THREADS_VARIABLE not in os.environ:
        os.environ[_POOL_THREADS_VARIABLE] = str(threads)
    _shared = value


def available_cpus() -> int:
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


def _context() -> multiprocessing.context.BaseContext:
    methods = multiprocessing.get_all_start_methods()
    return multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")


class Progress:
    """A progress bar on standard error, shown only for several items on a terminal."""

    def __init__(self, total: int, description: str, enabled: bool | None = None):
        if enabled is None:
            enabled = total > 1 and sys.stderr.isatty()
        self._bar = None
        if enabled:
            try:
                from tqdm import tqdm
            except ImportError:  # the bar is a nicety; work on without it
                tqdm = None
            if tqdm is not None:
                self._bar = tqdm(total=total, desc=description, unit="seq", file=sys.stderr, leave=False)

    def update(self) -> None:
        if self._bar is not None:
            self._bar.update()

    def write(self, line: str) -> None:
        """Write a line to standard output without tearing the bar."""
        if self._bar is not None and sys.stdout.isatty():
            self._bar.write(line, file=sys.stdout)
        else:
            sys.stdout.write(line + "\n")
            sys.stdout.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None


def ordered_map(
    func: Callable[[Any], Any],
    items: list,
    processes: int = 1,
    progress: Progress | None = None,
    shared: Any = None,
) -> Iterator[Any]:
    """Yield ``func(item)`` for every item, in input order.

    With ``processes`` above 1 the calls run in that many worker processes;
    ``func`` must then be picklable (a module-level function or a
    ``functools.partial`` of one).  ``shared`` is made available to ``func``
    through ``shared()``, sent to each worker once instead of with every item.
    """
    global _shared
    workers = min(processes, len(items))
    if workers <= 1:
        previous, _shared = _shared, shared
        try:
            for item in items:
                yield func(item)
                if progress:
                    progress.update()
        finally:
            _shared = previous
        return

    threads = max(1, available_cpus() // workers)
    pool = _context().Pool(workers, initializer=_init_worker, initargs=(threads, shared))
    finished = False
    try:
        for result in pool.imap(func, items, chunksize=1):
            yield result
            if progress:
                progress.update()
        finished = True
    finally:
        if finished:
            pool.close()
        else:
            # An error or Ctrl-C: stop the workers now rather than after their current item.
            pool.terminate()
        pool.join()

