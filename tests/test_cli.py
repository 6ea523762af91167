"""The parsimetrics command line: formats, output modes, errors and parallel runs."""

import dataclasses
import fcntl
import io
import json
import os
import pty
import random
import re
import resource
import signal
import struct
import subprocess
import sys
import termios
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import parsimetrics
import parsimetrics_tools
from parsimetrics_tools import measures, symbolizers
from parsimetrics_tools.inputs import ReadOptions, Record, Symbolizer, read_source
from parsimetrics_tools.cli import analyze
from parsimetrics_tools.cli.writers import JsonLines, Table, columns
from parsimetrics_tools.records import Reads
from parsimetrics_tools.symbolizers import parse_symbolizer

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def cli(*args, stdin=b"", env=None, **kwargs):
    """Run the command in a child process with pipes for its standard streams."""
    return subprocess.run(
        [sys.executable, "-m", "parsimetrics_tools", *map(str, args)],
        input=stdin, capture_output=True, timeout=120, env=env, **kwargs,
    )


def run_main(capsys, monkeypatch, *args, stdin=b""):
    """Run ``main`` in this process; returns (status, stdout, stderr)."""
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(stdin)))
    status = parsimetrics_tools.main([str(a) for a in args])
    out, err = capsys.readouterr()
    return status, out, err


def json_lines(text):
    return [json.loads(line) for line in text.splitlines()]


def write(tmp_path, name, content):
    path = tmp_path / name
    path.write_bytes(content.encode() if isinstance(content, str) else content)
    return path


# --------------------------------------------------------------------------
# Input formats


@pytest.mark.parametrize(
    "name, content, options, expected",
    [
        ("a.txt", "0101\n1100\r\n10", {}, [("a.txt", b"0101110010")]),
        ("a.txt", "ab\ncd\n", {"raw": True}, [("a.txt", b"ab\ncd\n")]),
        ("a.txt", "héllo wörld", {}, [("a.txt", "héllo wörld".encode())]),
        ("a.fa", ">one first\nACGT\nAC\n\n>two\nGG TT\n", {}, [("one", b"ACGTAC"), ("two", b"GGTT")]),
        ("a.txt", ";comment\n>x\nAB\n", {}, [("x", b"AB")]),
        # Numbers: the codes symbolize gives (integers: one per distinct value, in order), never their digits.
        ("a.txt", "3 17 5\n17 3\n", {}, [("a.txt", bytes([0, 2, 1, 2, 0]))]),
        ("a.txt", "1, 23\n", {}, [("a.txt", bytes([0, 1]))]),
        ("a.txt", "12, 3\n", {}, [("a.txt", bytes([1, 0]))]),
        ("a.txt", "1,2,1,2", {}, [("a.txt", bytes([0, 1, 0, 1]))]),
        ("a.txt", "12\n7\n133\n7\n", {}, [("a.txt", bytes([1, 0, 2, 0]))]),
        ("a.txt", "0.5\n-1e-3\n2.25\n7\n", {}, [("a.txt", bytes([0, 0, 1, 1]))]),
        ("a.csv", "t,x\n0,5\n1,-3\n2,8\n", {"column": "x"}, [("a.csv", bytes([1, 0, 2]))]),
        ("a.csv", "0\t5\n1\t-3\n2\t8\n3\t5\n", {"column": "2"}, [("a.csv", bytes([1, 0, 2, 1]))]),
        ("a.csv", "x\n4\n1\n", {}, [("a.csv", bytes([1, 0]))]),
        ("a.dat", "t;x\n0;0.5\n1;0.1\n", {"column": "x", "symbolize": Symbolizer("zero")}, [("a.dat", bytes([1, 1]))]),
        # Digit lines wrapped at one width are symbol text, not numbers.
        ("a.txt", "1234567890" * 2 + "\n" + "1234567890" * 2 + "\n12\n", {}, [("a.txt", b"1234567890" * 4 + b"12")]),
        ("a.txt", "100\n011\n", {}, [("a.txt", b"100011")]),
        ("a.txt", "1 2 1", {"format": "text"}, [("a.txt", b"1 2 1")]),
    ],
)
def test_formats(tmp_path, name, content, options, expected):
    records = read_source(str(write(tmp_path, name, content)), ReadOptions(**options))
    assert [(Path(r.name).name, r.symbols) for r in records] == expected


@pytest.mark.parametrize("args", [["--measure", "factorization"], ["--measure", "h", "--log-base", "2"]])
def test_results_are_the_modules(tmp_path, capsys, monkeypatch, args):
    path = write(tmp_path, "s.fasta", ">a\nACGTTGCA\n>b\nAAAAAAAC\n")
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--json", *args, path)
    assert status == 0
    rows = json_lines(out)
    assert [r["name"] for r in rows] == ["a", "b"]
    if args[1] == "h":
        # Exact equality: the JSON text must carry every bit of the double.
        assert [r["h"] for r in rows] == [parsimetrics.h(s, log_base=2) for s in (b"ACGTTGCA", b"AAAAAAAC")]
    else:
        assert [[r["complexity"], r["factors"]] for r in rows] == [
            list(parsimetrics.factorization(s)) for s in (b"ACGTTGCA", b"AAAAAAAC")
        ]


def read_again(fields):
    """The symbols an input's JSON fields say were measured, read again from its file with them alone."""
    column = next((str(fields[key]) for key in ("column_number", "column") if fields.get(key) is not None), None)
    options = ReadOptions(
        format=fields["format"],
        raw=fields["raw"],
        column=column,
        symbolize=fields["symbolizer"] and parse_symbolizer(fields["symbolizer"]),
        missing="drop" if fields["missing_dropped"] else "error",
        keep_case=not fields["case_folded"],
        rows=fields["row"] is not None,
        unit=fields["unit"],
        ambiguous="drop" if fields["ambiguous_dropped"] else "keep",
    )
    wanted = (fields["record"], fields["file"])
    (symbols,) = [r.symbols for r in read_source(fields["file"], options) if r.name in wanted]
    assert (len(symbols), len(set(symbols))) == (fields["length"], fields["alphabet_size"])
    return symbols


