"""The command's arguments: the options every command shares, and one ``_add_*`` function per command.

Each ``_add_*`` function registers its command's parser and sets ``run`` to
the function carrying it out; ``build_parser`` lists them.
"""

from __future__ import annotations

import argparse
import sys

import parsimetrics

from ..explain import EXPLANATION, TOPIC_KEYS, topic_text
from ..inputs import FORMATS, parse_symbolizer
from ..measures import MEASURES, PERMUTATION, AnalysisError, permutation_patterns
from ..toolkit import WINDOW_MEASURES
from .analyze import run_analyze
from .channels import run_multichannel, run_pci
from .batch import PROG
from .distance import run_distance, run_nid
from .profile import run_profile

EXPLAIN_HINT = f"'{PROG} explain' defines every output field"


class UsageError(Exception):
    """A command line argparse refuses; reported as one line with exit status 2."""


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage block and exits; we want one line and a return code.
    def error(self, message: str):
        raise UsageError(f"{self.prog}: {message} (see '{self.prog} --help')")


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


def _measure(text: str) -> str:
    if text in MEASURES:
        return text
    try:
        if permutation_patterns(text) is not None:
            return text
    except AnalysisError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None
    raise argparse.ArgumentTypeError(f"invalid choice: {text!r} (choose from {', '.join(MEASURES)} or "
                                     f"{PERMUTATION}D[:TAU])")


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0 < value < float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number, not {text}")
    return value


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
        "bytes: the file's bytes as they are). Digits alone, one run per line, are one integer per line "
        "unless they are wrapped symbol text: a single line, a line of 2+ digits starting with 0, or lines "
        "of one width (the last no wider) either over 18 digits or of 0 and 1 only",
    )
    group.add_argument("--raw", action="store_true", help="symbol text taken byte for byte, line breaks included")
    group.add_argument("--unit", choices=("byte", "char"), default="byte",
                       help="symbols of text: bytes (default) or UTF-8 characters, up to 256 distinct, coded "
                       "in the order they first appear; in prose a line break between words reads as a space")
    group.add_argument(
        "--column", metavar="COL", help="read numbers from this table column (a header name or a number from 1)"
    )
    group.add_argument("--rows", action="store_true",
                       help="read each row of a table or 2-D .npy array as a record of its own, named by its "
                       "index from 0")
    group.add_argument("--ambiguous", choices=("keep", "drop", "error"), default="keep",
                       help="FASTA/FASTQ nucleotide symbols outside ACGT (U), such as N: kept as symbols "
                       "(default), left out, or an error")
    group.add_argument("--max-length", metavar="N", type=_bounded_int(1, 2**31 - 2),
                       help="refuse a record longer than N symbols as soon as reading passes N "
                       "(default: the longest the measures accept)")
    group.add_argument(
        "--symbolize",
        metavar="METHOD",
        type=_symbolizer,
        help="turn numbers into symbols: median, mean or zero (two symbols split at that value), "
        "threshold:X[,Y,...] (the number of cut points at or below the value), "
        "quantiles:K (K equally filled symbols), values (one symbol per distinct value), "
        "hilbert (1 above the mean of the Hilbert amplitude envelope) or "
        "ordinal:D[:TAU] (rank patterns of D values TAU apart); "
        "default: values for integers, median otherwise; the symbols are the bytes 0, 1, ... "
        "that parsimetrics_tools.symbolize gives",
    )
    group.add_argument(
        "--missing",
        choices=("error", "drop"),
        default="error",
        help="gaps in numbers (NaN, NA, null, empty cells): an error (default) or left out",
    )
    group.add_argument("--keep-case", action="store_true", help="keep FASTA letters as they are (default: upper case)")
    group.add_argument("--verbose", "-v", action="store_true", help="report how each input was read on standard error")
    _add_debug(inputs, argparse.SUPPRESS)
    return inputs


def _add_debug(parser: argparse.ArgumentParser, default) -> None:
    # Before or after the command name alike; the command's own copy must not reset the first.
    parser.add_argument("--debug", action="store_true", default=default,
                        help="after each error's line, show where it arose (a traceback, for reporting a fault)")


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


_LINES = {"json": "write JSON lines", "table": "write an aligned table"}


def _add_output(parser: argparse.ArgumentParser, piped: str, styles: dict[str, str] = _LINES) -> None:
    """One of ``--STYLE`` for each style (with its help); unchosen, a table on a terminal and ``piped`` otherwise."""
    group = parser.add_mutually_exclusive_group()
    for style, help in styles.items():
        group.add_argument(f"--{style}", dest="output", action="store_const", const=style, help=help)
    parser.set_defaults(output=None, piped_output=piped)


