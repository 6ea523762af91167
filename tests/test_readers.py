"""The readers: formats found and recorded, gaps, headers, tables, rows, numbers or digits, text and
characters, FASTA and FASTQ, compression, .npy, byte-order marks, and bounds on what hostile inputs cost."""

import bz2
import gzip
import io
import json
import lzma
import os
import re
import subprocess
import sys
from dataclasses import replace
from pathlib import Path

import numpy as np
import pytest

from parsimetrics_tools.inputs import (
    _READS_PER_PART,
    InputError,
    ReadOptions,
    ambiguity_warning,
    is_wrapped_digits,
    parse_bytes,
    read_parts,
    read_records,
    read_source,
)
from parsimetrics_tools.records import flattened
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
        # A plain column: blank lines around it are layout; an integer over fractions still names it.
        ("a.txt", "\n \n1.5\n0.5\n2.5\n\n", {}, b"\0\0\1", {"format": "numbers", "column": 1}),
        ("a.txt", "2019\n1.5\n2.5\n0.5\n", {}, b"\0\1\0", {"format": "numbers", "column": "2019"}),
        # Gaps dropped on request, and counted.
        ("a.txt", "NaN\n0.5\n0.1\nnull\n0.9\n", {"missing": "drop"}, bytes([0, 0, 1]), {"missing_dropped": 2}),
        ("a.txt", "1,2,,3,4\n", {"missing": "drop"}, bytes([0, 1, 2, 3]), {"missing_dropped": 1}),
        ("a.csv", "x\n1\n\n2\n,\n3\n\n", {"missing": "drop"}, bytes([0, 1, 2]), {"missing_dropped": 2}),
        # Byte-order marks are no symbols.
        ("a.txt", "\ufeff0110", {}, b"0110", {"format": "text"}),
        ("a.txt", "\ufeff1\n2\n1\n", {}, bytes([0, 1, 0]), {"format": "numbers"}),
        ("a.txt", "\ufeff>r\nacgT\n", {}, b"ACGT", {"format": "fasta", "name": "r", "case_folded": True}),
        ("a.fa", ">r\nacgT\n", {"keep_case": True}, b"acgT", {"case_folded": False}),
        ("a.txt", "@r 1\nacgt\n+\nIIII\n", {}, b"ACGT", {"format": "fastq", "name": "r"}),
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
        "missing_dropped": 0, "case_folded": False, "column_number": 2, "row": None, "unit": "byte",
        "symbol_map": None, "raw": False, "ambiguous": 0, "ambiguous_dropped": 0,
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
    assert err == (f"parsimetrics: {path}: csv (gzip), column 'x' (number 2), symbolized by median, "
                   "missing values dropped: 1; 2 symbols\n")


# --------------------------------------------------------------------------
# Tables, gaps and rows


@pytest.mark.parametrize("sep", [" ", ",", "\t", ";"])
@pytest.mark.parametrize("header, column, label", [(True, "b", "b"), (True, "2", "b"), (False, "2", 2)])
def test_any_column_of_any_table(tmp_path, sep, header, column, label):
    text = ("a b c\n" if header else "") + "1 7 3\n2 5 3\n3 9 3\n"
    (record,) = read("t.txt", text.replace(" ", sep), tmp_path, column=column)
    assert (record.symbols, record.column, record.column_number) == (b"\1\0\2", label, 2)


@pytest.mark.parametrize(
    "content, options, message",
    [
        # A headerless table of several columns is not one interleaved series.
        ("1 2 3\n4 5 6\n7 8 9\n", {}, "t.txt: 3 columns; choose one with --column NAME or --column NUMBER"),
        ("1\t2\n4\t5\n", {}, "t.txt: 2 columns; choose one"),
        # The gap rule is the same in every shape: a blank line inside is a missing value.
        ("1\n2\n\n3\n4\n", {}, "t.txt:3: a missing value"),
        ("x\n1\n2\n\n3\n", {}, "t.txt:4: a missing value"),
        ("1 5\n2 6\n\n3 7\n", {"column": "1"}, "t.txt:3: a missing value"),
        ("1 5\n2 6\n\n3 7\n", {"rows": True}, "t.txt:3: a blank row"),
        ("1\n" * 60 + "3 4\n5\n", {}, "t.txt:61: more than one value in a one-column table"),
        # A repeated name cannot say which column it means.
        ("a,a,b\n1,2,3\n", {"column": "a"}, "column name 'a' is ambiguous (columns 1, 2)"),
        ("a b\n1 2\n", {"rows": True, "column": "a"}, "--rows reads every row whole"),
    ],
)
def test_tables_refused(tmp_path, content, options, message):
    with pytest.raises(InputError, match=message.replace("(", r"\(").replace(")", r"\)")):
        read("t.txt", content, tmp_path, **options)


