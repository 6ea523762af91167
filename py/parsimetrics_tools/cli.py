"""The ``parsimetrics`` command: argument parsing, the three subcommands and error reporting."""

from __future__ import annotations

import argparse
import functools
import os
import sys
from contextlib import closing
from pathlib import Path

import parsimetrics

from . import measures, parallel
from .inputs import FORMATS, InputError, ReadOptions, Record, parse_symbolizer, read_records
from .measures import MEASURES, AnalysisError, AnalysisOptions
from .output import COLUMNS, Table, fixed, json_line, write_matrix
from .parallel import Progress, ordered_map
from .plot import PlotUnavailable, require_matplotlib, write_plot

PROG = "parsimetrics"
EXIT_ERROR = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


class CliError(Exception):
    """A user-facing failure, reported as one line."""


class _UsageError(Exception):
    pass


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


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="LZ76 complexity of symbolic sequences: factorization, entropy density, "
        "effective measure complexity and information distance.",
        epilog="Run 'parsimetrics COMMAND --help' for the options of each command.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {parsimetrics.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    inputs = _Parser(add_help=False)
    group = inputs.add_argument_group("input")
    group.add_argument(
        "--format",
        choices=FORMATS,
        default="auto",
        help="how to read the input (default: auto, from the file name and contents)",
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
        "quantiles:K (K equally filled symbols) or values (one symbol per distinct value); "
        "default: values for integers, median otherwise",
    )

    processes = _Parser(add_help=False)
    processes.add_argument(
        "--processes",
        "-p",
        metavar="N",
        type=_bounded_int(0, 4096),
        default=1,
        help="analyse in N worker processes (0: one per CPU; default 1)",
    )

    table_or_json = _Parser(add_help=False)
    mode = table_or_json.add_mutually_exclusive_group()
    mode.add_argument("--json", dest="output", action="store_const", const="json", help="write JSON lines")
    mode.add_argument("--table", dest="output", action="store_const", const="table", help="write an aligned table")

    analyze = commands.add_parser(
        "analyze",
        parents=[inputs, processes, table_or_json],
        help="measure each sequence",
        description="Measure each sequence: one result per file, or per record of a FASTA file. "
        "Writes a table on a terminal and JSON lines otherwise.",
    )
    analyze.add_argument("files", nargs="*", metavar="FILE", help="input files; '-' or none: standard input")
    measure = analyze.add_argument_group("measure")
    measure.add_argument("--measure", "-m", choices=MEASURES, default="lz76", help="what to compute (default: lz76)")
    measure.add_argument(
        "--alphabet", metavar="K", type=_bounded_int(2, 2**32 - 2), help="alphabet size for the correction term"
    )
    measure.add_argument(
        "--log-base", metavar="B", type=_bounded_int(2, 2**32 - 2), help="logarithm base (default: the alphabet size)"
    )
    measure.add_argument(
        "--max-block-size",
        metavar="M",
        type=_bounded_int(1, 2**31 - 1),
        help="largest block length of the EMC ladder (default: chosen from the length)",
    )
    analyze.add_argument("--plot", metavar="FILE.png", help="also draw the EMC ladders and entropy densities")
    analyze.set_defaults(run=run_analyze)

    distance = commands.add_parser(
        "distance",
        parents=[inputs, processes],
        help="normalized information distance matrix",
        description="The normalized information distance of every pair of sequences "
        "(files or FASTA records), as a labelled matrix.",
    )
    distance.add_argument("files", nargs="+", metavar="FILE", help="input files; '-': standard input")
    style = distance.add_mutually_exclusive_group()
    style.add_argument("--csv", dest="matrix", action="store_const", const="csv", help="comma-separated (default)")
    style.add_argument("--tsv", dest="matrix", action="store_const", const="tsv", help="tab-separated")
    style.add_argument("--json", dest="matrix", action="store_const", const="json", help="one JSON object")
    distance.set_defaults(run=run_distance, matrix="csv")

    nid = commands.add_parser(
        "nid",
        parents=[inputs, table_or_json],
        help="normalized information distance of two sequences",
        description="The normalized information distance of two sequences: two files, "
        "or one file holding two FASTA records.",
    )
    nid.add_argument("files", nargs="+", metavar="FILE", help="one or two input files; '-': standard input")
    nid.set_defaults(run=run_nid)
    return parser


# --------------------------------------------------------------------------
# Subcommands


def _read(args) -> list[Record]:
    if not args.files and sys.stdin.isatty():
        raise CliError("no input: give FILE arguments or pipe a sequence into standard input")
    options = ReadOptions(args.format, args.raw, args.column, args.symbolize)
    return read_records(args.files, options)


