"""``parsimetrics profile``: a measure over sliding windows, one row per window, and an optional plot."""

from __future__ import annotations

import csv
import functools
import io

from .. import measures
from ..inputs import Record
from .batch import EXIT_ERROR, Batch, Stop, measured_in_order, read_inputs, unique_labels
from .plot import check_plot_path, save_plot, write_profile_plot
from .progress import Progress
from .writers import Column, Table, clip_name, fixed, json_line, output_mode, terminal_width

_COLUMNS = [
    Column("start", 10, lambda r: r["start"], 3),
    Column("end", 10, lambda r: r["end"], 3),
    Column("value", 10, lambda r: fixed(r["value"]) if isinstance(r["value"], float) else r["value"], 3),
    Column("log_base", 8, lambda r: r["log_base"], 1),
]


def run_profile(args) -> int:
    check_plot_path(args.plot)
    batch = Batch(args.fail_fast, args.debug)
    try:
        records = read_inputs(args, batch)
        work = []
        for label, record in zip(unique_labels(records), records):
            if args.window > len(record.symbols):
                batch.fail(f"{label}: window {args.window} exceeds the sequence length {len(record.symbols)}")
            else:
                work.append((label, record))
        plotted = _profile(args, work, batch)
    except Stop:
        return EXIT_ERROR
    if args.plot is not None and plotted:
        save_plot(args.plot, write_profile_plot, plotted, args.measure, args.rate)
    return batch.status


def _profile(args, work: list[tuple[str, Record]], batch: Batch) -> list:
    mode = output_mode(args)
    table = Table([label for label, _ in work], _COLUMNS, width=terminal_width()) if mode == "table" else None
    header = table.header() if table else None
    if mode == "csv":
        header = _csv_line(["name", "start", "end", args.measure, "log_base"])
    if not work:
        if header:
            print(header)
        return []
    job = functools.partial(measures.profile_job, window=args.window, step=args.step, measure=args.measure,
                            log_base=args.log_base)
    description = args.measure if len(work) > 1 else f"{args.measure} {clip_name(work[0][0], 30)}"
    progress = Progress(len(work), description, "inputs")
    plotted = []
    try:
        if header:
            progress.write(header)
        for label, record, (log_base, starts, values) in measured_in_order(args, job, work, batch, progress):
            starts, values = starts.tolist(), values.tolist()
            progress.write_lines(_rows(args, mode, table, label, record, log_base, starts, values))
            plotted.append((label, [start + args.window / 2 for start in starts], values))
    finally:
        progress.close()
    return plotted


def _rows(args, mode: str, table: Table | None, label: str, record: Record, log_base: int, starts, values):
    """One record's rows, one line each."""
    rows = ((start, start + args.window, value) for start, value in zip(starts, values))
    if table:
        return (table.row(label, {"start": s, "end": e, "value": v, "log_base": log_base}) for s, e, v in rows)
    if mode == "csv":
        return (_csv_line([label, s, e, repr(v), log_base]) for s, e, v in rows)
    # Each JSON row says how its input was read and what was computed, as analyze's records do.
    options = {"window": args.window, "step": args.step or args.window, "log_base": log_base}
    described = {**measures.describe_input(record, label), **measures.measured(args.measure, options)}
    return (json_line({**described, "start": s, "end": e, args.measure: v, "log_base": log_base}) for s, e, v in rows)


def _csv_line(cells: list) -> str:
    out = io.StringIO()
    csv.writer(out, lineterminator="").writerow(cells)
    return out.getvalue()