@pytest.mark.parametrize(
    "name, content, missing, names, symbols",
    [
        ("t.txt", "a b c\n1 2 3\n\n4 5 9\n", "drop", ["row 0", "row 2"], [b"\0\1\2", b"\0\1\2"]),
        ("t.csv", "1,2,3\n3,,1\n", "drop", ["row 0", "row 1"], [b"\0\1\2", b"\1\0"]),
        ("t.npy", npy([[0.5, 0.1, 0.9], [2, np.nan, 1]]), "drop", ["row 0", "row 1"], [b"\0\0\1", b"\1\0"]),
        ("t.npy", npy([1, 2, 1]), "error", ["row 0"], [b"\0\1\0"]),
    ],
)
def test_rows_are_records_labelled_by_index(tmp_path, name, content, missing, names, symbols):
    records = read(name, content, tmp_path, rows=True, missing=missing)
    assert [(r.name, r.row, r.symbols) for r in records] == [(n, int(n[4:]), s) for n, s in zip(names, symbols)]


@pytest.mark.parametrize(
    "content, header",
    [
        # An integer over fractions names its column, whatever the other columns hold.
        ("0.5,2019\n0.1,1.5\n0.9,2.5\n", True),
        ("0.5,2019\n1,1.5\n0.9,2.5\n", True),
        ("2019,3\n1.5,2\n2.5,1\n", True),
        # Integers below it, or a fraction on top, make it a row of data.
        ("2019,3\n1.5,2\n2,1\n", False),
        ("2019.5,3\n1.5,2\n2.5,1\n", False),
    ],
)
def test_header_rule_for_a_numeric_first_row(tmp_path, content, header):
    (record,) = read("t.csv", content, tmp_path, column="1")
    assert (record.column == "0.5" or record.column == "2019") is header
    assert len(record.symbols) == 3 - header


# --------------------------------------------------------------------------
# Numbers or digits


@pytest.mark.parametrize("width", range(8, 13))
@pytest.mark.parametrize("digits", [9, 10])
def test_integers_per_line_are_numbers_at_any_width(tmp_path, width, digits):
    values = [10 ** (digits - 1) + 7919 * i * width % 10 ** (digits - 1) for i in range(40)]
    (record,) = read("t.txt", "".join(f"{v}\n" for v in values), tmp_path)
    assert record.format == "numbers" and len(record.symbols) == 40 and len(set(record.symbols)) == len(set(values))


@pytest.mark.parametrize("width", range(1, 121))
def test_wrapped_binary_text_is_text_at_every_width(tmp_path, width):
    text = "".join(np.random.default_rng(width).choice(["0", "1"], 300))
    text = "1" * width + text  # a first line with no leading zero
    (record,) = read("t.txt", "\n".join(text[i : i + width] for i in range(0, len(text), width)), tmp_path)
    assert record.symbols == text.encode() and record.format in ("text", "numbers")
    assert record.format == "text" or width == 1


@pytest.mark.parametrize(
    "lines, wrapped",
    [(["1700000000", "1700000060", "1700000120"], False), (["0123", "4567", "89"], True),
     (["1" * 19, "2" * 19, "3"], True), (["1" * 17, "2" * 19], False), (["10", "11", "101"], False),
     (["5"], True)],
)
def test_wrapped_digits_rule(lines, wrapped):
    assert is_wrapped_digits(lines) is wrapped


# --------------------------------------------------------------------------
# Text


@pytest.mark.parametrize(
    "content, options, symbols, fields",
    [
        # Prose: a line break between words is a space; wrapped symbols join.
        ("the cat\nsat on\n\nthe mat\n", {}, b"the cat sat on the mat", {}),
        ("ab ab \ncd\r\nef\n", {}, b"ab ab cd ef", {}),
        ("ACGT\nACGT\nAC\n", {}, b"ACGTACGTAC", {}),
        ("a b\nc\n", {"raw": True}, b"a b\nc\n", {"raw": True}),
        # Characters, coded in the order they first appear.
        ("für\nFuß\n", {"unit": "char"}, bytes(range(6)), {"symbol_map": "fürFuß"}),
        ("ab cd\nab\n", {"unit": "char"}, bytes([0, 1, 2, 3, 4, 2, 0, 1]), {"symbol_map": "ab cd", "unit": "char"}),
    ],
)
def test_text_reading(tmp_path, content, options, symbols, fields):
    (record,) = read("t.txt", content, tmp_path, **options)
    assert record.symbols == symbols and {k: getattr(record, k) for k in fields} == fields


