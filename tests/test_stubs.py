"""The type stubs describe the module as it really is."""

import importlib.util
import os
import re
import runpy
import subprocess
import sys
import textwrap
import typing
from pathlib import Path
from unittest import mock

import pytest

import parsimetrics as pm

STUB = Path(__file__).resolve().parents[1] / "py" / "parsimetrics.pyi"
needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


def mypy(*args, cwd):
    # MYPYPATH puts the stub in the source tree ahead of any installed copy.
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=dict(os.environ, MYPYPATH=str(STUB.parent)),
                          capture_output=True, text=True, timeout=300)


@needs_mypy
def test_stubtest_finds_the_stub_and_the_module_alike(tmp_path):
    # Names, __all__, signatures, defaults, parameter kinds and the names
    # that exist for type checkers only.
    proc = mypy("mypy.stubtest", "parsimetrics", "--mypy-config-file", os.devnull, cwd=tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr


# What stubtest leaves alone: the types of module attributes and the bases of
# the exception, and what the results hold.
with mock.patch.object(typing, "type_check_only", lambda cls: cls, create=True):  # a checker-only name
    STUBBED = runpy.run_path(str(STUB))


def test_module_attribute_types():
    assert STUBBED["__annotations__"]["__version__"] is str and isinstance(pm.__version__, str)
    assert STUBBED["PanicException"].__bases__ == pm.PanicException.__bases__ == (BaseException,)


def check_value(annotation, value, where):
    if typing.is_typeddict(annotation):
        fields = typing.get_type_hints(annotation)
        assert type(value) is dict and list(value) == list(fields), where
        for key, field in fields.items():
            check_value(field, value[key], f"{where}[{key!r}]")
    elif typing.get_origin(annotation) is list:
        (item,) = typing.get_args(annotation)
        assert type(value) is list and all(type(v) is item for v in value), where
    else:
        assert type(value) is annotation, where


@pytest.mark.parametrize("seq", ["", "banana", "0110" * 700])
def test_lz76_result_matches_typed_dict(seq):
    check_value(typing.get_type_hints(STUBBED["lz76"])["return"], pm.lz76(seq), "lz76")


GOOD = """
    from typing import TYPE_CHECKING

    import parsimetrics as pm

    if TYPE_CHECKING:
        from parsimetrics import AnalysisResult, EmcRecord

    count, factors = pm.factorization("banana", 1, None, 2, 0)
    total: int = count + sum(factors)
    density: float = pm.h(b"0101", log_base=2) + pm.nid([1, 2, 3], (4, 5), alphabet=None)
    value, summands = pm.emc(range(10), max_block_size=3)
    first: float = value + summands[0]
    result: AnalysisResult = pm.lz76(["ab", "c"], jobs=2, partitions=True)
    record: EmcRecord = result["emc"]
    size: int = record["max_block_size"] + result["complexity"] + result["factors"][-1]
    spread: float = result["extras"]["pearson_coefficient"] + result["normal_error"]
    others: list[float] = [pm.h(bytearray(b"ab")), pm.h(memoryview(b"ab")), pm.h(seq=(1, 2))]
    version: str = pm.__version__
    names: list[str] = pm.__all__
    try:
        pm.emc("")
    except pm.PanicException as exc:
        message: str = str(exc)
    """

# Every line marked E must be reported, and no other.
BAD = """
    import parsimetrics as pm

    pm.h(1.5)  # E
    pm.h("a", alphabet="x")  # E
    pm.h("a", max_block_size=3)  # E
    pm.nid("a")  # E
    pm.factorization({1, 2})  # E
    pm.factorization(n for n in range(3))  # E
    text: str = pm.nid("a", "b")  # E
    whole: int = pm.lz76("a")["emc"]["value"]  # E
    pm.lz76("a")["entropy_density"]  # E
    pm.emc("ab")[0].append(1.0)  # E
    """


@needs_mypy
def test_mypy_accepts_use_and_rejects_misuse(tmp_path):
    good, bad = tmp_path / "good.py", tmp_path / "bad.py"
    good.write_text(textwrap.dedent(GOOD))
    bad.write_text(textwrap.dedent(BAD))
    proc = mypy("mypy", "--strict", "--no-error-summary", "--show-error-codes",
                "--cache-dir", str(tmp_path / "cache"), "good.py", "bad.py", cwd=tmp_path)
    report = proc.stdout + proc.stderr
    errors = re.findall(r"^(\w+)\.py:(\d+): error", report, re.M)
    assert proc.returncode == 1, report
    assert not [line for file, line in errors if file == "good"], report
    marked = {i for i, line in enumerate(bad.read_text().splitlines(), 1) if line.endswith("# E")}
    assert {int(line) for file, line in errors if file == "bad"} == marked, report