# Every field of a record but its symbols, under the names the JSON gives them.
PROVENANCE = {f.name for f in dataclasses.fields(Record)} - {"symbols", "source"} | {"file", "record"}


def recompute(command, out):
    """Check every value of a command's JSON output against one computed from its records alone."""
    lines = json_lines(out)
    inputs = [i for line in lines for i in line.get("inputs", [line])]
    assert lines and all(PROVENANCE <= set(i) for i in inputs)
    assert all({"measure", "options", "parsimetrics_version"} <= set(line) for line in lines)
    for line in lines:
        if command == "analyze":
            expected = getattr(parsimetrics, line["measure"])(read_again(line), **line["options"])
            assert {key: line[key] for key in expected} == expected
        elif command == "profile":
            starts, values = parsimetrics_tools.profile(read_again(line), measure=line["measure"], **line["options"])
            # Windows are normalized by the record's alphabet, raised to 2 as everywhere (a constant one too).
            assert line["log_base"] == line["options"]["log_base"] == max(2, line["alphabet_size"])
            assert dict(zip(starts.tolist(), values.tolist()))[line["start"]] == line[line["measure"]]
        else:
            symbols = [read_again(i) for i in line["inputs"]]
            expected = [[parsimetrics.nid(a, b) for b in symbols] for a in symbols]
            assert line["nid"] == (expected if command == "distance" else expected[0][1])


@pytest.mark.parametrize(
    "name, content, args",
    [
        ("s.csv", "t,x\n0,0.2\n1,0.7\n2,0.5\n3,0.9\n4,0.1\n", ["--column", "x", "--symbolize", "threshold:0.5"]),
        ("s.fa", ">a\nacgtTGCAtt\n>b\nAAAAnnnCgg\n", []),
        ("s.txt", "3 1 NaN 4 1 5 9 2 6 5 3 5", ["--missing", "drop", "--symbolize", "quantiles:3"]),
        ("raw.txt", "ab\ncd\n", ["--raw"]),
        ("prose.txt", "Grüße aus\nKöln\n", ["--unit", "char"]),
        ("rows.csv", "1,2,3,4\n5,6,7,5\n", ["--rows"]),
        ("constant.txt", "aaaaaaaa\n", []),
    ],
)
@pytest.mark.parametrize(
    "command, options",
    [
        ("analyze", ["-m", "lz76", "--max-block-size", "2"]),
        ("profile", ["-m", "emc", "-w", "4", "-s", "2"]),
        ("distance", []),
        ("nid", []),
    ],
)
def test_every_record_says_enough_to_compute_it_again(tmp_path, name, content, args, command, options):
    path = write(tmp_path, name, content)
    files = [path] if name in ("s.fa", "rows.csv") else [path, path]  # two sequences for distance and nid
    proc = cli(command, "--json", *options, *args, *files)
    assert proc.returncode == 0, proc.stderr
    recompute(command, proc.stdout.decode())


def test_lz76_is_the_default_measure(capsys, monkeypatch):
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--json", "-", stdin=b"banana\n")
    assert status == 0
    (row,) = json_lines(out)
    assert row["name"] == "<stdin>" and row["length"] == 6
    assert {k: row[k] for k in parsimetrics.lz76("banana")} == parsimetrics.lz76("banana")


@pytest.mark.parametrize("method", [*symbolizers._SIMPLE, "threshold:-0.5,0.5", "quantiles:5", "ordinal:3",
                                    "ordinal:5:2"])
def test_symbolized_numbers_are_the_bytes_python_gives(tmp_path, capsys, monkeypatch, method):
    # EMC seeds its surrogates from the bytes themselves: any other coding of the same classes differs.
    x = np.round(np.random.default_rng(7).normal(size=1500), 1)
    path = write(tmp_path, "x.txt", "\n".join(map(repr, x.tolist())))
    symbols = parsimetrics_tools.symbolize(x, method)
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--json", "--symbolize", method, path)
    (row,) = json_lines(out)
    expected = parsimetrics.lz76(symbols)
    assert status == 0 and {key: row[key] for key in expected} == expected
    status, out, _ = run_main(capsys, monkeypatch, "profile", "--json", "-m", "emc", "-w", 500,
                              "--symbolize", method, path)
    _, values = parsimetrics_tools.profile(symbols, 500, measure="emc", log_base=max(2, len(set(symbols))))
    assert status == 0 and [r["emc"] for r in json_lines(out)] == values.tolist()


def test_emc_measure_and_block_size(capsys, monkeypatch):
    seq = (EXAMPLES / "logistic.txt").read_text().replace("\n", "")
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--json", "-m", "emc", "--max-block-size", "5",
                              EXAMPLES / "logistic.txt")
    assert status == 0
    value, summands = parsimetrics.emc(seq, max_block_size=5)
    assert json_lines(out)[0]["emc"] == {"value": value, "summands": summands}


# --------------------------------------------------------------------------
# Output modes, progress and terminals


def test_table_output(capsys, monkeypatch):
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--table", "-m", "h",
                              EXAMPLES / "periodic.txt", EXAMPLES / "random_binary.txt")
    assert status == 0
    header, *rows = out.splitlines()
    assert header.split() == ["name", "k", "length", "h"]
    assert [row.split()[0].rsplit("/", 1)[-1] for row in rows] == ["periodic.txt", "random_binary.txt"]
    assert float(rows[0].split()[-1]) < 0.1 < 0.9 < float(rows[1].split()[-1])


def test_table_keeps_the_end_of_long_names(capsys, monkeypatch, tmp_path):
    deep = tmp_path.joinpath(*["a_rather_long_directory_name"] * 4)
    deep.mkdir(parents=True)
    files = [write(deep, name, "0110100110010110") for name in ("first.txt", "second.txt")]
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--table", "-m", "h", *files)
    assert status == 0
    names = [row.split()[0] for row in out.splitlines()[1:]]
    assert [name[0] for name in names] == ["…", "…"]
    assert [name.rsplit("/", 1)[-1] for name in names] == ["first.txt", "second.txt"]