def test_text_across_chunks_reads_as_in_one_piece(tmp_path):
    # Line breaks fall on every side of the reader's chunk edges.
    words = np.random.default_rng(5).choice(["word", "ç", "wörd"], 400_000)
    breaks = np.random.default_rng(6).choice([" ", "\n", " \n", "\n\n"], len(words))
    text = "".join(w + b for w, b in zip(words, breaks))
    (record,) = read("t.txt", text, tmp_path, unit="char")
    expected = re.sub(r"(?<=\S)\n+(?=\S)", " ", text).replace("\n", "")
    assert "".join(record.symbol_map[c] for c in record.symbols) == expected


@pytest.mark.parametrize(
    "content, message",
    [("".join(map(chr, range(0x100, 0x202))), "more than 256 distinct characters"),
     (b"ab\xffcd", "not UTF-8 text (byte 2)")],
)
def test_characters_refused(tmp_path, content, message):
    with pytest.raises(InputError, match=re.escape(message)):
        read("t.txt", content, tmp_path, unit="char")


# --------------------------------------------------------------------------
# FASTA and FASTQ


def test_fastq_reads_as_a_direct_parse(tmp_path):
    rng = np.random.default_rng(7)
    reads = ["".join(rng.choice(list("ACGTN" if i % 3 else "acgt"), 150)) for i in range(2000)]
    lines = "".join(f"@r{i} lane\n{s}\n+\n{'I' * len(s)}\n" for i, s in enumerate(reads))
    records = read("r.fastq.gz", gzip.compress(lines.encode()), tmp_path)
    assert [(r.name, r.symbols) for r in records] == [(f"r{i}", s.upper().encode()) for i, s in enumerate(reads)]
    assert [r.ambiguous for r in records] == [s.count("N") for s in reads]
    assert {(r.format, r.compression) for r in records} == {("fastq", "gzip")}


@pytest.mark.parametrize("ambiguous", ["keep", "drop"])
def test_fastq_parts_read_as_one_record_at_a_time(tmp_path, ambiguous):
    # A count that is no multiple of the reads gathered at a time, ambiguity codes either side of a cut.
    reads = ["ACGT" * (1 + i % 5) for i in range(2 * _READS_PER_PART + 3)]
    for i in (5, _READS_PER_PART - 1, _READS_PER_PART, 2 * _READS_PER_PART + 2):
        reads[i] = "ANGT"
    text = "".join(f"@r{i}\n{s}\n+\n{'I' * len(s)}\n" for i, s in enumerate(reads))
    path = tmp_path / "r.fq"
    path.write_text(text)
    parts = read_parts(str(path), ReadOptions(ambiguous=ambiguous))
    records = list(flattened(parts))
    dropped = ambiguous == "drop"
    assert [(r.name, r.symbols, r.ambiguous, r.ambiguous_dropped) for r in records] == [
        (f"r{i}", (s.replace("N", "") if dropped else s).encode(), s.count("N"), s.count("N") * dropped)
        for i, s in enumerate(reads)]
    assert ambiguity_warning(parts) == ambiguity_warning(records) and (ambiguity_warning(parts) is None) == dropped


_LONG_READ = "@r9\n" + "A" * 101 + "\n+\n" + "I" * 101 + "\n"


@pytest.mark.parametrize("fault, message", [
    # The first fault in the file is the one reported, whether a read or the reading finds it.
    ("@r9\nACGT\n+\nII\n", "record 'r3' is empty"),
    (_LONG_READ, "record 'r3' is empty"),
    (None, "r.fq: r9: sequence too long (101 symbols; --max-length 100)"),
])
def test_fastq_first_fault_is_reported(tmp_path, fault, message):
    text = "".join(f"@r{i}\n{'' if i == 3 and fault else 'ACGT'}\n+\n{'' if i == 3 and fault else 'IIII'}\n"
                   for i in range(9))
    text += fault or _LONG_READ
    with pytest.raises(InputError, match=re.escape(message)):
        read("r.fq", text, tmp_path, max_length=100)


def test_fastq_without_dnaio_names_the_extra(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "dnaio", None)  # as where no wheel of it installs
    with pytest.raises(InputError, match=r"parsimetrics\[fastq\]"):
        read("r.fastq", b"@r\nACGT\n+\nIIII\n", tmp_path)


