"""The ``parsimetrics`` command: argument parsing, the subcommands and error reporting.

Each subcommand is one ``_add_*`` function that registers its parser and
sets ``run`` to the function carrying it out; ``build_parser`` lists them.
A batch reports each failing input in one line on standard error and goes on
with the others; the exit status is then 1.
"""

from __future__ import annotations

import argparse
import csv
import functools
import os
import signal
import sys
import threading
from collections import Counter
from contextlib import closing
from pathlib import Path

import parsimetrics

from . import measures, parallel
from .explain import EXPLANATION, TOPIC_KEYS, topic_text
from .inputs import FORMATS, InputError, ReadOptions, Record, parse_symbolizer, read_source
from .measures import MEASURES, AnalysisError, AnalysisOptions
from .output import Column, Table, clip_name, columns, fixed, json_line, matrix_table, write_matrix
from .parallel import Progress, WorkerDied, isatty, ordered_map
from .plot import PlotUnavailable, plot_format, write_plot, write_profile_plot
from .toolkit import WINDOW_MEASURES, nid_matrix, profile

PROG = "parsimetrics"
EXIT_ERROR = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 128 + signal.SIGTERM

EXPLAIN_HINT = f"'{PROG} explain' defines every output field"
TABLE_HINT = f"(what each column means: {PROG} explain)"


class CliError(Exception):
    """A user-facing failure, reported as one line."""


class _UsageError(Exception):
    pass


class _Terminated(BaseException):
    """SIGTERM, raised where the tool is so that its workers are ended on the way out."""


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage block and exits; we want one line and a return code.
    def error(self, message: str):
        raise _UsageError(f"{self.prog}: {message} (see '{self.prog} --help')")


def _bounded_int(low: int, high: int):
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"must be from {low} to {high}, not {value}")
        return value

    return convert