def _output_mode(args) -> str:
    return args.output or ("table" if sys.stdout.isatty() else "json")


def _processes(args) -> int:
    return args.processes or parallel.available_cpus()


def run_analyze(args) -> int:
    if args.max_block_size is not None and args.measure not in ("emc", "lz76"):
        raise CliError("--max-block-size applies to --measure emc and lz76 only")
    if args.plot:
        require_matplotlib()
        folder = Path(args.plot).parent
        if not folder.is_dir():
            raise CliError(f"{args.plot}: folder {str(folder)!r} does not exist")
    records = _read(args)
    options = AnalysisOptions(args.alphabet, args.log_base, args.max_block_size)
    for record in records:
        measures.check_record(record, args.measure, options)

    job = functools.partial(measures.analysis_job, measure=args.measure, options=options, plot=bool(args.plot))
    table = Table([r.name for r in records], COLUMNS[args.measure]) if _output_mode(args) == "table" else None
    plotted = []
    progress = Progress(len(records), args.measure)
    try:
        if table:
            progress.write(table.header())
        with closing(ordered_map(job, records, _processes(args), progress)) as results:
            for record, (result, plot_data) in zip(records, results, strict=True):
                progress.write(table.row(record.name, result) if table else json_line(result))
                if plot_data is not None:
                    plotted.append((record.name, *plot_data))
    finally:
        progress.close()

    if args.plot:
        try:
            write_plot(args.plot, plotted)
        except (OSError, ValueError) as exc:
            raise CliError(f"{args.plot}: cannot write the plot: {exc}") from None
    return 0


def run_distance(args) -> int:
    records = _read(args)
    if len(records) < 2:
        raise CliError(f"distance needs at least two sequences, but the input holds {len(records)}")
    longest = sorted((len(r.symbols) for r in records), reverse=True)[:2]
    measures.check_length("the two longest sequences together", sum(longest))

    n = len(records)
    pairs = [(i, j) for i in range(n) for j in range(i, n)]
    matrix = [[0.0] * n for _ in range(n)]
    progress = Progress(len(pairs), "nid")
    try:
        results = ordered_map(measures.distance_by_index, pairs, _processes(args), progress, shared=records)
        with closing(results):
            for (i, j), value in zip(pairs, results, strict=True):
                matrix[i][j] = matrix[j][i] = value
    finally:
        progress.close()

    names = [r.name for r in records]
    if args.matrix == "json":
        sys.stdout.write(json_line({"names": names, "nid": matrix}) + "\n")
    else:
        write_matrix(sys.stdout, names, matrix, "\t" if args.matrix == "tsv" else ",")
    sys.stdout.flush()
    return 0


def run_nid(args) -> int:
    if len(args.files) > 2:
        raise CliError(f"nid compares two sequences, but {len(args.files)} files were given (see 'distance')")
    records = _read(args)
    if len(records) != 2:
        raise CliError(f"nid compares two sequences, but the input holds {len(records)}")
    first, second = records
    value = measures.distance(first, second)
    if _output_mode(args) == "table":
        columns = [("second", len(second.name), lambda r: second.name), ("nid", 8, lambda r: fixed(value))]
        table = Table([first.name], columns, first="first")
        print(table.header())
        print(table.row(first.name, {}))
    else:
        print(json_line({"first": first.name, "second": second.name, "nid": value}))
    return 0


# --------------------------------------------------------------------------
# Entry point


def _error(message: str) -> None:
    print(f"{PROG}: {message}", file=sys.stderr)


def _silence_stdout() -> None:
    # After a closed pipe, make the interpreter's final flush a no-op.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError, AttributeError):
        pass


def main(argv: list[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    try:
        args = build_parser().parse_args(argv)
    except _UsageError as exc:
        print(exc, file=sys.stderr)
        return EXIT_USAGE
    except SystemExit as exc:  # --help and --version
        return exc.code if isinstance(exc.code, int) else EXIT_USAGE
    except KeyboardInterrupt:
        _error("interrupted")
        return EXIT_INTERRUPTED

    try:
        return args.run(args)
    except (CliError, InputError, AnalysisError, PlotUnavailable) as exc:
        _error(str(exc))
    except KeyboardInterrupt:
        _error("interrupted")
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        _silence_stdout()
    except MemoryError:
        _error("out of memory")
    except OSError as exc:
        _error(f"{exc.filename + ': ' if exc.filename else ''}{exc.strerror or exc}")
    return EXIT_ERROR