@pytest.mark.parametrize("newline", ["\n", "\r\n"])
def test_fasta_across_chunks_reads_as_a_direct_parse(tmp_path, newline):
    # Records from a few symbols to several chunks long, wrapped at any width or not at all.
    rng = np.random.default_rng(len(newline))
    letters = np.frombuffer(b"ACGT", np.uint8)
    records = [(f"r{i}", letters[rng.integers(0, 4, int(rng.choice([5, 900, 1_500_000])))].tobytes().decode())
               for i in range(12)]
    text = ";an old comment\n"
    for i, (name, seq) in enumerate(records):
        width = [60, 7, 10**7][i % 3]
        text += f">{name} description\n" + "".join(seq[j : j + width] + "\n" for j in range(0, len(seq), width))
        text += "\n" * (i % 2)
    read_back = read("a.fa.gz", gzip.compress(text.replace("\n", newline).encode(), 1), tmp_path)
    assert [(r.name, r.symbols) for r in read_back] == [(name, seq.encode()) for name, seq in records]


def test_unnamed_fasta_records_are_numbered_by_position(tmp_path):
    records = read("a.fa", ">\nAC\n>b\nGT\n> \nTT\n", tmp_path)
    assert [r.name for r in records] == [f"{tmp_path / 'a.fa'}#1", "b", f"{tmp_path / 'a.fa'}#3"]


@pytest.mark.parametrize(
    "ambiguous, symbols, dropped",
    [("keep", [b"ACGNNT", b"MKLVW", b"ACGT"], [0, 0, 0]), ("drop", [b"ACGT", b"MKLVW", b"ACGT"], [2, 0, 0])],
)
def test_ambiguity_codes(tmp_path, ambiguous, symbols, dropped):
    records = read("a.fa", ">a\nACGNNT\n>p\nMKLVW\n>c\nACGT\n", tmp_path, ambiguous=ambiguous)
    assert [r.symbols for r in records] == symbols and [r.ambiguous_dropped for r in records] == dropped
    assert [r.ambiguous for r in records] == [2, 0, 0]  # a protein's letters are no ambiguity codes
    warning = ambiguity_warning(records)
    assert (warning is None) == (ambiguous == "drop")
    assert warning is None or "1 nucleotide record holds 2 symbols" in warning and "--log-base 4" in warning
    with pytest.raises(InputError, match="record 'a' holds 2 symbols outside ACGT"):
        read("a.fa", ">a\nACGNNT\n", tmp_path, ambiguous="error")


# --------------------------------------------------------------------------
# Bounded reading: hostile inputs in a child process with little memory

_CHILD = """
import contextlib, resource, sys
from parsimetrics_tools.inputs import InputError, ReadOptions, read_source
with contextlib.suppress(ImportError):
    import dnaio  # the FASTQ reader's code is no part of what reading costs

def peak():  # this process's own high-water mark (ru_maxrss carries the parent's across exec)
    return int(next(l for l in open("/proc/self/status") if l.startswith("VmHWM")).split()[1])

limit = int(sys.argv[2])
before = peak()
resource.setrlimit(resource.RLIMIT_AS, (int(sys.argv[4]) << 20, int(sys.argv[4]) << 20))
try:
    read_source(sys.argv[1], ReadOptions(max_length=limit, format=sys.argv[3]))
    print("read")
except InputError as exc:
    print(exc)
print(peak() - before)  # KiB
"""


