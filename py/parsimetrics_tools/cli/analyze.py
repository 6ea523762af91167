"""``parsimetrics analyze``: one result per sequence, as a table or JSON lines, and an optional plot."""

from __future__ import annotations

import functools
import sys
from bisect import bisect_right
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from contextlib import closing
from itertools import accumulate

from .. import measures
from ..inputs import Record
from ..records import Reads
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
        records = read_inputs(args, batch, columns=True)
        plotted = _analyze(args, options, _checked(records, unique_labels(records), args.measure, options, batch),
                           batch)
    except Stop:
        return EXIT_ERROR

    if args.plot is not None and plotted:
        save_plot(args.plot, write_plot, plotted, args.log_base)
    return batch.status


class _Records(list):
    """Records measured one by one after their checks, in the shape of ``Reads``: ``symbols`` and ``part``."""

    @property
    def symbols(self) -> list[bytes]:
        return [record.symbols for record in self]

    def part(self, start: int, stop: int) -> _Records:
        return _Records(self[start:stop])


# What there is to measure, and what is measured in one job: records with their labels, either reads that
# all passed the checks or a run of records that each did.
Work = list[tuple[list[str], Reads | _Records]]
Chunk = tuple[list[str], Reads | _Records]


def _checked(records: list[Record | Reads], labels: list[str], measure: str, options: AnalysisOptions,
             batch: Batch) -> Work:
    """The records, labelled, that the measure can take; each that it cannot is one failure of the batch."""
    work: Work = []
    start = 0
    for item in records:
        group = item if isinstance(item, Reads) else [item]
        own = labels[start : start + len(group)]
        start += len(group)
        if isinstance(group, Reads) and measures.check_reads(group, measure, options):
            work.append((own, group))
            continue
        for label, record in zip(own, group):  # one by one, so that each read that fails is reported
            try:
                measures.check_record(record, measure, options)
            except AnalysisError as exc:
                batch.fail(str(exc), exc)
                continue
            if not work or isinstance(work[-1][1], Reads):
                work.append(([], _Records()))
            work[-1][0].append(label)
            work[-1][1].append(record)
    return work


def _pairs(work: Work) -> Iterator[tuple[str, Record]]:
    for labels, records in work:
        yield from zip(labels, records)


def _analyze(args, options: AnalysisOptions, work: Work, batch: Batch) -> list:
    if not work:
        return []
    labels = [label for own, _ in work for label in own]
    table = None
    if output_mode(args) == "table":
        table = Table(labels, columns(args.measure, args.log_base), width=terminal_width())
    plotted = []
    description = args.measure if len(labels) > 1 else f"{args.measure} {clip_name(labels[0], 30)}"
    progress = Progress(len(labels), description, "inputs")
    try:
        if table:
            progress.write(table.header())
        if args.plot is None:
            _write_results(args, options, work, batch, progress, table)
        else:
            job = functools.partial(measures.analysis_job, measure=args.measure, options=options, plot=True)
            for label, _, (result, plot_data) in measured_in_order(args, job, list(_pairs(work)), batch, progress):
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


def _chunks(work: Work) -> Iterator[Chunk]:
    """Each group of ``work`` in chunks: each as many records as fit, and at least one."""
    for labels, records in work:
        ends = list(accumulate(map(len, records.symbols)))  # the symbols up to the end of each record
        start = 0
        while start < len(ends):
            before = ends[start - 1] if start else 0
            end = max(start + 1, min(bisect_right(ends, before + _CHUNK_SYMBOLS), start + _CHUNK_RECORDS))
            yield labels[start:end], records.part(start, end)
            start = end


class _ChunkProgress:
    """The progress of records, for ``ordered_map``, which reports the chunks they are measured in."""

    def __init__(self, progress: Progress, sizes: Iterator[int]):
        self._progress = progress
        self._sizes = sizes

    def update(self) -> None:
        self._progress.update(next(self._sizes))

    def tick(self) -> None:
        self._progress.tick()


