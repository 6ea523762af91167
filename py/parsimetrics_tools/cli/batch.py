"""What every command shares: reading its inputs, labelling them, and reporting failures one line each.

A batch reports each failing input in one line on standard error and goes on
with the others (or stops at the first with --fail-fast); the exit status is
then 1.
"""

from __future__ import annotations

import sys
import traceback
from collections import Counter
from collections.abc import Callable, Iterator
from contextlib import closing

from ..inputs import InputError, ReadOptions, Record, ambiguity_warning, read_parts
from ..records import Reads, flattened
from ..measures import AnalysisError
from .processes import WorkerDied, available_cpus, choose_workers, ordered_map
from .progress import Progress

PROG = "parsimetrics"
EXIT_ERROR = 1


class CliError(Exception):
    """A user-facing failure, reported as one line."""


class Stop(Exception):
    """--fail-fast: the first failure ends the batch."""


def say(message: str, prefix: str = f"{PROG}: ", exc: BaseException | None = None) -> None:
    """One line on standard error, if there is one to write to; then ``exc``'s traceback, if given."""
    if sys.stderr is not None:
        try:
            print(prefix + message, file=sys.stderr, flush=True)
            if exc is not None:
                traceback.print_exception(exc, file=sys.stderr)
                sys.stderr.flush()
        except (OSError, ValueError):
            pass


class Batch:
    """Counts failures; reports each in one line, and stops at the first with --fail-fast."""

    def __init__(self, fail_fast: bool, debug: bool = False):
        self.fail_fast = fail_fast
        self.debug = debug
        self.failed = 0

    def fail(self, message: str, exc: BaseException | None = None) -> None:
        """Report one failed input; with --debug, ``exc``'s traceback follows its line."""
        self.failed += 1
        say(message, exc=exc if self.debug else None)
        if self.fail_fast:
            raise Stop

    @property
    def status(self) -> int:
        return EXIT_ERROR if self.failed else 0


def read_options(args) -> ReadOptions:
    return ReadOptions(args.format, args.raw, args.column, args.symbolize, args.missing, args.keep_case,
                       args.rows, args.unit, args.ambiguous, args.max_length)


def read_inputs(args, batch: Batch, columns: bool = False) -> list[Record] | list[Record | Reads]:
    """Every record of every input file; a file that cannot be read is one failure of the batch.

    With ``columns``, the records of FASTA and FASTQ files come as ``Reads``, thousands of them each.
    """
    paths = args.files or ["-"]
    if not args.files and (sys.stdin is None or sys.stdin.isatty()):
        raise CliError("no input: give FILE arguments or pipe a sequence into standard input")
    options = read_options(args)
    records: list[Record | Reads] = []
    for path in paths:
        try:
            if path == "-" and sys.stdin is None:
                raise InputError("<stdin>: standard input is closed")
            read = read_parts(path, options)
            records.extend(read)
            if args.verbose:
                for record in flattened(read):
                    say(record.describe())
        except InputError as exc:
            batch.fail(str(exc), exc)
        except (OSError, ValueError, ArithmeticError) as exc:
            # Whatever reading a file may raise beyond its own errors stays a one-line report.
            batch.fail(f"{path}: {exc}", exc)
    if warning := ambiguity_warning(records):
        say(warning)
    return records if columns else list(flattened(records))


def unique_labels(records: list[Record] | list[Record | Reads]) -> list[str]:
    """The records' names, with the file in front of those that repeat, and a count if they still do."""
    names: list[str] = []
    sources: list[str] = []
    for item in records:
        if isinstance(item, Reads):
            names += item.names
            sources += [item.source] * len(item)
        else:
            names.append(item.name)
            sources.append(item.source)
    if len(set(names)) == len(names):  # as the reads of a FASTQ file: every name is its own label
        return names
    counts = Counter(names)
    repeated = {name for name, count in counts.items() if count > 1}
    labels = [f"{source}:{name}" if name in repeated and name != source else name
              for name, source in zip(names, sources)]
    seen: Counter[str] = Counter()
    total = Counter(labels)
    unique = []
    for label in labels:
        seen[label] += 1
        unique.append(f"{label} ({seen[label]})" if total[label] > 1 else label)
    return unique


def failure_message(label: str, exc: BaseException) -> str:
    """One input's failure in one line, starting with the input's name."""
    if isinstance(exc, WorkerDied):
        return f"{label}: no result: {exc}"
    if isinstance(exc, MemoryError):
        return f"{label}: out of memory"
    if isinstance(exc, AnalysisError | InputError):
        return str(exc)  # the measure's and the readers' own errors already name the input
    # Anything else is unforeseen: its type says more than its text alone.
    return f"{label}: {': '.join(filter(None, (type(exc).__name__, str(exc))))}"


def workers(args, longest: int) -> int | None:
    """The worker processes for ``--processes`` (None: compute here); more than the CPUs are not started."""
    cpus = available_cpus()
    if args.processes > cpus:
        say(f"--processes {args.processes} is more than the {cpus} CPUs available; using {cpus}")
    return choose_workers(min(args.processes, cpus), longest)


def measured_in_order(
    args, job: Callable, work: list[tuple[str, Record]], batch: Batch, progress: Progress
) -> Iterator[tuple[str, Record, object]]:
    """``(label, record, job((label, record)))`` for each item of ``work`` in order; a failed item is reported.

    The jobs run in worker processes with ``--processes`` (and for a long
    input on a terminal, so that Ctrl-C stops at once); ``job`` must then be
    picklable.
    """
    count = workers(args, max(len(r.symbols) for _, r in work))
    with closing(ordered_map(job, work, count, progress)) as outcomes:
        for (label, record), (ok, value) in zip(work, outcomes, strict=True):
            if ok:
                yield label, record, value
            else:
                batch.fail(failure_message(label, value), value)
