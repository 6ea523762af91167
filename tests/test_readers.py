"""The readers: formats found and recorded, gaps, headers, compression, .npy, FASTA case, byte-order marks."""

import bz2
import gzip
import lzma
import io
from dataclasses import replace
from pathlib import Path

import numpy as np
import pytest

from parsimetrics_tools.inputs import InputError, ReadOptions, parse_bytes, read_records, read_source
from parsimetrics_tools.symbolizers import parse_symbolizer

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def read(name, content, tmp_path, **options):
    path = tmp_path / name
    path.write_bytes(content.encode() if isinstance(content, str) else content)
    return read_source(str(path), ReadOptions(**options))


def npy(array):
    buffer = io.BytesIO()
    np.save(buffer, np.asarray(array))
    return buffer.getvalue()


@pytest.mark.parametrize(
    "name, content, options, symbols, fields",
    [
        # A header row over a whitespace table or a comma table; names may look like numbers.
        ("a.txt", "t x\n0 0.5\n1 0.1\n2 0.9\n", {"column": "x"}, bytes([0, 0, 1]),
         {"format": "numbers", "column": "x"}),
        ("a.txt", "x\n0.5\n0.1\n0.9\n", {}, bytes([0, 0, 1]), {"format": "numbers", "column": "x"}),
        ("a.txt", "t,x\n0,0.5\n1,0.1\n", {"column": "2"}, bytes([1, 0]), {"format": "csv", "column": "x"}),
        ("iris.csv", "3,2,setosa\n5.1,3.5,0\n4.9,3.0,1\n", {"column": "1"}, bytes([1, 0]), {"column": "3"}),
        ("y.csv", "2019,2020\n1.5,2.5\n0.5,0.7\n", {"column": "2"}, bytes([1, 0]), {"column": "2020"}),
        ("y.csv", "2019,2020\n15,25\n5,7\n", {"column": "2020"}, bytes([1, 0]), {"column": "2020"}),
        ("n.csv", "0,5\n1,-3\n", {"column": "2"}, bytes([1, 0]), {"column": 2}),
        # Gaps dropped on request, and counted.
        ("a.txt", "NaN\n0.5\n0.1\nnull\n0.9\n", {"missing": "drop"}, bytes([0, 0, 1]), {"missing_dropped": 2}),
        ("a.txt", "1,2,,3,4\n", {"missing": "drop"}, bytes([0, 1, 2, 3]), {"missing_dropped": 1}),
        ("a.csv", "x\n1\n\n2\n,\n3\n\n", {"missing": "drop"}, bytes([0, 1, 2]), {"missing_dropped": 2}),
        # Byte-order marks are no symbols.
        ("a.txt", "\ufeff0110", {}, b"0110", {"format": "text"}),
        ("a.txt", "\ufeff1\n2\n1\n", {}, bytes([0, 1, 0]), {"format": "numbers"}),
        ("a.txt", "\ufeff>r\nacgT\n", {}, b"ACGT", {"format": "fasta", "name": "r", "case_folded": True}),
        ("a.fa", ">r\nacgT\n", {"keep_case": True}, b"acgT", {"case_folded": False}),
        # The file's bytes as they are, line breaks and compression included.
        ("a.bin", gzip.compress(b"\x00\x01\n"), {"format": "bytes"}, gzip.compress(b"\x00\x01\n"), {"format": "bytes"}),
        ("a.npy", npy([0.5, 0.1, 0.9]), {}, bytes([0, 0, 1]),
         {"format": "npy", "symbolizer": "median", "cut_points": (0.5,)}),
        ("a", npy([[1, 7], [2, 5], [3, 9]]), {"column": "2"}, bytes([1, 0, 2]), {"format": "npy", "column": 2}),
        ("a.npy", npy([0.5, np.nan, 0.9]), {"missing": "drop"}, bytes([0, 1]), {"missing_dropped": 1}),
        ("a.npy", npy([True, False]), {}, bytes([1, 0]), {"symbolizer": "values"}),
    ],
)
def test_reads_and_records_how(tmp_path, name, content, options, symbols, fields):
    (record,) = read(name, content, tmp_path, **options)
    assert record.symbols == symbols
    assert {k: getattr(record, k) for k in fields} == fields