def run_with_terminal(args, stdout_tty, stderr_tty):
    """Run the command with a pseudo-terminal on the chosen streams; returns (stdout, stderr)."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    proc = subprocess.Popen(
        [sys.executable, "-m", "parsimetrics_tools", *map(str, args)],
        stdin=subprocess.DEVNULL,
        stdout=slave if stdout_tty else subprocess.PIPE,
        stderr=slave if stderr_tty else subprocess.PIPE,
    )
    os.close(slave)
    captured = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal is gone once the child has exited
            break
        if not chunk:
            break
        captured += chunk
    os.close(master)
    with proc:  # closes the piped stream
        piped = (proc.stdout or proc.stderr).read()
        assert proc.wait(timeout=60) == 0
    return (captured, piped) if stdout_tty else (piped, captured)


@pytest.mark.parametrize("stdout_tty", [True, False])
def test_table_on_a_terminal_json_otherwise(stdout_tty):
    out, _ = run_with_terminal(["analyze", "-m", "h", EXAMPLES / "periodic.txt"], stdout_tty, False)
    first = out.decode().splitlines()[0]
    assert first.split() == ["name", "k", "length", "h"] if stdout_tty else json.loads(first)["measure"] == "h"


@pytest.mark.parametrize("stderr_tty, files, shown", [(True, 2, [b"0/2", b" inputs/s"]), (True, 1, [b"elapsed"]),
                                                      (False, 2, [])])
def test_progress_says_what_it_counts_on_a_terminal(stderr_tty, files, shown):
    _, err = run_with_terminal(["analyze", "-m", "h", *[EXAMPLES / "periodic.txt"] * files], False, stderr_tty)
    assert all(text in err for text in shown) if shown else err == b""


# --------------------------------------------------------------------------
# Distances


@pytest.mark.parametrize("style, delimiter", [("--csv", ","), ("--tsv", "\t")])
def test_distance_matrix(style, delimiter):
    proc = cli("distance", style, EXAMPLES / "sequences.fasta", EXAMPLES / "periodic.txt")
    assert proc.returncode == 0, proc.stderr
    header, *rows = [line.split(delimiter) for line in proc.stdout.decode().splitlines()]
    records = read_source(str(EXAMPLES / "sequences.fasta")) + read_source(str(EXAMPLES / "periodic.txt"))
    assert header[1:] == [r.name for r in records] == [row[0] for row in rows]
    matrix = [[float(x) for x in row[1:]] for row in rows]
    for i, a in enumerate(records):
        for j, b in enumerate(records):
            assert matrix[i][j] == matrix[j][i] == parsimetrics.nid(a.symbols, b.symbols)
    ancestor = matrix[header.index("ancestor") - 1]
    assert ancestor[header.index("mutant") - 1] < ancestor[header.index("unrelated") - 1]


def test_distance_table_for_people(tmp_path):
    out, _ = run_with_terminal(["distance", EXAMPLES / "sequences.fasta"], True, False)
    header, *rows = out.decode().splitlines()
    assert header.split() == ["ancestor", "mutant", "unrelated", "gc_rich", "tandem"]
    assert all(re.fullmatch(r"\S+( +\d\.\d{4}){5}", row) for row in rows), rows


@pytest.mark.parametrize("width", [40, 80, 200])
def test_table_fits_the_terminal(width):
    names = ["data/" + "x" * 60 + ".txt", "short"]
    table = Table(names, columns("lz76", log_base=2), width=width)
    row = parsimetrics.lz76("0110100110010110") | {"length": 16, "alphabet_size": 2}
    lines = [table.header(), table.row(names[0], row), table.row(names[1], row)]
    assert all(len(line) <= max(width, 60) for line in lines)
    assert lines[1].split()[0].endswith("x.txt") and "h(bits)" in lines[0]
    assert ("normal_error" in lines[0]) == (width >= 80) and ("redundancy" in lines[0]) == (width >= 100)


def test_nid_command(capsys, monkeypatch):
    status, out, _ = run_main(capsys, monkeypatch, "nid", "--json", EXAMPLES / "fibonacci.txt", "-",
                              stdin=b"abcd")
    assert status == 0
    fib = (EXAMPLES / "fibonacci.txt").read_bytes().replace(b"\n", b"")
    (row,) = json_lines(out)
    assert (row["first"], row["second"]) == (str(EXAMPLES / "fibonacci.txt"), "<stdin>")
    assert row["nid"] == parsimetrics.nid(fib, b"abcd")


# --------------------------------------------------------------------------
# Errors: one line on standard error, a non-zero status, no traceback


@pytest.mark.parametrize(
    "files, args, status, message",
    [
        ({}, ["analyze", "missing.txt"], 1, "missing.txt: no such file"),
        ({}, ["analyze", "."], 1, ".: is a directory"),
        ({"e.txt": ""}, ["analyze", "e.txt"], 1, "e.txt: empty input"),
        ({"e.txt": "\n\r\n"}, ["analyze", "e.txt"], 1, "e.txt: empty input"),
        ({"e.fa": ">a\n>b\nAC\n"}, ["analyze", "e.fa"], 1, "e.fa: record 'a' is empty"),
        ({"n.txt": "1 2 3\n4 x4\n"}, ["analyze", "n.txt"], 1, "n.txt:2: bad number 'x4'"),
        ({"n.txt": "1 2 3 1e999"}, ["analyze", "n.txt"], 1, "n.txt:1: number out of range '1e999'"),
        ({"n.csv": "a,b\n1,2\n3,\n"}, ["analyze", "--column", "b", "n.csv"], 1, "n.csv:3: a missing value; --missing drop"),
        ({"n.csv": "a,b\n1,2\n"}, ["analyze", "n.csv"], 1, "n.csv: 2 columns; choose one"),
        ({"n.csv": "a,b\n1,2\n"}, ["analyze", "--column", "c", "n.csv"], 1, "no column named 'c'"),
        ({"n.txt": " ".join(map(str, range(300)))}, ["analyze", "n.txt"], 1, "300 distinct values"),
        ({"f.fa": "AC\n>a\nAC\n"}, ["analyze", "--format", "fasta", "f.fa"], 1, "f.fa:1: sequence data before"),
        ({}, ["analyze", "--measure", "size", "x"], 2, "invalid choice: 'size'"),
        ({}, ["analyze", "--symbolize", "quantiles:1", "x"], 2, "quantiles:K needs an integer K from 2"),
        ({}, ["analyze", "--symbolize", "cubic", "x"], 2, "unknown symbolizer 'cubic'"),
        ({}, ["analyze", "--format", "xml", "x"], 2, "invalid choice: 'xml'"),
        ({}, ["analyze", "--alphabet", "1", "x"], 2, "must be from 2 to"),
        ({}, ["analyze", "--processes", "two", "x"], 2, "not an integer: 'two'"),
        ({}, ["frobnicate"], 2, "invalid choice: 'frobnicate'"),
        ({}, ["analyse", "--bogus", "x"], 2, "unrecognized arguments: --bogus (see 'parsimetrics analyze --help')"),
        ({"a.txt": "01"}, ["analyze", "--plot", "adir", "a.txt"], 1, "adir: no suffix; the image format"),
        ({"a.txt": "01"}, ["analyze", "--plot", "", "a.txt"], 1, "--plot needs a file name"),
        ({}, [], 2, "required: COMMAND"),
        ({"a.txt": "ab"}, ["analyze", "-m", "h", "--max-block-size", "3", "a.txt"], 1, "applies to --measure emc"),
        ({"a.txt": "abc"}, ["analyze", "--max-block-size", "4", "a.txt"], 1, "a.txt: max block size 4 exceeds"),
        ({"a.txt": "1 2"}, ["analyze", "--raw", "--format", "numbers", "a.txt"], 1, "--raw applies to text"),
        ({"a.fa": ">a\nAC\n"}, ["analyze", "--symbolize", "mean", "a.fa"], 1, "a.fa: --symbolize applies to numbers"),
        pytest.param({"a.txt": "ab"}, ["distance", "a.txt"], 1, "at least two sequences"),
        pytest.param({"a.fa": ">a\nA\n>b\nC\n>c\nG\n"}, ["nid", "a.fa"], 1,
                     "nid compares two sequences, but the input holds 3"),
    ],
)
def test_errors(tmp_path, capsys, monkeypatch, files, args, status, message):
    for name, content in files.items():
        write(tmp_path, name, content)
    monkeypatch.chdir(tmp_path)
    code, out, err = run_main(capsys, monkeypatch, *args)
    assert (code, out) == (status, "")
    assert err.count("\n") == 1 and err.startswith("parsimetrics") and message in err, err


@pytest.mark.parametrize("args, status", [(["analyze", "missing.txt"], 1), (["analyze", "-m", "size"], 2)])
def test_errors_in_a_child_process(tmp_path, args, status):
    proc = cli(*args, cwd=tmp_path)
    assert proc.returncode == status and proc.stdout == b""
    assert proc.stderr.count(b"\n") == 1 and b"Traceback" not in proc.stderr


def _close(*fds):
    return lambda: [os.close(fd) for fd in fds]


@pytest.mark.parametrize(
    "files, args, options, message",
    [
        ({"n.txt": "1 " + "7" * 5000}, ["analyze", "n.txt"], {}, b"n.txt"),
        # A mean beyond the float range is computed without overflow: two symbols, no error.
        ({"n.txt": "1e308 1.7e308"}, ["analyze", "--symbolize", "mean", "n.txt"], {}, None),
        ({}, ["analyze"], {"preexec_fn": _close(0)}, b"no input"),
        ({}, ["analyze", "-"], {"preexec_fn": _close(0)}, b"standard input is closed"),
        ({"a.txt": "01"}, ["analyze", "a.txt"], {"preexec_fn": _close(1)}, b"standard output is closed"),
        ({"a.txt": "01"}, ["analyze", "a.txt"], {"stdout": open(os.devnull, "w")}, None),
    ],
)
def test_odd_streams_and_values_give_one_line(tmp_path, files, args, options, message):
    for name, content in files.items():
        write(tmp_path, name, content)
    proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", *args], cwd=tmp_path, stderr=subprocess.PIPE,
                          timeout=60, **options)
    if message is None:
        assert proc.returncode == 0 and proc.stderr == b""
    else:
        assert proc.returncode == 1 and proc.stderr.count(b"\n") == 1 and message in proc.stderr, proc.stderr


def test_file_names_that_are_not_text_are_escaped(tmp_path):
    name = os.fsdecode(b"caf\xe9.txt")
    write(tmp_path, name, "0110")
    env = dict(os.environ, PYTHONIOENCODING="utf-8:strict")
    ok = cli("analyze", "--json", "-m", "h", name, cwd=tmp_path, env=env)
    assert ok.returncode == 0 and json.loads(ok.stdout)["name"] == name
    missing = cli("analyze", os.fsdecode(b"gon\xe9.txt"), cwd=tmp_path, env=env)
    assert missing.returncode == 1 and missing.stderr == b"parsimetrics: gon\\udce9.txt: no such file\n"


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file(tmp_path):
    path = write(tmp_path, "secret.txt", "0101")
    path.chmod(0)
    proc = cli("analyze", path)
    assert proc.returncode == 1 and b"cannot read" in proc.stderr


@pytest.mark.parametrize(
    "command, limit, message",
    [
        ("analyze", 9, "a.txt: sequence too long (10 symbols; at most 9 fit)"),
        # nid factorizes the two sequences joined, so their sum must fit.
        ("distance", 11, "the two longest sequences together: sequence too long (12 symbols; at most 11 fit)"),
    ],
)
def test_sequence_too_long(tmp_path, capsys, monkeypatch, command, limit, message):
    monkeypatch.setattr(measures, "MAX_SYMBOLS", limit)
    monkeypatch.setattr(parsimetrics, "nid", lambda *args: pytest.fail("nid called"), raising=False)
    a, b = write(tmp_path, "a.txt", "0110100110"), write(tmp_path, "b.txt", "01")
    status, out, err = run_main(capsys, monkeypatch, command, "--json", a, b)
    # analyze goes on with the input that fits; distance cannot pair it with anything.
    assert status == 1 and err.endswith(message + "\n")
    assert [row["name"] for row in json_lines(out)] == ([str(b)] if command == "analyze" else [])


def test_module_failures_become_one_line(tmp_path, capsys, monkeypatch):
    def fail(*args, **kwargs):
        raise parsimetrics.PanicException("text too large, should not exceed 2147483646 bytes")

    monkeypatch.setattr(parsimetrics, "h", fail)
    status, _, err = run_main(capsys, monkeypatch, "analyze", "-m", "h", write(tmp_path, "a.txt", "01"))
    assert status == 1 and err.strip().endswith("a.txt: text too large, should not exceed 2147483646 bytes")


def _faulty_measure(*args, **kwargs):
    raise KeyError("a fault of ours")


@pytest.mark.parametrize("debug", [False, True])
@pytest.mark.parametrize("where", ["item", "command"])
def test_debug_shows_where_a_failure_arose(tmp_path, capsys, monkeypatch, debug, where):
    if where == "item":
        monkeypatch.setattr(parsimetrics, "h", _faulty_measure)
    else:
        monkeypatch.setattr("parsimetrics_tools.cli.analyze.unique_labels", _faulty_measure)
    args = ["analyze", "-m", "h", write(tmp_path, "a.txt", "01")]
    status, _, err = run_main(capsys, monkeypatch, *(["--debug", *args] if debug else args))
    first, *rest = err.splitlines()
    assert status == 1 and "KeyError" in err and "a fault of ours" in first
    assert bool(rest) == debug and ("_faulty_measure" in err) == debug
    assert ("--debug" in first) == (where == "command" and not debug)


class _Unpicklable(Exception):
    def __init__(self, lock):
        super().__init__("holds a lock")
        self.lock = lock


def _raise(exc):
    raise exc


@pytest.mark.parametrize(
    "item, kind, text",
    [
        (ZeroDivisionError("zero"), ZeroDivisionError, "zero"),
        (parsimetrics.PanicException("deep"), parsimetrics.PanicException, "deep"),
        (SystemExit(3), SystemExit, "3"),
        ("unpicklable", RuntimeError, "_Unpicklable: holds a lock"),
    ],
)
def test_worker_failures_keep_their_type_and_traceback(item, kind, text):
    from parsimetrics_tools.cli.processes import ordered_map

    # A lock cannot be pickled, so neither can the exception holding it.
    job = _raise_lock if item == "unpicklable" else _raise
    ((ok, exc),) = list(ordered_map(job, [item], processes=1))
    assert not ok and type(exc) is kind and str(exc) == text
    assert "In worker process" in exc.__notes__[0] and "_raise" in exc.__notes__[0]


def _raise_lock(_):
    raise _Unpicklable(threading.Lock())


@pytest.mark.parametrize("processes", ["1", "2"])
def test_ctrl_c_stops_between_sequences(tmp_path, processes):
    rng = random.Random(5)
    big = write(tmp_path, "big.txt", bytes(48 + rng.getrandbits(1) for _ in range(1_000_000)))
    proc = subprocess.Popen([sys.executable, "-m", "parsimetrics_tools", "analyze", "-m", "h", "-p", processes,
                             *[big] * 60], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert proc.stdout.readline().startswith(b"{")
    start = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=30)
    assert proc.returncode == 130 and err == b"parsimetrics: interrupted\n"
    assert time.monotonic() - start < 3 and out.count(b"\n") < 50


def random_file(tmp_path, name, n, seed=5):
    rng = random.Random(seed)
    return write(tmp_path, name, bytes(48 + rng.getrandbits(1) for _ in range(n)))


@pytest.mark.parametrize("command", [["analyze"], ["profile", "-m", "emc", "-w", "1000000", "-s", "200000"],
                                     ["distance"]])
def test_ctrl_c_stops_one_long_input_under_a_terminal(tmp_path, command):
    # The measure runs in a worker (or, for distance, a thread), so this process
    # shows the elapsed time and acts on Ctrl-C at once instead of after the measure.
    # Long enough that the measure is still running when the first elapsed
    # time shows: distance computes three factorizations in well under a
    # second at 2 * 10^6 symbols, and Ctrl-C could race its end.
    big = random_file(tmp_path, "big.txt", 8_000_000 if command == ["distance"] else 2_000_000)
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    inputs = [big] * (2 if command == ["distance"] else 1)
    proc = subprocess.Popen([sys.executable, "-m", "parsimetrics_tools", *command, *inputs],
                            stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
    os.close(slave)
    seen = b""
    while b"elapsed" not in seen:
        try:
            seen += os.read(master, 4096)
        except OSError:
            pytest.fail(repr(seen))
    start = time.monotonic()
    os.killpg(proc.pid, signal.SIGINT)  # what the terminal does on Ctrl-C
    assert proc.wait(timeout=10) == 130 and time.monotonic() - start < 1
    os.close(master)


def test_a_script_without_a_main_guard_runs_capped_workers(tmp_path):
    # Workers must not run the script again: it would start workers of its own in each.
    script = write(tmp_path, "run.py", "import sys, parsimetrics_tools\n"
                   "print('status', parsimetrics_tools.main(['analyze', '--json', '-m', 'h', *sys.argv[1:]]))\n")
    cpus = len(os.sched_getaffinity(0))
    files = [write(tmp_path, f"{name}.txt", name) for name in ("0110", "0101", "0011")]
    proc = subprocess.run([sys.executable, script, "-p", str(cpus + 1), *files], capture_output=True, timeout=120)
    *rows, status = proc.stdout.decode().splitlines()
    assert status == "status 0" and [json.loads(r)["name"] for r in rows] == list(map(str, files))
    assert proc.stderr.decode() == f"parsimetrics: --processes {cpus + 1} is more than the {cpus} CPUs available; " \
                                   f"using {cpus}\n"


def process_tree(pid):
    """{process id: parent id} of every process below ``pid``."""
    parents = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z":
            parents[int(stat.parent.name)] = int(fields[1])
    below = {}
    for child in parents:
        ancestor = parents.get(child)
        while ancestor is not None and ancestor != pid:
            ancestor = parents.get(ancestor)
        if ancestor == pid:
            below[child] = parents[child]
    return below


def cmdline(pid):
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return b""


def cpu_seconds(pid):
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def start_busy_workers(tmp_path):
    """The tool with two workers on two long inputs and a short one, and a worker that is computing."""
    big, small = random_file(tmp_path, "big.txt", 600_000), random_file(tmp_path, "small.txt", 1000)
    proc = subprocess.Popen([sys.executable, "-m", "parsimetrics_tools", "analyze", "--json", "-p", "2",
                             big, big, small], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    # Past start-up (about 0.1 s of CPU), a worker is inside the measure (about 1 s).
    while not (busy := [p for p in process_tree(proc.pid)
                        if b"spawn_main" in cmdline(p) and cpu_seconds(p) > 0.4]):
        assert time.monotonic() < deadline
        time.sleep(0.05)
    return proc, busy[0]


def test_a_killed_worker_fails_its_input_only(tmp_path):
    proc, worker = start_busy_workers(tmp_path)
    os.kill(worker, signal.SIGKILL)  # as the out-of-memory killer does
    out, err = proc.communicate(timeout=120)
    assert proc.returncode == 1 and len(out.splitlines()) == 2
    assert err.count(b"\n") == 1 and b"big.txt (" in err and b"killed by SIGKILL" in err


def test_sigterm_ends_the_workers_silently(tmp_path):
    proc, _ = start_busy_workers(tmp_path)
    below = process_tree(proc.pid)
    proc.terminate()
    _, err = proc.communicate(timeout=10)
    assert proc.returncode == 143 and err == b""
    deadline = time.monotonic() + 2
    while set(below) & set(process_tree(1)):
        assert time.monotonic() < deadline, "workers outlived the tool"
        time.sleep(0.05)


@pytest.mark.parametrize("fail_fast", [False, True])
def test_batch_reports_failures_and_goes_on(tmp_path, fail_fast):
    good = write(tmp_path, "good.txt", "0110")
    proc = cli("analyze", "--json", "-m", "h", *["--fail-fast"] * fail_fast, good, "missing.txt", good,
               cwd=tmp_path)
    assert proc.returncode == 1 and proc.stderr == b"parsimetrics: missing.txt: no such file\n"
    # Every input is read before any is measured, so --fail-fast stops before the first result.
    assert len(proc.stdout.splitlines()) == (0 if fail_fast else 2)
    assert cli("analyze", "--json", good, good).returncode == 0


def test_repeated_names_get_unique_labels(tmp_path):
    a, b = write(tmp_path, "a.fa", ">x\nACGT\n>y\nAC\n"), write(tmp_path, "b.fa", ">x\nGGTT\n")
    status_names = [r["name"] for r in json_lines(cli("analyze", "--json", "-m", "h", a, b, b).stdout.decode())]
    assert status_names == [f"{a}:x", "y", f"{b}:x (1)", f"{b}:x (2)"]


# --------------------------------------------------------------------------
# Parallel and distributed runs give the same results


@pytest.mark.parametrize("command, lines", [(["analyze", "--json"], 9), (["distance"], 10),
                                           (["profile", "--json", "-w", "2000"], 25)])
def test_processes_give_the_same_output(command, lines):
    inputs = [EXAMPLES / "sequences.fasta", *sorted(EXAMPLES.glob("*.txt"))]
    one, two = (cli(*command, "-p", p, *inputs) for p in (1, 2))
    assert one.returncode == two.returncode == 0, two.stderr
    assert one.stdout == two.stdout and len(one.stdout.splitlines()) == lines


@pytest.mark.parametrize("scheduler", ["sync", "processes"])
def test_dask_recipe_matches_the_command_line(capsys, monkeypatch, scheduler):
    pytest.importorskip("dask.bag")
    paths = [str(EXAMPLES / "sequences.fasta"), str(EXAMPLES / "fibonacci.txt")]
    results = parsimetrics_tools.dask_bag(paths, npartitions=2).compute(scheduler=scheduler)
    status, out, _ = run_main(capsys, monkeypatch, "analyze", "--json", *paths)
    assert status == 0 and results == json_lines(out) and len(results) == 6


# --------------------------------------------------------------------------
# Plot, help and version


@pytest.mark.filterwarnings("error")  # a layout that collapses warns
def test_plot(tmp_path, capsys, monkeypatch):
    pytest.importorskip("matplotlib")
    target = tmp_path / "ladder.png"
    deep = tmp_path.joinpath(*["a_rather_long_directory_name"] * 6)
    deep.mkdir(parents=True)
    long_named = write(deep, "golden_mean_shift_sample.txt", "0100101001001010")
    monkeypatch.setattr(parsimetrics, "emc", lambda *a, **k: pytest.fail("an h plot draws no ladder"))
    status, out, err = run_main(capsys, monkeypatch, "analyze", "-m", "h", "--json", "--plot", target,
                                EXAMPLES / "periodic.txt", EXAMPLES / "fibonacci.txt", long_named)
    assert status == 0, err
    assert target.read_bytes().startswith(b"\x89PNG") and len(json_lines(out)) == 3


def _small_files():
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))  # as a full disk: writes past 4 KiB fail


@pytest.mark.parametrize("target, limit", [("folder.png", None), ("full.png", None), ("kept.png", _small_files)])
def test_plot_write_failures_are_one_line_and_leave_nothing(tmp_path, target, limit):
    pytest.importorskip("matplotlib")
    (tmp_path / "folder.png").mkdir()
    (tmp_path / "full.png").symlink_to("/dev/full")
    (tmp_path / "kept.png").write_bytes(b"an earlier image")
    proc = cli("analyze", "-m", "h", "--json", "--plot", target, EXAMPLES / "periodic.txt", cwd=tmp_path,
               preexec_fn=limit)
    assert proc.returncode == 1 and len(proc.stdout.splitlines()) == 1
    assert proc.stderr.startswith(f"parsimetrics: {target}: cannot write the plot: ".encode())
    assert proc.stderr.count(b"\n") == 1
    assert sorted(p.name for p in tmp_path.iterdir()) == ["folder.png", "full.png", "kept.png"]
    assert (tmp_path / "kept.png").read_bytes() == b"an earlier image"


@pytest.mark.filterwarnings("error")
@pytest.mark.parametrize("count", [1, 60])
@pytest.mark.parametrize("figure", ["h", "ladders", "profile"])
def test_plot_labels_fit_and_lines_stay_apart(count, figure):
    pytest.importorskip("matplotlib")
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    from parsimetrics_tools.cli.plot import analysis_figure, profile_figure

    names = [f"data/recordings/session_{i:02d}_left_channel.txt" for i in range(count)]
    if figure == "profile":
        fig = profile_figure([(name, [50.0, 150.0, 250.0], [0.5] * 3) for name in names], "h", rate=100)
        assert fig.axes[0].lines[0].get_xdata().tolist() == [0.5, 1.5, 2.5]
        assert "seconds" in fig.axes[0].get_xlabel()
    else:
        # Periodic inputs all give the same flat ladder: each must still show.
        fig = analysis_figure([(name, [0.0] * 5 if figure == "ladders" else None, 0.9) for name in names])
    canvas = FigureCanvasAgg(fig)
    canvas.draw()
    renderer = canvas.get_renderer()
    drawn = fig.get_tightbbox(renderer)  # in inches, around every label, title and tick drawn
    width, height = fig.get_size_inches()
    assert drawn.x0 >= -0.01 and drawn.y0 >= -0.01 and drawn.x1 <= width + 0.01 and drawn.y1 <= height + 0.01
    ticks = [t.get_window_extent(renderer) for t in fig.axes[-1].get_yticklabels() if t.get_text()]
    assert not any(a.overlaps(b) for a, b in zip(ticks, ticks[1:]))
    lines = [line for ax in fig.axes for line in ax.get_lines()]
    assert len({(line.get_marker(), line.get_linestyle(), line.get_linewidth()) for line in lines}) == len(lines)


def test_plot_colours_stay_distinct_past_ten():
    pytest.importorskip("matplotlib")
    from parsimetrics_tools.cli.plot import _colours

    assert [len(set(map(str, _colours(n)))) for n in (3, 15, 40)] == [3, 15, 40]


def test_plot_without_matplotlib(tmp_path, capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    status, out, err = run_main(capsys, monkeypatch, "analyze", "--plot", tmp_path / "x.png", EXAMPLES / "periodic.txt")
    assert status == 1 and out == ""
    assert err == "parsimetrics: --plot needs matplotlib, which is not installed (pip install 'parsimetrics[plot]')\n"


@pytest.mark.parametrize("args, expected", [(["--version"], f"parsimetrics {parsimetrics.__version__}\n"),
                                            (["--help"], "analyze"), (["distance", "--help"], "--tsv")])
def test_help_and_version(args, expected):
    proc = cli(*args)
    assert proc.returncode == 0 and expected in proc.stdout.decode()


def test_explain_defines_every_output_field():
    proc = cli("analyze", "--json", "--column", "x", "--symbolize", "median", EXAMPLES / "logistic.csv")
    record = json.loads(proc.stdout)
    fields = {key for key, value in record.items() for key in [key, *(value if isinstance(value, dict) else [])]}
    explained = cli("explain").stdout.decode()
    assert fields <= set(re.findall(r"[a-z_]+", explained)) and "nid" in explained
    assert all(source in explained for source in ("Lempel & Ziv 1976", "Kaspar & Schuster (1987)"))


def test_examples_are_regenerated_exactly(tmp_path):
    subprocess.run([sys.executable, EXAMPLES / "make_examples.py", tmp_path], check=True, timeout=60)
    made = sorted(p.name for p in tmp_path.iterdir())
    assert made == sorted(p.name for p in EXAMPLES.iterdir() if p.suffix != ".py")
    for name in made:
        assert (tmp_path / name).read_bytes() == (EXAMPLES / name).read_bytes(), name


SHARED_HEAD = {"name": "r1", "file": "a%s.fq", "record": "r1", "options": {"log_base": 2}, "cut_points": [0.5, 1e300]}
FLOATS = [{"h": 0.1}, {"h": -0.0}, {"h": float("nan")}, {"h": float("inf")}, {"h": -float("inf")}, {"h": None}]


@pytest.mark.parametrize("shared, values", [
    ({"file", "options", "cut_points"}, FLOATS),
    ({"file", "options", "cut_points"}, [{"name": 'q"uo\\te\n'}, {"name": "ünï €"}, {"name": "%d %s %%"},
                                         {"record": None}, {"name": "\x00\x1f"}]),
    ({"file", "options", "cut_points"}, [{"length": 0}, {"length": 10**30}, {"length": True},
                                         {"emc": {"value": 1.5, "summands": [1]}}]),
    (set(SHARED_HEAD), FLOATS),  # one field of each result its own
    # Values that repeat, as the lengths and h of reads do; 0.0 and -0.0 are equal, yet written apart.
    ({"file"}, [{"h": 0.5, "length": 150}] * 3 + [{"h": 0.25, "length": 0}]),
    ({"file"}, [{"h": 0.0}] * 3 + [{"h": -0.0}]),
])
def test_json_lines_of_shared_fields_are_json_dumps(shared, values):
    encoder = JsonLines(frozenset(shared))
    results = [{**SHARED_HEAD, **value} for value in values]
    # The same fields in another order, and another group with other shared values.
    results += [dict(reversed(results[0].items())), {**results[1], "file": "b.fq", "cut_points": None}]
    groups = [1] * len(values) + [1, 2]
    assert [encoder.line(r, g) for r, g in zip(results, groups)] == [json.dumps(r, ensure_ascii=False) for r in results]
    same = [r for r in results[: len(values)] if r.keys() == results[0].keys()]  # and these as columns
    columns = {key: [r[key] for r in same] for key in same[0] if key not in shared}
    assert encoder.lines(same[0], 1, columns) == [json.dumps(r, ensure_ascii=False) for r in same]


def _reads(tmp_path, sequences):
    text = "".join(f"@r{i}\n{s}\n+\n{'I' * len(s)}\n" for i, s in enumerate(sequences))
    return str(write(tmp_path, "reads.fastq", text))


@pytest.mark.parametrize("measure, options", [
    ("h", {}), ("lz76", {"log_base": 2}), ("factorization", {}), ("emc", {"max_block_size": 1}),
    ("kaspar_schuster", {"log_base": 3}),
])
def test_records_measured_together_equal_each_measured_alone(tmp_path, measure, options):
    # Two ways of reading, interleaved.
    reads = read_source(_reads(tmp_path, ["ACACCA", "ACGT", "A", "CCAACA" * 9]), ReadOptions())
    text = read_source(str(write(tmp_path, "t.txt", "0110101")), ReadOptions())
    wide = Record("wide", "w.bin", bytes(range(100)), "bytes")  # more letters than are looked for one by one
    chunk = [(f"label{i}", r) for i, r in enumerate([reads[0], *text, *reads[1:], *text])]
    chunk = [*chunk, ("wide", wide)] if measure in ("h", "kaspar_schuster") else chunk
    options = measures.AnalysisOptions(**options)
    expected = []
    for label, record in chunk:
        try:
            expected.append((True, measures.analyze_record(record, measure, options, label)))
        except measures.AnalysisError as exc:
            expected.append((False, str(exc)))
    got = measures.analysis_chunk(chunk, measure, options)
    assert [(ok, value if ok else str(value)) for ok, value in got] == expected
    rows = [(f"s{i}", Record(f"s{i}", "s.fq", s, "fastq")) for i, s in enumerate([b"ACCA", b"GGTA", b"AAAA"])]
    assert measures.analysis_chunk(rows, measure, options) == [  # one length: measured as an array's rows
        (True, measures.analyze_record(record, measure, options, label)) for label, record in rows]
    if measure == "h":  # written straight from the values, in runs of records read the same way
        labels, records = map(list, zip(*chunk))
        assert analyze._h_lines((labels, analyze._Records(records)), measure, options) == [
            (True, json.dumps(r, ensure_ascii=False)) for _, r in expected]


@pytest.mark.parametrize("lengths, cuts", [
    ([1 << 16, 1, (1 << 16) - 1, (1 << 16) + 1, 1, 1], [1, 3, 4, 6]),  # as many symbols as fit; a longer one alone
    ([1] * 4099, [2048, 4096, 4099]),  # as many reads as fit
])
def test_reads_are_measured_in_chunks_as_records_are(lengths, cuts):
    reads = Reads("r.fq", "fastq", None, True, [f"r{i}" for i in range(len(lengths))],
                  [b"A" * n for n in lengths], [0] * len(lengths))
    records = analyze._Records(reads)
    assert [len(chunk) for _, chunk in analyze._chunks([(reads.names, records)])] == [
        b - a for a, b in zip([0, *cuts], cuts)]
    assert [labels for labels, _ in analyze._chunks([(reads.names, reads)])] == [
        reads.names[a:b] for a, b in zip([0, *cuts], cuts)]


@pytest.mark.parametrize("symbols", [
    [b"ACGT", b"", b"A", b"", b"GATTACA", b""],  # empty ones before, between and after others
    [b"", b""],
    [bytes([0, 255, 1, 2]), bytes([3, 4, 5, 6]), b"\xff\x00"],  # eight letters: a bit each
    [bytes(range(9)), b"ab"],  # more letters than bits
])
def test_alphabet_sizes_are_the_distinct_symbols(symbols):
    assert measures._alphabet_sizes(symbols) == [len(set(s)) for s in symbols]


@pytest.mark.parametrize("args", [["--json"], ["--table"], ["--json", "--processes", "2"]])
def test_many_reads_keep_their_order_and_one_failure_is_one_line(tmp_path, capsys, monkeypatch, args):
    sequences = ["ACGT" if i == 2500 else "AC" * (1 + i % 7) for i in range(2 * 2048 + 3)]  # across chunks
    path = _reads(tmp_path, sequences)
    expected = [measures.analyze_record(r, "h") for r in read_source(path, ReadOptions())]
    # One read the module fails on (here, not in the fresh worker processes).
    measure_many, h = measures._native.many, parsimetrics.h
    monkeypatch.setattr(measures._native, "many", lambda m, items, *options: (
        (None, (items.index(b"ACGT"), ValueError)) if b"ACGT" in items else measure_many(m, items, *options)))
    monkeypatch.setattr(parsimetrics, "h", lambda s, **kw: 1 / 0 if s == b"ACGT" else h(s, **kw))
    status, out, err = run_main(capsys, monkeypatch, "analyze", "-m", "h", *args, path)
    if "--processes" not in args:
        assert status == 1 and err == "parsimetrics: r2500: ZeroDivisionError: division by zero\n"
        del expected[2500]
    if "--table" in args:
        table = Table([r["name"] for r in expected], columns("h"))
        assert out.splitlines()[1:] == [table.row(r["name"], r) for r in expected]
    else:
        assert out.splitlines() == [json.dumps(r, ensure_ascii=False) for r in expected]
