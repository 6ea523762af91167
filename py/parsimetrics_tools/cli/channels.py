"""``parsimetrics multichannel`` and ``parsimetrics pci``: one value per file of channels (columns) x samples (rows).

A table's columns, or those of a 2-D ``.npy`` array, are the channels (or
sources), its rows the samples; ``--columns`` picks some.  Each result says
how its file was read, which columns were used and what was computed.
"""

from __future__ import annotations

import io
from pathlib import Path

import numpy as np

from .. import numeric
from ..inputs import InputError, display_name, read_decompressed
from ..measures import AnalysisError, describe_matrix, measured
from ..multichannel import lzc_multichannel
from ..pci import pci
from .batch import Batch, CliError, failure_message
from .writers import Column, Table, fixed, json_line, output_mode, terminal_width

_NPY_MAGIC = b"\x93NUMPY"


def read_channels(path: str, columns: list[str] | None) -> tuple[np.ndarray, dict]:
    """The columns of a table or 2-D ``.npy`` file as channels x samples, and how they were read."""
    source = display_name(path)
    data, compression = read_decompressed(path)
    if data.startswith(_NPY_MAGIC):
        try:
            array = np.load(io.BytesIO(data), allow_pickle=False)
        except (ValueError, OSError, EOFError) as exc:
            raise InputError(f"{source}: not a readable .npy file ({exc})") from None
        if array.ndim != 2 or array.dtype.kind not in "biuf":
            raise InputError(f"{source}: expected a 2-D .npy array of numbers (samples x channels), "
                             f"got {array.ndim}-D {array.dtype}")
        width = array.shape[1]
        picked = [_column_number(source, c, width) for c in columns] if columns else list(range(width))
        matrix, labels, fmt = array[:, picked].T, [i + 1 for i in picked], "npy"
    else:
        text = data.decode("utf-8", "replace").lstrip()
        first = text.split("\n", 1)[0]
        delimiter = numeric.detect_delimiter(first, {".csv": ",", ".tsv": "\t"}.get(Path(path).suffix.lower()))
        width = len(first.split(delimiter) if delimiter else first.split())
        read = [numeric.read_table(data, source, c, delimiter, "error")[0]
                for c in columns or map(str, range(1, width + 1))]
        matrix, labels, fmt = np.array([r.values for r in read]), [r.column for r in read], "csv"
    if matrix.size == 0:
        raise InputError(f"{source}: no values")
    if matrix.dtype.kind == "f" and not np.isfinite(matrix).all():
        raise InputError(f"{source}: missing or infinite values; every channel needs every sample")
    return matrix, {"file": source, "format": fmt, "compression": compression, "columns": labels}


def _column_number(source: str, column: str, width: int) -> int:
    if not (column.isdigit() and 1 <= int(column) <= width):
        raise InputError(f"{source}: no column {column!r} ({width} columns, numbered from 1)")
    return int(column) - 1


def _run(args, measure: str, options: dict, compute, values: list[Column]) -> int:
    columns = args.columns.split(",") if args.columns else None
    if args.files == ["-"] or not args.files:
        raise CliError(f"{measure} reads files: give FILE arguments")
    batch = Batch(False, args.debug)
    table = Table(args.files, values, width=terminal_width()) if output_mode(args) == "table" else None
    if table:
        print(table.header())
    for path in args.files:
        try:
            matrix, how = read_channels(path, columns)
            try:
                values = compute(matrix)
            except ValueError as exc:  # the measure's own message names it
                raise AnalysisError(f"{how['file']}: {exc}") from None
            result = {**describe_matrix(path, how, matrix.shape), **measured(measure, options), **values}
        except (InputError, AnalysisError, OSError, MemoryError) as exc:
            batch.fail(failure_message(display_name(path), exc), exc)
            continue
        print(table.row(path, result) if table else json_line(result))
    return batch.status


def run_multichannel(args) -> int:
    def compute(matrix: np.ndarray) -> dict:
        lzc, lzs = lzc_multichannel(matrix, seed=args.seed).tolist()
        return {"lzc": lzc, "lzs": lzs}

    values = [Column("channels", 8, lambda r: r["channels"], 2), Column("samples", 9, lambda r: r["samples"], 2),
              Column("lzc", 7, lambda r: fixed(r["lzc"]), 3), Column("lzs", 7, lambda r: fixed(r["lzs"]), 3)]
    return _run(args, "lzc_multichannel", {"seed": args.seed}, compute, values)


def run_pci(args) -> int:
    def compute(matrix: np.ndarray) -> dict:
        if matrix.dtype.kind == "f":
            if not np.isin(matrix, (0.0, 1.0)).all():
                raise ValueError("pci: expected a binary matrix (0 and 1)")
            matrix = matrix.astype(np.uint8)
        return {"ones_fraction": float(np.mean(matrix)), "pci": pci(matrix, order=args.order)}

    values = [Column("sources", 8, lambda r: r["channels"], 2), Column("samples", 9, lambda r: r["samples"], 2),
              Column("ones", 7, lambda r: fixed(r["ones_fraction"]), 1), Column("pci", 7, lambda r: fixed(r["pci"]), 3)]
    return _run(args, "pci", {"order": args.order}, compute, values)