def _add_analyze(commands, inputs, run) -> None:
    analyze = commands.add_parser(
        "analyze",
        aliases=["analyse"],
        parents=[inputs, run],
        help="measure each sequence",
        description="Measure each sequence: one result per file, or per record of a FASTA file. "
        "Writes a table on a terminal and JSON lines otherwise; every JSON line says how its "
        "input was read and measured, enough to compute it again.",
        epilog=EXPLAIN_HINT + ".",
    )
    analyze.add_argument("files", nargs="*", metavar="FILE", help="input files; '-' or none: standard input")
    measure = analyze.add_argument_group("measure")
    measure.add_argument(
        "--measure", "-m", type=_measure, default="lz76", metavar="MEASURE",
        help=f"what to compute: {', '.join(MEASURES)}, or {PERMUTATION}D[:TAU] (permutation LZC: the numbers "
        "read as ordinal patterns of D values TAU apart, counted and normalized by D!) (default: lz76)",
    )
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
    _add_output(analyze, "json")
    analyze.set_defaults(run=run_analyze, parser=analyze)


def _add_distance(commands, inputs, run) -> None:
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
    _add_output(distance, "csv", {"table": "aligned, 4 decimals", "csv": "comma-separated", "tsv": "tab-separated",
                                  "json": "one JSON object"})
    distance.set_defaults(run=run_distance, parser=distance)


def _add_nid(commands, inputs, run) -> None:
    nid = commands.add_parser(
        "nid",
        parents=[inputs],
        help="normalized information distance of two sequences",
        description="The normalized information distance of two sequences: two files, "
        "or one file holding two FASTA records.",
        epilog=EXPLAIN_HINT + ".",
    )
    nid.add_argument("files", nargs="+", metavar="FILE", help="one or two input files; '-': standard input")
    _add_output(nid, "json")
    nid.set_defaults(run=run_nid, parser=nid)


def _add_explain(commands, inputs, run) -> None:
    explain = commands.add_parser(
        "explain",
        help="what every output field means, and where it comes from",
        description="Define every field of the output, with the literature it comes from; "
        "with a TOPIC, the definitions, formulas and limits of one family of measures.",
    )
    explain.add_argument("topic", nargs="?", choices=TOPIC_KEYS, metavar="TOPIC",
                         help=f"one of {', '.join(TOPIC_KEYS)}")
    explain.set_defaults(run=_run_explain, parser=explain)


def _run_explain(args) -> int:
    sys.stdout.write(topic_text(args.topic) if args.topic else EXPLANATION)
    return 0


def _add_profile(commands, inputs, run) -> None:
    windows = commands.add_parser(
        "profile",
        parents=[inputs, run],
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
    _add_output(windows, "json", {"json": "write JSON lines", "csv": "write CSV", "table": "write an aligned table"})
    windows.add_argument("--plot", metavar="FILE.png", help="also draw the values against position")
    windows.add_argument("--rate", metavar="HZ", type=_positive_float,
                         help="symbols per second of the input: the plot shows time in seconds")
    windows.set_defaults(run=run_profile, parser=windows)


def _add_channels(commands, inputs, run) -> None:
    for name, summary, about in (
        ("multichannel", "LZc and LZs of channels x samples (Schartner et al.)",
         "LZc and LZs of each file: every channel binarized at the mean of its Hilbert amplitude envelope, "
         "the channels read sample by sample, each count divided by that of a shuffled copy."),
        ("pci", "perturbational complexity index of a binary sources x samples matrix (Casali et al.)",
         "PCI of each file: a binary matrix of significant sources (0 and 1), its sources ordered by "
         "their activity, read sample by sample: c log2(L) / (L H)."),
    ):
        command = commands.add_parser(name, help=summary, description=about + " A table's columns (or those "
                                      "of a 2-D .npy array) are the channels, its rows the samples.",
                                      epilog=EXPLAIN_HINT + ".")
        command.add_argument("files", nargs="+", metavar="FILE", help="tables or 2-D .npy files")
        command.add_argument("--columns", metavar="A,B,...", help="the columns to use, by name or number from 1 "
                             "(default: all)")
        if name == "multichannel":
            command.add_argument("--seed", metavar="N", type=_bounded_int(0, 2**63 - 1),
                                 help="seed of the shuffles (default: from each file's binarized data)")
            command.set_defaults(run=run_multichannel)
        else:
            command.add_argument("--order", choices=("activity", "given"), default="activity",
                                 help="sources most active first, as published (default), or as given")
            command.set_defaults(run=run_pci)
        _add_debug(command, argparse.SUPPRESS)
        _add_output(command, "json")
        command.set_defaults(parser=command)


SUBCOMMANDS = [_add_analyze, _add_distance, _add_nid, _add_profile, _add_channels, _add_explain]


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="LZ76 complexity of symbolic sequences: factorization, entropy density, "
        "effective measure complexity and information distance.",
        epilog=f"Run '{PROG} COMMAND --help' for the options of each command; {EXPLAIN_HINT}.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {parsimetrics.__version__}")
    _add_debug(parser, False)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    shared = (_input_options(), _run_options())
    for add in SUBCOMMANDS:
        add(commands, *shared)
    return parser


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    args, extra = build_parser().parse_known_args(argv)
    if extra:
        # The subcommand's own help lists the options it takes.
        args.parser.error(f"unrecognized arguments: {' '.join(extra)}")
    return args