@pytest.mark.parametrize(
    "name, content, options, message",
    [
        # Each of these was once analysed as something else, with exit status 0.
        ("a.txt", "NaN\n0.5\n0.1\n", {}, "a.txt:1: a missing value; --missing drop leaves them out"),
        ("a.txt", "0.5\nNA\n0.1\nnan\n", {}, "a.txt:2: 2 missing values, the first on this line"),
        ("a.txt", "1.5 2.5 inf 3\n", {}, "a.txt:1: infinite value 'inf'"),
        ("a.txt", "1.5 nan 3\n", {}, "a.txt:1: a missing value"),
        ("a.txt", "1,2,,3,4,5,6\n", {}, "a.txt:1: a missing value"),
        ("a.csv", "x\n1\n\n2\n", {}, "a.csv:3: a missing value"),
        ("a.csv", "a,b\n1,2\n,\n3,4\n", {"column": "a"}, "a.csv:3: a missing value"),
        ("a", b"\x7fELF\x02\x01\x01\x00\x00\x00", {}, "binary content in no format known here; --format bytes"),
        ("a.txt", " \n\t\n", {}, "a.txt: empty input"),
        ("a.fa.gz", gzip.compress(b""), {}, "a.fa.gz: empty input"),
        ("a.gz", b"\x1f\x8b\x08\x00broken", {}, "a.gz: damaged gzip data"),
        ("a.txt", "1e999 1\n", {}, "a.txt:1: number out of range '1e999'"),
        ("a.txt", "5\n" + "1" * 5000 + "\n", {}, "a.txt:2: number out of range '111"),
        ("a.txt", "1 2 1_0\n", {"format": "numbers"}, "a.txt:1: bad number '1_0'"),
        ("a.txt", "1 2\n3 4\n", {"column": "3"}, "no column '3' (2 columns, numbered from 1)"),
        ("a.txt", "t x\n1 2\n", {"column": "y"}, "no column named 'y' (columns: t, x)"),
        ("a.csv.gz", gzip.compress(b"t,x\n1,2\n"), {"column": "3"}, "a.csv.gz: no column '3' (columns: t, x)"),
        ("a.npy", npy([[1.0, 2.0]]), {}, "a.npy: 2 columns; choose one with --column NUMBER"),
        ("a.npy", npy([1.0, np.inf]), {}, "a.npy: infinite value at index 1"),
        ("a.npy", npy(["a"]), {}, "not of numbers"),
        ("a.npy", b"\x93NUMPY junk", {}, "not a readable .npy file"),
        ("a.fa", ">a\nAC\n", {"column": "1"}, "--column applies to numbers"),
    ],
)
def test_refused_with_one_line(tmp_path, name, content, options, message):
    with pytest.raises(InputError, match=message.replace("(", r"\(").replace(")", r"\)")) as info:
        read(name, content, tmp_path, **options)
    assert "\n" not in str(info.value)


@pytest.mark.parametrize("compress, name", [(gzip.compress, "gzip"), (bz2.compress, "bzip2"), (lzma.compress, "xz")])
@pytest.mark.parametrize(
    "file, options",
    [("sequences.fasta", {}), ("logistic.csv", {"column": "x"}), ("periodic.txt", {}), ("logistic.csv", {})],
)
def test_compressed_inputs_read_as_the_plain_ones(compress, name, file, options):
    plain_options = ReadOptions(**options)
    if file == "logistic.csv" and not options:
        # By content alone, under a name that says nothing: a table of two columns.
        data, options = (EXAMPLES / file).read_bytes(), {"column": "x", "format": "auto"}
        plain_options = ReadOptions(**options)
        plain = parse_bytes(data, "in", plain_options)
        packed = parse_bytes(compress(data), "in", plain_options)
    else:
        plain = read_source(str(EXAMPLES / file), plain_options)
        packed = parse_bytes(compress((EXAMPLES / file).read_bytes()), str(EXAMPLES / file), plain_options,
                             str(EXAMPLES / file) + ".z")
    assert packed == [replace(r, compression=name) for r in plain] and len(plain) >= 1


def test_threshold_on_the_logistic_orbit_gives_its_symbol_file():
    (record,) = read_source(str(EXAMPLES / "logistic.csv"),
                            ReadOptions(column="x", symbolize=parse_symbolizer("threshold:0.5")))
    text = (EXAMPLES / "logistic.txt").read_bytes().replace(b"\n", b"")
    assert record.symbols == bytes(c - ord("0") for c in text)
    assert record.provenance() == {
        "name": str(EXAMPLES / "logistic.csv"), "file": str(EXAMPLES / "logistic.csv"), "format": "csv",
        "compression": None, "column": "x", "symbolizer": "threshold:0.5", "cut_points": [0.5],
        "missing_dropped": 0, "case_folded": False,
    }


def test_plain_numbers_and_their_careful_path_agree():
    values = np.random.default_rng(3).normal(size=5000)
    text = "\n".join(repr(float(v)) for v in values).encode()
    fast = parse_bytes(text, "x")
    careful = parse_bytes(text + b"\nNaN", "x", ReadOptions(missing="drop"))
    assert [r.symbols for r in fast] == [r.symbols for r in careful]
    assert fast[0].cut_points == (float(np.median(values)),)


def test_verbose_reports_how_each_input_was_read(tmp_path, capsys):
    from parsimetrics_tools.cli import main

    path = tmp_path / "a.csv.gz"
    path.write_bytes(gzip.compress(b"t,x\n0,NA\n1,0.5\n2,0.25\n"))
    assert main(["analyze", "--json", "-v", "--missing", "drop", "--column", "x", "-m", "h", str(path)]) == 0
    err = capsys.readouterr().err
    assert err == (f"parsimetrics: {path}: csv (gzip), column 'x', symbolized by median, "
                   "missing values dropped: 1; 2 symbols\n")


def test_one_path_or_many():
    paths = [str(EXAMPLES / "fibonacci.txt"), str(EXAMPLES / "sequences.fasta")]
    assert read_records(paths) == read_source(paths[0]) + read_source(paths[1])
    pytest.importorskip("dask.bag")
    from parsimetrics_tools import dask_bag

    assert dask_bag(paths[0]).compute(scheduler="sync") == dask_bag(paths[:1]).compute(scheduler="sync")