def _write_results(args, options: AnalysisOptions, work: Work, batch: Batch, progress: Progress,
                   table: Table | None) -> None:
    """Measure ``work`` a chunk at a time and write a row or JSON line per record, in order; failures as
    ``measured_in_order`` reports them, each after the lines of the records before it."""
    chunks = list(_chunks(work))
    sizes = [len(labels) for labels, _ in chunks]
    # h's results are written from columns of values; the other measures' from their results.
    as_lines = table is None and args.measure == "h"
    encoder = JsonLines(measures.SHARED_KEYS)
    job = (functools.partial(_h_lines, measure=args.measure, options=options, encoder=encoder) if as_lines
           else functools.partial(_analysis_chunk, measure=args.measure, options=options))
    count = workers(args, max(max(map(len, records.symbols)) for _, records in work))
    lines: list[str] = []
    chunk_progress = _ChunkProgress(progress, iter(sizes))
    if as_lines and count is None:
        outcomes = _lines_ahead(chunks, args.measure, options, encoder, chunk_progress)
    else:
        outcomes = ordered_map(job, chunks, count, chunk_progress)
    with closing(outcomes):
        for chunk, size, (ok, value) in zip(chunks, sizes, outcomes, strict=True):
            if ok and isinstance(value, _Lines):
                lines += value
                _write(progress, lines)
                continue
            labels, records = chunk
            outcomes_of_chunk = value if ok else [(False, value)] * size
            for index, (done, result) in enumerate(outcomes_of_chunk):
                if done and as_lines:
                    lines.append(result)
                elif done:
                    lines.append(table.row(labels[index], result) if table else
                                 encoder.line(result, measures.shared_fields(records[index])))
                else:
                    _write(progress, lines)
                    batch.fail(failure_message(labels[index], result), result)
            _write(progress, lines)


def _write(progress: Progress, lines: list[str]) -> None:
    if lines:
        progress.write_lines(lines)
        lines.clear()


def _analysis_chunk(chunk: Chunk, measure: str, options: AnalysisOptions) -> list[tuple[bool, object]]:
    return measures.analysis_chunk(list(zip(*chunk)), measure, options)


def _lines_ahead(chunks: list[Chunk], measure: str, options: AnalysisOptions, encoder: JsonLines,
                 progress: _ChunkProgress) -> Iterator[tuple[bool, object]]:
    """``ordered_map`` of ``_h_lines`` here, each chunk's values computed in a thread while the lines of
    the chunk before are made: the extension leaves the interpreter to this one meanwhile.

    Only chunks of a few symbols are measured there (one longer record is
    measured alone, here), so that Ctrl-C never waits long for the thread.
    """
    with ThreadPoolExecutor(1) as thread:
        values = functools.partial(measures.values_of, measure=measure, options=options)
        ahead = thread.submit(values, chunks[0][1].symbols)
        for index, chunk in enumerate(chunks):
            measured = ahead.result()
            if index + 1 < len(chunks):
                ahead = thread.submit(values, chunks[index + 1][1].symbols)
            try:
                outcome: tuple[bool, object] = (True, _lines(chunk, measure, options, measured, encoder))
            except Exception as exc:  # as ordered_map reports a chunk's failure
                outcome = (False, exc)
            yield outcome
            progress.update()


def _h_lines(chunk: Chunk, measure: str, options: AnalysisOptions,
             encoder: JsonLines | None = None) -> list[tuple[bool, object]] | _Lines:
    """``analysis_chunk`` of measure h with each result as its JSON line, made without building the results:
    one for each run of records read the same way, and the rest from columns of their own fields.  Reads
    none of which failed give their lines alone, as ``_Lines``.  ``encoder`` (one for the records of one
    measure and options) keeps the shared fields encoded from one chunk to the next."""
    return _lines(chunk, measure, options, measures.values_of(chunk[1].symbols, measure, options),
                  encoder or JsonLines(measures.SHARED_KEYS))


class _Lines(list):
    """The JSON lines of a chunk none of whose records failed, one a record: ``_h_lines`` gives them so
    rather than an outcome each."""


def _lines(chunk: Chunk, measure: str, options: AnalysisOptions, values: list | None,
           encoder: JsonLines) -> list[tuple[bool, object]] | _Lines:
    """``_h_lines`` of a chunk whose values ``values_of`` gave."""
    labels, records = chunk
    if isinstance(records, Reads) and values is not None:  # one run, already in columns
        first = records[0]
        sample = measures.first_result([(labels[0], first)], measure, options, values[0])
        columns = {**measures.reads_columns(labels, records), measure: values}
        return _Lines(encoder.lines(sample, measures.shared_fields(first), columns))
    chunk = list(zip(labels, records))
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