def _symbolizer(text: str):
    try:
        return parse_symbolizer(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


# --------------------------------------------------------------------------
# Parser


def _input_options() -> argparse.ArgumentParser:
    inputs = _Parser(add_help=False)
    group = inputs.add_argument_group("input")
    group.add_argument(
        "--format",
        choices=FORMATS,
        default="auto",
        help="how to read the input (default: auto, from the file name and contents; "
        "bytes: the file's bytes as they are)",
    )
    group.add_argument("--raw", action="store_true", help="symbol text taken byte for byte, line breaks included")
    group.add_argument(
        "--column", metavar="COL", help="read numbers from this CSV column (a header name or a number from 1)"
    )
    group.add_argument(
        "--symbolize",
        metavar="METHOD",
        type=_symbolizer,
        help="turn numbers into symbols: median, mean or zero (two symbols split at that value), "
        "threshold:X[,Y,...] (the number of cut points at or below the value), "
        "quantiles:K (K equally filled symbols), values (one symbol per distinct value) or "
        "ordinal:D[:TAU] (rank patterns of D values TAU apart); "
        "default: values for integers, median otherwise",
    )
    group.add_argument(
        "--missing",
        choices=("error", "drop"),
        default="error",
        help="gaps in numbers (NaN, NA, null, empty cells): an error (default) or left out",
    )
    group.add_argument("--keep-case", action="store_true", help="keep FASTA letters as they are (default: upper case)")
    group.add_argument("--verbose", "-v", action="store_true", help="report how each input was read on standard error")
    return inputs


def _run_options() -> argparse.ArgumentParser:
    run = _Parser(add_help=False)
    run.add_argument(
        "--processes",
        "-p",
        metavar="N",
        type=_bounded_int(0, 4096),
        default=1,
        help="analyse in N worker processes (0: one per CPU; default 1)",
    )
    run.add_argument(
        "--fail-fast", action="store_true", help="stop at the first input that fails (default: report it, go on)"
    )
    return run


def _table_or_json() -> argparse.ArgumentParser:
    table_or_json = _Parser(add_help=False)
    mode = table_or_json.add_mutually_exclusive_group()
    mode.add_argument("--json", dest="output", action="store_const", const="json", help="write JSON lines")
    mode.add_argument("--table", dest="output", action="store_const", const="table", help="write an aligned table")
    return table_or_json


def _add_analyze(commands, inputs, run, table_or_json) -> None:
    analyze = commands.add_parser(
        "analyze",
        aliases=["analyse"],
        parents=[inputs, run, table_or_json],
        help="measure each sequence",
        description="Measure each sequence: one result per file, or per record of a FASTA file. "
        "Writes a table on a terminal and JSON lines otherwise; every JSON line says how its "
        "input was read and measured, enough to compute it again.",
        epilog=EXPLAIN_HINT + ".",
    )
    analyze.add_argument("files", nargs="*", metavar="FILE", help="input files; '-' or none: standard input")
    measure = analyze.add_argument_group("measure")
    measure.add_argument("--measure", "-m", choices=MEASURES, default="lz76", help="what to compute (default: lz76)")
    measure.add_argument(
        "--alphabet", metavar="K", type=_bounded_int(2, 2**32 - 2), help="alphabet size for the correction term"
    )
    measure.add_argument(
        "--log-base",
        metavar="B",
        type=_bounded_int(2, 2**32 - 2),
        help="logarithm base, 2 for bits (default: the number of distinct symbols, which normalizes h)",
    )
    measure.add_argument(
        "--max-block-size",
        metavar="M",
        type=_bounded_int(1, 2**31 - 1),
        help="largest block length of the EMC ladder (default: chosen from the length)",
    )
    analyze.add_argument(
        "--plot", metavar="FILE.png", help="also draw the entropy densities (and EMC ladders) into this image"
    )
    analyze.set_defaults(run=run_analyze, parser=analyze)


def _add_distance(commands, inputs, run, table_or_json) -> None:
    distance = commands.add_parser(
        "distance",
        parents=[inputs, run],
        help="normalized information distance matrix",
        description="The normalized information distance of every pair of sequences "
        "(files or FASTA records), as a labelled matrix: aligned with 4 decimals on a terminal, "
        "CSV otherwise; CSV, TSV and JSON keep every digit.",
        epilog=EXPLAIN_HINT + ".",
    )
    distance.add_argument("files", nargs="+", metavar="FILE", help="input files; '-': standard input")
    style = distance.add_mutually_exclusive_group()
    style.add_argument("--table", dest="matrix", action="store_const", const="table", help="aligned, 4 decimals")
    style.add_argument("--csv", dest="matrix", action="store_const", const="csv", help="comma-separated")
    style.add_argument("--tsv", dest="matrix", action="store_const", const="tsv", help="tab-separated")
    style.add_argument("--json", dest="matrix", action="store_const", const="json", help="one JSON object")
    distance.set_defaults(run=run_distance, parser=distance, matrix=None)


def _add_nid(commands, inputs, run, table_or_json) -> None:
    nid = commands.add_parser(
        "nid",
        parents=[inputs, table_or_json],
        help="normalized information distance of two sequences",
        description="The normalized information distance of two sequences: two files, "
        "or one file holding two FASTA records.",
        epilog=EXPLAIN_HINT + ".",
    )
    nid.add_argument("files", nargs="+", metavar="FILE", help="one or two input files; '-': standard input")
    nid.set_defaults(run=run_nid, parser=nid)


def _add_explain(commands, inputs, run, table_or_json) -> None:
    explain = commands.add_parser(
        "explain",
        help="what every output field means, and where it comes from",
        description="Define every field of the output, with the literature it comes from; "
        "with a TOPIC, the definitions, formulas and limits of one family of measures.",
    )
    explain.add_argument("topic", nargs="?", choices=TOPIC_KEYS, metavar="TOPIC",
                         help=f"one of {', '.join(TOPIC_KEYS)}")
    explain.set_defaults(run=run_explain, parser=explain)


def _add_profile(commands, inputs, run, table_or_json) -> None:
    windows = commands.add_parser(
        "profile",
        parents=[inputs],
        help="a measure over sliding windows",
        description="A measure over sliding windows of each sequence: one row per window with its "
        "start, end (exclusive) and value.  Unless --log-base is given, every window of a sequence "
        "is normalized with the whole sequence's alphabet size, which each row records.",
        epilog=EXPLAIN_HINT + ".",
    )
    windows.add_argument("files", nargs="*", metavar="FILE", help="input files; '-' or none: standard input")
    windows.add_argument("--window", "-w", metavar="W", type=_bounded_int(1, 2**31 - 1), required=True,
                         help="window length in symbols")
    windows.add_argument("--step", "-s", metavar="S", type=_bounded_int(1, 2**31 - 1),
                         help="distance between window starts (default: the window length)")
    windows.add_argument("--measure", "-m", choices=WINDOW_MEASURES, default="h",
                         help="value of each window (default: h)")
    windows.add_argument("--log-base", metavar="B", type=_bounded_int(2, 2**32 - 2),
                         help="logarithm base of every window (default: the sequence's alphabet size)")
    rows = windows.add_mutually_exclusive_group()
    rows.add_argument("--json", dest="output", action="store_const", const="json", help="write JSON lines")
    rows.add_argument("--csv", dest="output", action="store_const", const="csv", help="write CSV")
    rows.add_argument("--table", dest="output", action="store_const", const="table", help="write an aligned table")
    windows.add_argument("--plot", metavar="FILE.png", help="also draw the values against position")
    windows.set_defaults(run=run_profile, parser=windows)


SUBCOMMANDS = [_add_analyze, _add_distance, _add_nid, _add_profile, _add_explain]


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="LZ76 complexity of symbolic sequences: factorization, entropy density, "
        "effective measure complexity and information distance.",
        epilog=f"Run '{PROG} COMMAND --help' for the options of each command; {EXPLAIN_HINT}.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {parsimetrics.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    shared = (_input_options(), _run_options(), _table_or_json())
    for add in SUBCOMMANDS:
        add(commands, *shared)
    return parser


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    args, extra = build_parser().parse_known_args(argv)
    if extra:
        # The subcommand's own help lists the options it takes.
        args.parser.error(f"unrecognized arguments: {' '.join(extra)}")
    return args


# --------------------------------------------------------------------------
# Running a batch


def _error(message: str, prefix: str = f"{PROG}: ") -> None:
    if sys.stderr is not None:
        try:
            print(prefix + message, file=sys.stderr, flush=True)
        except (OSError, ValueError):
            pass


def _read_options(args) -> ReadOptions:
    return ReadOptions(args.format, args.raw, args.column, args.symbolize, args.missing, args.keep_case)


class _Batch:
    """Counts failures; reports each in one line, and stops at the first with --fail-fast."""

    def __init__(self, fail_fast: bool):
        self.fail_fast = fail_fast
        self.failed = 0

    def fail(self, message: str) -> None:
        self.failed += 1
        _error(message)
        if self.fail_fast:
            raise _Stop

    @property
    def status(self) -> int:
        return EXIT_ERROR if self.failed else 0


class _Stop(Exception):
    pass


def _read(args, batch: _Batch) -> list[Record]:
    paths = args.files or ["-"]
    if not args.files and (sys.stdin is None or sys.stdin.isatty()):
        raise CliError("no input: give FILE arguments or pipe a sequence into standard input")
    options = _read_options(args)
    records: list[Record] = []
    for path in paths:
        try:
            if path == "-" and sys.stdin is None:
                raise InputError("<stdin>: standard input is closed")
            read = read_source(path, options)
            records.extend(read)
            if args.verbose:
                for record in read:
                    _error(record.describe())
        except InputError as exc:
            batch.fail(str(exc))
        except (OSError, ValueError, ArithmeticError) as exc:
            # Whatever reading a file may raise beyond its own errors stays a one-line report.
            batch.fail(f"{path}: {exc}")
    return records


def unique_labels(records: list[Record]) -> list[str]:
    """The records' names, with the file in front of those that repeat, and a count if they still do."""
    repeated = {name for name, count in Counter(r.name for r in records).items() if count > 1}
    labels = [f"{r.source}:{r.name}" if r.name in repeated and r.name != r.source else r.name for r in records]
    seen: Counter[str] = Counter()
    total = Counter(labels)
    unique = []
    for label in labels:
        seen[label] += 1
        unique.append(f"{label} ({seen[label]})" if total[label] > 1 else label)
    return unique


def _output_mode(args) -> str:
    return args.output or ("table" if isatty(sys.stdout) else "json")


def _terminal_width() -> int | None:
    try:
        columns = os.get_terminal_size(sys.stdout.fileno()).columns if sys.stdout.isatty() else 0
    except (OSError, ValueError, AttributeError):
        columns = 0
    return columns or None  # a terminal that reports no size: as for a file


# Below this many symbols a measure takes well under a second, so a worker
# process (half a second to start) would cost more than it saves.
_WORKER_SYMBOLS = 1 << 17


def _workers(args, records: list[Record]) -> int | None:
    """Worker processes to use, or None to compute here.

    On a terminal even one long input is measured in a worker process: this
    one then stays free to show the elapsed time and to stop at once on Ctrl-C.
    """
    if args.processes == 0:
        return parallel.available_cpus()
    if args.processes == 1:
        long = max(len(r.symbols) for r in records) >= _WORKER_SYMBOLS
        return 1 if long and isatty(sys.stderr) else None
    return args.processes


def _failure_message(label: str, exc: BaseException) -> str:
    if isinstance(exc, WorkerDied):
        return f"{label}: no result: {exc}"
    if isinstance(exc, MemoryError):
        return f"{label}: out of memory"
    text = str(exc)
    # The measure's own errors already name the input.
    return text if isinstance(exc, AnalysisError | InputError) else f"{label}: {text or type(exc).__name__}"


def run_analyze(args) -> int:
    if args.max_block_size is not None and args.measure not in ("emc", "lz76"):
        raise CliError("--max-block-size applies to --measure emc and lz76 only")
    _check_plot_path(args.plot)
    batch = _Batch(args.fail_fast)
    options = AnalysisOptions(args.alphabet, args.log_base, args.max_block_size)
    try:
        records = _read(args, batch)
        work = []
        for label, record in zip(unique_labels(records), records):
            try:
                measures.check_record(record, args.measure, options)
            except AnalysisError as exc:
                batch.fail(str(exc))
                continue
            work.append((label, record))
        plotted = _analyze(args, options, work, batch)
    except _Stop:
        return EXIT_ERROR

    if args.plot is not None and plotted:
        _save_plot(args.plot, write_plot, plotted, args.log_base)
    return batch.status


def _check_plot_path(path: str | None) -> None:
    """Refuse a plot path that cannot work before any work starts."""
    if path is None:
        return
    try:
        plot_format(path)
    except ValueError as exc:
        raise CliError(str(exc)) from None
    folder = Path(path).parent
    if not folder.is_dir():
        raise CliError(f"{path}: folder {str(folder)!r} does not exist")


def _save_plot(path: str, draw, *args) -> None:
    try:
        draw(path, *args)
    except (OSError, ValueError) as exc:
        reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else exc
        raise CliError(f"{path}: cannot write the plot: {reason}") from None


def _analyze(args, options: AnalysisOptions, work: list[tuple[str, Record]], batch: _Batch) -> list:
    if not work:
        return []
    job = functools.partial(measures.analysis_job, measure=args.measure, options=options, plot=args.plot is not None)
    table = None
    if _output_mode(args) == "table":
        table = Table([label for label, _ in work], columns(args.measure, args.log_base), width=_terminal_width())
    plotted = []
    description = args.measure if len(work) > 1 else f"{args.measure} {clip_name(work[0][0], 30)}"
    progress = Progress(len(work), description, "inputs")
    try:
        if table:
            progress.write(table.header())
        with closing(ordered_map(job, work, _workers(args, [r for _, r in work]), progress)) as outcomes:
            for (label, _), (ok, value) in zip(work, outcomes, strict=True):
                if not ok:
                    batch.fail(_failure_message(label, value))
                    continue
                result, plot_data = value
                progress.write(table.row(label, result) if table else json_line(result))
                if plot_data is not None:
                    plotted.append((label, *plot_data))
    finally:
        progress.close()
    if table and isatty(sys.stderr) and isatty(sys.stdout):
        _error(TABLE_HINT, prefix="")  # for the person reading the table, not for a file
    return plotted


def run_distance(args) -> int:
    batch = _Batch(args.fail_fast)
    try:
        records = _read(args, batch)
        if len(records) < 2:
            raise CliError(f"distance needs at least two sequences, but the input holds {len(records)}")
        longest = sorted((len(r.symbols) for r in records), reverse=True)[:2]
        measures.check_length("the two longest sequences together", sum(longest))
        names = unique_labels(records)
        matrix = _distances(args, records, names, batch)
    except _Stop:
        return EXIT_ERROR

    style = args.matrix or ("table" if isatty(sys.stdout) else "csv")
    if style == "json":
        sys.stdout.write(json_line({"names": names, "nid": matrix}) + "\n")
    elif style == "table":
        sys.stdout.write("".join(line + "\n" for line in matrix_table(names, matrix, _terminal_width())))
    else:
        write_matrix(sys.stdout, names, matrix, "\t" if style == "tsv" else ",")
    sys.stdout.flush()
    return batch.status


def _distances(args, records: list[Record], names: list[str], batch: _Batch) -> list[list[float | None]]:
    # Every pair on the worker pool's threads (RAYON_NUM_THREADS; --processes has no effect here).
    n = len(records)
    outcome: list = [None]

    def compute() -> None:
        try:
            outcome[0] = nid_matrix([r.symbols for r in records]).tolist()
        except BaseException as exc:  # PanicException included: reported below
            outcome[0] = exc

    # In a thread of its own, so that this one stays free to stop at once on Ctrl-C.
    worker = threading.Thread(target=compute, daemon=True)
    progress = Progress(1, f"nid {n} x {n}", "matrices")
    try:
        worker.start()
        while worker.is_alive():
            worker.join(0.1)
            progress.tick()
        progress.update()
    finally:
        progress.close()
    if isinstance(outcome[0], BaseException):
        batch.fail(_failure_message("distance", outcome[0]))
        return [[None] * n for _ in range(n)]
    return outcome[0]


def run_profile(args) -> int:
    _check_plot_path(args.plot)
    batch = _Batch(fail_fast=False)
    records = _read(args, batch)
    mode = args.output or ("table" if isatty(sys.stdout) else "json")
    labels = unique_labels(records)
    table = Table(labels, _PROFILE_COLUMNS, width=_terminal_width()) if mode == "table" else None
    writer = csv.writer(sys.stdout, lineterminator="\n") if mode == "csv" else None
    if table:
        print(table.header())
    elif writer:
        writer.writerow(["name", "start", "end", args.measure, "log_base"])
    plotted = []
    for label, record in zip(labels, records):
        n = len(record.symbols)
        if args.window > n:
            batch.fail(f"{label}: window {args.window} exceeds the sequence length {n}")
            continue
        # Recorded with every row: without it the values of two inputs do not compare.
        log_base = args.log_base or max(2, len(set(record.symbols)))
        try:
            measures.check_length(label, n)
            starts, values = profile(record.symbols, args.window, args.step, args.measure, log_base=log_base)
        except (AnalysisError, parsimetrics.PanicException, MemoryError) as exc:
            batch.fail(_failure_message(label, exc))
            continue
        for start, value in zip(starts.tolist(), values.tolist()):
            end = start + args.window
            if table:
                print(table.row(label, {"start": start, "end": end, "value": value, "log_base": log_base}))
            elif writer:
                writer.writerow([label, start, end, repr(value), log_base])
            else:
                print(json_line({"name": label, "file": record.source, "start": start, "end": end,
                                 args.measure: value, "log_base": log_base}))
        plotted.append((label, (starts + args.window / 2).tolist(), values.tolist()))
    sys.stdout.flush()
    if args.plot is not None and plotted:
        _save_plot(args.plot, write_profile_plot, plotted, args.measure)
    return batch.status


_PROFILE_COLUMNS = [
    Column("start", 10, lambda r: r["start"], 3),
    Column("end", 10, lambda r: r["end"], 3),
    Column("value", 10, lambda r: fixed(r["value"]) if isinstance(r["value"], float) else r["value"], 3),
    Column("log_base", 8, lambda r: r["log_base"], 1),
]


def run_nid(args) -> int:
    if len(args.files) > 2:
        raise CliError(f"nid compares two sequences, but {len(args.files)} files were given (see 'distance')")
    batch = _Batch(fail_fast=True)
    try:
        records = _read(args, batch)
    except _Stop:
        return EXIT_ERROR
    if len(records) != 2:
        raise CliError(f"nid compares two sequences, but the input holds {len(records)}")
    first, second = records
    first_name, second_name = unique_labels(records)
    value = measures.distance(first, second)
    if _output_mode(args) == "table":
        cols = [Column("second", len(second_name), lambda _: second_name), Column("nid", 8, lambda _: fixed(value))]
        table = Table([first_name], cols, first="first")
        print(table.header())
        print(table.row(first_name, {}))
    else:
        print(json_line({"first": first_name, "second": second_name, "nid": value}))
    return 0


def run_explain(args) -> int:
    sys.stdout.write(topic_text(args.topic) if args.topic else EXPLANATION)
    return 0


# --------------------------------------------------------------------------
# Entry point


def _silence_stdout() -> None:
    # After a closed pipe or a failed write, make the interpreter's final flush a no-op.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError, AttributeError):
        pass


def _prepare_streams() -> None:
    # A file name need not be valid text (it is bytes on POSIX); write what
    # cannot be encoded as backslash escapes instead of failing on it.
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="backslashreplace")
        except (AttributeError, ValueError, OSError):
            pass