def _bomb(tmp_path, name, head, fill, total, compressed=True):
    path = tmp_path / name
    with gzip.open(path, "wb", compresslevel=1) if compressed else open(path, "wb") as out:
        out.write(head)
        block = fill * -(-(1 << 20) // len(fill))  # about 1 MiB
        for _ in range(total // len(block)):
            out.write(block)
    return str(path)


@pytest.mark.parametrize(
    "name, head, fill, fmt, message",
    [
        ("t.gz", b"", b"0", "auto", "sequence too long (more than 20000000 symbols; --max-length 20000000)"),
        ("s.fa.gz", b">a\n", b"ACGT" * 15 + b"\n", "auto", "s.fa.gz: a: sequence too long (more than 20000000"),
        ("s.fq.gz", b"@a\n", b"ACGT", "auto", "sequence too long (more than 20000000"),
        ("n.gz", b"", b"7\n", "auto", "sequence too long (more than 20000000"),
        ("l.gz", b"", b"7,", "auto", "sequence too long (more than 20000000"),
        ("z.gz", b"", b"\x00", "auto", "binary content"),
        ("h.fa.gz", b">", b"a", "auto", "sequence too long (more than 20000000"),
        ("a.npy.gz", "npy header", b"\x00", "auto", "sequence too long (10000000000 symbols"),
        ("b.npy.gz", "npy header of 10 values", b"\x00", "auto", "read"),  # and endless bytes after them
        ("/dev/zero", None, None, "auto", "binary content"),
        ("/dev/urandom", None, None, "text", "sequence too long (more than 20000000"),
        ("/dev/zero", None, None, "bytes", "sequence too long (more than 20000000"),
        ("/dev/zero", None, None, "numbers", "/dev/zero: binary content where numbers were expected"),
        ("/dev/zero", None, None, "fastq", "/dev/zero: not valid FASTQ: a record starts with '@'"),
        ("v.gz", b"", b"9", "numbers", "v.gz:1: a value of more than 65536 characters"),
    ],
)
def test_hostile_inputs_refused_within_the_limit(tmp_path, name, head, fill, fmt, message):
    limit = 20_000_000
    if isinstance(head, str):  # an array of 10^10 values (or of 10), said to follow
        buffer = io.BytesIO()
        shape = (10 if head.endswith("10 values") else 10**10,)
        np.lib.format.write_array_header_1_0(buffer, {"descr": "<f8", "fortran_order": False, "shape": shape})
        head = buffer.getvalue()
    path = name if head is None else _bomb(tmp_path, name, head, fill, 200_000_000)
    env = {**os.environ, "OPENBLAS_NUM_THREADS": "1", "OMP_NUM_THREADS": "1"}
    out = subprocess.run([sys.executable, "-c", _CHILD, path, str(limit), fmt, "1024"], capture_output=True,
                         text=True, timeout=120, env=env)
    said, grown = out.stdout.splitlines()
    # Peak growth in KiB: 1.2 times what the limit lets a record hold, and the buffers of reading.
    assert message in said and int(grown) << 10 <= 1.2 * limit + (12 << 20), (said, grown)


@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "gzip"])
@pytest.mark.parametrize(
    "name, head, fill",
    [("s.fq", b"@a\n", b"ACGT"), ("q.fq", "one read past the limit", b""), ("s.fa", b">a\n", b"ACGT" * 15 + b"\n"),
     ("t.txt", b"", b"01"), ("c.txt", b"", b"7\n"), ("r.txt", b"", b"7,")],  # numbers: a column, a row
    ids=["fastq", "fastq-read", "fasta", "text", "column", "row"],
)
def test_a_record_past_the_limit_costs_at_most_a_fifth_more_than_it(tmp_path, name, head, fill, compressed):
    limit = 10_000_000
    total = 3 * limit
    if fill == b"":  # the read whole, its qualities as long as its sequence
        head, fill, total = b"@a\n" + b"A" * (limit + 1) + b"\n+\n" + b"I" * (limit + 1) + b"\n", b"\n", 0
    path = _bomb(tmp_path, name + ".gz" * compressed, head, fill, total, compressed)
    env = {**os.environ, "OPENBLAS_NUM_THREADS": "1", "OMP_NUM_THREADS": "1"}
    out = subprocess.run([sys.executable, "-c", _CHILD, path, str(limit), "auto", "1024"], capture_output=True,
                         text=True, timeout=300, env=env)
    said, grown = out.stdout.splitlines()
    assert f"sequence too long (more than {limit}" in said and int(grown) << 10 <= 1.2 * limit, (said, grown)


@pytest.mark.parametrize(
    "name, content, column",
    [("c.txt", "".join(f"{i % 9}\n" for i in range(3000)), None),
     ("t.csv.gz", "\ufeffa,b\n" + "".join(f"{i},{i % 7}\n" for i in range(2000)), "b"),
     ("r.txt", ",".join(str(i % 9) for i in range(3000)), None)],
    ids=["column", "table", "row"],
)
def test_numbers_past_half_the_limit_are_read_again_alike(tmp_path, name, content, column):
    data = gzip.compress(content.encode()) if name.endswith(".gz") else content.encode()
    assert read(name, data, tmp_path, column=column, max_length=3000) == read(name, data, tmp_path, column=column)


