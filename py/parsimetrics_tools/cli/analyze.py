"""``parsimetrics analyze``: one result per sequence, as a table or JSON lines, and an optional plot."""

from __future__ import annotations

import functools
import sys
from collections.abc import Iterator
from contextlib import closing

from .. import measures
from ..inputs import Record
from ..measures import AnalysisError, AnalysisOptions
from .batch import (EXIT_ERROR, Batch, CliError, Stop, failure_message, measured_in_order, read_inputs, say,
                    unique_labels, workers)
from .processes import ordered_map
from .plot import check_plot_path, save_plot, write_plot
from .progress import Progress, isatty
from .writers import JsonLines, Table, clip_name, columns, json_line, output_mode, terminal_width

TABLE_HINT = "(what each column means: parsimetrics explain)"


def run_analyze(args) -> int:
    if args.max_block_size is not None and args.measure not in ("emc", "lz76"):
        raise CliError("--max-block-size applies to --measure emc and lz76 only")
    if args.alphabet is not None and args.measure == "kaspar_schuster":
        raise CliError("--alphabet does not apply to --measure kaspar_schuster (--log-base sets its base)")
    patterns = measures.permutation_patterns(args.measure)
    if patterns is not None:
        # The measure reads the numbers as its ordinal patterns; another symbolizer would count something else.
        if args.symbolize not in (None, patterns):
            raise CliError(f"--measure {args.measure} reads ordinal patterns ({patterns}); leave out --symbolize")
        if args.alphabet is not None or args.log_base is not None:
            raise CliError(f"--measure {args.measure} is normalized by D! patterns: leave out --alphabet and --log-base")
        args.symbolize = patterns
    check_plot_path(args.plot)
    batch = Batch(args.fail_fast, args.debug)
    options = AnalysisOptions(args.alphabet, args.log_base, args.max_block_size)
    try:
        records = read_inputs(args, batch)
        work = []
        for label, record in zip(unique_labels(records), records):
            try:
                measures.check_record(record, args.measure, options)
            except AnalysisError as exc:
                batch.fail(str(exc), exc)
                continue
            work.append((label, record))
        plotted = _analyze(args, options, work, batch)
    except Stop:
        return EXIT_ERROR

    if args.plot is not None and plotted:
        save_plot(args.plot, write_plot, plotted, args.log_base)
    return batch.status


def _analyze(args, options: AnalysisOptions, work: list[tuple[str, Record]], batch: Batch) -> list:
    if not work:
        return []
    table = None
    if output_mode(args) == "table":
        table = Table([label for label, _ in work], columns(args.measure, args.log_base), width=terminal_width())
    plotted = []
    description = args.measure if len(work) > 1 else f"{args.measure} {clip_name(work[0][0], 30)}"
    progress = Progress(len(work), description, "inputs")
    try:
        if table:
            progress.write(table.header())
        if args.plot is None:
            _write_results(args, options, work, batch, progress, table)
        else:
            job = functools.partial(measures.analysis_job, measure=args.measure, options=options, plot=True)
            for label, _, (result, plot_data) in measured_in_order(args, job, work, batch, progress):
                progress.write(table.row(label, result) if table else json_line(result))
                plotted.append((label, *plot_data))
    finally:
        progress.close()
    if table and isatty(sys.stderr) and isatty(sys.stdout):
        say(TABLE_HINT, prefix="")  # for the person reading the table, not for a file
    return plotted


# Short records are measured this many symbols (and at most this many records)
# at a time, in one call of the extension each; a longer record is measured alone.
_CHUNK_SYMBOLS = 1 << 16
_CHUNK_RECORDS = 2048

def _chunks(work: list[tuple[str, Record]]) -> Iterator[list[tuple[str, Record]]]:
    chunk: list[tuple[str, Record]] = []
    size = 0
    for item in work:
        length = len(item[1].symbols)
        if chunk and (size + length > _CHUNK_SYMBOLS or len(chunk) >= _CHUNK_RECORDS):
            yield chunk
            chunk, size = [], 0
        chunk.append(item)
        size += length
    if chunk:
        yield chunk


class _ChunkProgress:
    """The progress of records, for ``ordered_map``, which reports the chunks they are measured in."""

    def __init__(self, progress: Progress, sizes: Iterator[int]):
        self._progress = progress
        self._sizes = sizes

    def update(self) -> None:
        self._progress.update(next(self._sizes))

    def tick(self) -> None:
        self._progress.tick()


def _write_results(args, options: AnalysisOptions, work: list[tuple[str, Record]], batch: Batch,
                   progress: Progress, table: Table | None) -> None:
    """Measure ``work`` a chunk at a time and write a row or JSON line per record, in order; failures as
    ``measured_in_order`` reports them, each after the lines of the records before it."""
    chunks = list(_chunks(work))
    # h's results are written from columns of values; the other measures' from their results.
    as_lines = table is None and args.measure == "h"
    job = functools.partial(_h_lines if as_lines else measures.analysis_chunk, measure=args.measure, options=options)
    count = workers(args, max(len(r.symbols) for _, r in work))
    encoder = JsonLines(measures.SHARED_KEYS)
    lines: list[str] = []
    with closing(ordered_map(job, chunks, count, _ChunkProgress(progress, map(len, chunks)))) as outcomes:
        for chunk, (ok, value) in zip(chunks, outcomes, strict=True):
            for (label, record), (done, result) in zip(chunk, value if ok else [(False, value)] * len(chunk),
                                                       strict=True):
                if done and as_lines:
                    lines.append(result)
                elif done:
                    lines.append(table.row(label, result) if table else encoder.line(result, measures.shared_fields(record)))
                else:
                    _write(progress, lines)
                    batch.fail(failure_message(label, result), result)
            _write(progress, lines)


def _write(progress: Progress, lines: list[str]) -> None:
    if lines:
        progress.write_lines(lines)
        lines.clear()


def _h_lines(chunk: list[tuple[str, Record]], measure: str, options: AnalysisOptions) -> list[tuple[bool, object]]:
    """``analysis_chunk`` of measure h with each result as its JSON line, made without building the results:
    one for each run of records read the same way, and the rest from columns of their own fields."""
    encoder = JsonLines(measures.SHARED_KEYS)
    values = measures.values_together(chunk, measure, options)
    if values is None:
        outcomes = measures.analysis_chunk(chunk, measure, options)
        return [(ok, encoder.line(result, measures.shared_fields(record)) if ok else result)
                for (_, record), (ok, result) in zip(chunk, outcomes, strict=True)]
    groups = [measures.shared_fields(record) for _, record in chunk]
    lines: list[tuple[bool, object]] = []
    start = 0
    for end in range(1, len(chunk) + 1):
        if end == len(chunk) or groups[end] != groups[start]:
            run = chunk[start:end]
            sample = measures.first_result(run, measure, options, values[start])
            columns = {**measures.own_columns(run), measure: values[start:end]}
            lines += [(True, line) for line in encoder.lines(sample, groups[start], columns)]
            start = end
    return lines