def _on_sigterm(signum, frame):
    raise _Terminated


def main(argv: list[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    _prepare_streams()
    if sys.stdout is None:
        _error("standard output is closed")
        return EXIT_ERROR
    try:
        args = parse_args(argv)
    except _UsageError as exc:
        _error(str(exc), prefix="")
        return EXIT_USAGE
    except SystemExit as exc:  # --help and --version
        return exc.code if isinstance(exc.code, int) else EXIT_USAGE
    except KeyboardInterrupt:
        _error("interrupted")
        return EXIT_INTERRUPTED

    previous = None
    if args.run is not run_explain:
        try:
            previous = signal.signal(signal.SIGTERM, _on_sigterm)
        except ValueError:  # not the main thread: leave signals alone
            pass
    try:
        return args.run(args)
    except (CliError, InputError, AnalysisError, PlotUnavailable) as exc:
        _error(str(exc))
    except KeyboardInterrupt:
        _error("interrupted")
        return EXIT_INTERRUPTED
    except _Terminated:
        # The workers have been ended on the way here; say nothing more.
        _silence_stdout()
        return EXIT_TERMINATED
    except BrokenPipeError:
        _silence_stdout()
    except MemoryError:
        _error("out of memory")
    except OSError as exc:
        where = exc.filename if exc.filename else "standard output"
        _error(f"{where}: {exc.strerror or exc}")
        _silence_stdout()
    except Exception as exc:  # a fault of ours: still one line, never a traceback
        _error(f"internal error: {type(exc).__name__}: {exc}")
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return EXIT_ERROR
