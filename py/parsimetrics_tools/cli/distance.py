"""``parsimetrics distance`` (a labelled matrix of every pair) and ``parsimetrics nid`` (one pair)."""

from __future__ import annotations

import sys
import threading

from .. import measures
from ..inputs import Record
from ..toolkit import nid_matrix
from .batch import EXIT_ERROR, Batch, CliError, Stop, failure_message, read_inputs, unique_labels
from .progress import Progress
from .writers import Column, Table, fixed, json_line, matrix_table, output_mode, terminal_width, write_matrix


def run_distance(args) -> int:
    batch = Batch(args.fail_fast, args.debug)
    try:
        records = read_inputs(args, batch)
        if len(records) < 2:
            raise CliError(f"distance needs at least two sequences, but the input holds {len(records)}")
        longest = sorted((len(r.symbols) for r in records), reverse=True)[:2]
        measures.check_length("the two longest sequences together", sum(longest))
        names = unique_labels(records)
        matrix = _distances(records, batch)
    except Stop:
        return EXIT_ERROR

    style = output_mode(args)
    if style == "json":
        sys.stdout.write(json_line({"names": names, "nid": matrix, **_described(records, names)}) + "\n")
    elif style == "table":
        sys.stdout.write("".join(line + "\n" for line in matrix_table(names, matrix, terminal_width())))
    else:
        write_matrix(sys.stdout, names, matrix, "\t" if style == "tsv" else ",")
    sys.stdout.flush()
    return batch.status


def _distances(records: list[Record], batch: Batch) -> list[list[float | None]]:
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
        batch.fail(failure_message("distance", outcome[0]), outcome[0])
        return [[None] * n for _ in range(n)]
    return outcome[0]


def _described(records: list[Record], names: list[str]) -> dict:
    # How each input was read (in the order of the names), as analyze's records say it of theirs.
    return {"inputs": [measures.describe_input(r, name) for r, name in zip(records, names, strict=True)],
            **measures.measured("nid", {})}


def run_nid(args) -> int:
    if len(args.files) > 2:
        raise CliError(f"nid compares two sequences, but {len(args.files)} files were given (see 'distance')")
    batch = Batch(True, args.debug)
    try:
        records = read_inputs(args, batch)
    except Stop:
        return EXIT_ERROR
    if len(records) != 2:
        raise CliError(f"nid compares two sequences, but the input holds {len(records)}")
    first, second = records
    first_name, second_name = unique_labels(records)
    value = measures.distance(first, second)
    if output_mode(args) == "table":
        cols = [Column("second", len(second_name), lambda _: second_name), Column("nid", 8, lambda _: fixed(value))]
        table = Table([first_name], cols, first="first")
        print(table.header())
        print(table.row(first_name, {}))
    else:
        print(json_line({"first": first_name, "second": second_name, "nid": value,
                         **_described(records, [first_name, second_name])}))
    return 0