@pytest.mark.parametrize("newline", ["\n", "\r\n"])
@pytest.mark.parametrize("before", [0, 70_000, 99_999], ids=["first", "across-chunks", "near-limit"])
def test_a_fastq_read_of_the_limit_is_read_and_one_more_refused(tmp_path, newline, before):
    limit = 100_000  # past a chunk of reading, so that lines cross chunks
    lead = f"@p{newline}{'C' * before}{newline}+{newline}{'I' * before}{newline}" if before else ""
    for length in (limit, limit + 1):
        text = lead + f"@r x{newline}{'G' * length}{newline}+{newline}{'I' * length}{newline}"
        if length > limit:
            with pytest.raises(InputError, match="sequence too long"):
                read("r.fq", text, tmp_path, max_length=limit)
        else:
            assert len(read("r.fq", text, tmp_path, max_length=limit)[-1].symbols) == limit

def test_whole_files_are_read_under_an_address_space_limit(tmp_path):
    # Asking a reader for the default limit (2 GiB) at once allocates it before anything is read.
    path = tmp_path / "c.txt"
    path.write_text("1 2\n3 4\n")
    child = ("import resource, sys; resource.setrlimit(resource.RLIMIT_AS, (900 << 20, 900 << 20));"
             "from parsimetrics_tools.inputs import ReadOptions, read_decompressed, read_source;"
             "data = read_decompressed(sys.argv[1])[0], read_source(sys.argv[1], ReadOptions(format='bytes'))[0].symbols;"
             "print(data == (b'1 2\\n3 4\\n',) * 2)")
    out = subprocess.run([sys.executable, "-c", child, str(path)], capture_output=True, text=True, timeout=120)
    assert out.stdout == "True\n", out.stderr

def test_out_of_memory_is_one_inputs_error_and_the_batch_goes_on(tmp_path):
    bomb = _bomb(tmp_path, "b.gz", b"", b"01", 1_500_000_000)
    good = tmp_path / "ok.txt"
    good.write_text("0110")
    child = ("import resource, sys; resource.setrlimit(resource.RLIMIT_AS, (900 << 20, 900 << 20));"
             "from parsimetrics_tools.cli import main; sys.exit(main(sys.argv[1:]))")
    env = {**os.environ, "OPENBLAS_NUM_THREADS": "1", "OMP_NUM_THREADS": "1"}
    out = subprocess.run([sys.executable, "-c", child, "analyze", "--json", bomb, str(good)], capture_output=True,
                         text=True, timeout=300, env=env)
    assert out.returncode == 1 and out.stderr.count("\n") == 1 and "b.gz: out of memory while reading" in out.stderr
    assert [json.loads(line)["file"] for line in out.stdout.splitlines()] == [str(good)]


def test_one_path_or_many():
    paths = [str(EXAMPLES / "fibonacci.txt"), str(EXAMPLES / "sequences.fasta")]
    assert read_records(paths) == read_source(paths[0]) + read_source(paths[1])
    pytest.importorskip("dask.bag")
    from parsimetrics_tools import dask_bag

    assert dask_bag(paths[0]).compute(scheduler="sync") == dask_bag(paths[:1]).compute(scheduler="sync")


@pytest.mark.parametrize(
    "content, args, names, fields, said",
    [
        ("1 2 3\n3 1 2\n", ["--rows"], ["row 0", "row 1"], {"row": 1, "format": "numbers"}, ""),
        ("für uns\n", ["--unit", "char"], None, {"unit": "char", "symbol_map": "für uns"}, ""),
        (">a\nACGNNT\n>b\nACNT\n", [], ["a", "b"], {"ambiguous": 1, "ambiguous_dropped": 0},
         "warning: 2 nucleotide records hold 3 symbols outside ACGT"),
        (">a\nACGNNT\n>b\nACNT\n", ["--ambiguous", "drop"], ["a", "b"], {"ambiguous_dropped": 1}, ""),
        ("0123" * 100, ["--max-length", "399"], [], {}, "sequence too long (400 symbols; --max-length 399)"),
    ],
)
def test_command_line_reading_options(tmp_path, capsys, monkeypatch, content, args, names, fields, said):
    from parsimetrics_tools.cli import main

    path = tmp_path / "in.fa" if content.startswith(">") else tmp_path / "in.txt"
    path.write_text(content)
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(b"")))
    status = main(["analyze", "--json", "-m", "h", *args, str(path)])
    out, err = capsys.readouterr()
    rows = [json.loads(line) for line in out.splitlines()]
    assert status == (1 if names == [] else 0) and err.count("\n") == bool(said) and said in err
    assert [r["name"] for r in rows] == (names if names is not None else [str(path)])
    assert not rows or {k: rows[-1][k] for k in fields} == fields
