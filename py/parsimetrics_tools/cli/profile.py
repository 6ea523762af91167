"""``parsimetrics profile``: a measure over sliding windows, one row per window, and an optional plot."""

from __future__ import annotations

import csv
import sys

import parsimetrics

from .. import measures
from ..measures import AnalysisError
from ..toolkit import profile
from .batch import Batch, failure_message, read_inputs, unique_labels
from .plot import check_plot_path, save_plot, write_profile_plot
from .writers import Column, Table, fixed, json_line, output_mode, terminal_width

_COLUMNS = [
    Column("start", 10, lambda r: r["start"], 3),
    Column("end", 10, lambda r: r["end"], 3),
    Column("value", 10, lambda r: fixed(r["value"]) if isinstance(r["value"], float) else r["value"], 3),
    Column("log_base", 8, lambda r: r["log_base"], 1),
]


def run_profile(args) -> int:
    check_plot_path(args.plot)
    batch = Batch(False, args.debug)
    records = read_inputs(args, batch)
    mode = output_mode(args)
    labels = unique_labels(records)
    table = Table(labels, _COLUMNS, width=terminal_width()) if mode == "table" else None
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
        log_base = measures.effective_base(args.log_base, len(set(record.symbols)))
        try:
            measures.check_length(label, n)
            starts, values = profile(record.symbols, args.window, args.step, args.measure, log_base=log_base)
        except (AnalysisError, parsimetrics.PanicException, MemoryError) as exc:
            batch.fail(failure_message(label, exc), exc)
            continue
        # Each JSON row says how its input was read and what was computed, as analyze's records do.
        options = {"window": args.window, "step": args.step or args.window, "log_base": log_base}
        described = {**measures.describe_input(record, label), **measures.measured(args.measure, options)}
        for start, value in zip(starts.tolist(), values.tolist()):
            end = start + args.window
            if table:
                print(table.row(label, {"start": start, "end": end, "value": value, "log_base": log_base}))
            elif writer:
                writer.writerow([label, start, end, repr(value), log_base])
            else:
                print(json_line({**described, "start": start, "end": end, args.measure: value, "log_base": log_base}))
        plotted.append((label, (starts + args.window / 2).tolist(), values.tolist()))
    sys.stdout.flush()
    if args.plot is not None and plotted:
        save_plot(args.plot, write_profile_plot, plotted, args.measure)
    return batch.status
