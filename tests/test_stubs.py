"""The type stubs describe the module as it really is."""

import ast
import importlib.util
import inspect
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import parsimetrics as pm

STUB = Path(__file__).resolve().parents[1] / "py" / "parsimetrics.pyi"
TREE = ast.parse(STUB.read_text(), filename=str(STUB))
TOP = {node.name: node for node in TREE.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
FUNCTIONS = [name for name, node in TOP.items() if isinstance(node, ast.FunctionDef)]
NO_DEFAULT = object()


def assigned(name):
    for node in TREE.body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", None) == name for t in node.targets):
            return node.value
        if isinstance(node, ast.AnnAssign) and node.target.id == name:
            return node
    raise LookupError(name)


def stub_parameters(fn: ast.FunctionDef):
    args = fn.args
    P = inspect.Parameter
    out = []
    positional = args.posonlyargs + args.args
    defaults = [NO_DEFAULT] * (len(positional) - len(args.defaults)) + args.defaults
    for i, (arg, default) in enumerate(zip(positional, defaults)):
        kind = P.POSITIONAL_ONLY if i < len(args.posonlyargs) else P.POSITIONAL_OR_KEYWORD
        out.append((arg.arg, kind, default))
    if args.vararg:
        out.append((args.vararg.arg, P.VAR_POSITIONAL, NO_DEFAULT))
    for arg, default in zip(args.kwonlyargs, args.kw_defaults):
        out.append((arg.arg, P.KEYWORD_ONLY, NO_DEFAULT if default is None else default))
    if args.kwarg:
        out.append((args.kwarg.arg, P.VAR_KEYWORD, NO_DEFAULT))
    return [(name, kind, d if d is NO_DEFAULT else ast.literal_eval(d)) for name, kind, d in out]


def runtime_parameters(fn):
    return [(p.name, p.kind, NO_DEFAULT if p.default is p.empty else p.default)
            for p in inspect.signature(fn).parameters.values()]


def test_module_attributes():
    assert FUNCTIONS == pm.__all__ == ast.literal_eval(assigned("__all__"))
    assert ast.unparse(assigned("__version__").annotation) == "str" and isinstance(pm.__version__, str)
    assert [ast.unparse(b) for b in TOP["PanicException"].bases] == ["BaseException"]
    assert pm.PanicException.__bases__ == (BaseException,)


def test_stub_only_names_are_marked():
    # A public class the module does not define must be flagged for type checkers only.
    for name, node in TOP.items():
        if not name.startswith("_") and not hasattr(pm, name):
            assert "type_check_only" in [ast.unparse(d) for d in node.decorator_list], name


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature(name):
    assert stub_parameters(TOP[name]) == runtime_parameters(getattr(pm, name))


def typed_dict_fields(name):
    cls = TOP[name]
    assert [ast.unparse(b) for b in cls.bases] == ["TypedDict"]
    return {s.target.id: ast.unparse(s.annotation) for s in cls.body if isinstance(s, ast.AnnAssign)}


def check_value(annotation, value, where):
    simple = {"int": int, "float": float, "str": str}
    if annotation in simple:
        assert type(value) is simple[annotation], where
    elif m := re.fullmatch(r"list\[(\w+)\]", annotation):
        assert type(value) is list and all(type(v) is simple[m[1]] for v in value), where
    else:
        check_typed_dict(annotation, value)


def check_typed_dict(name, value):
    fields = typed_dict_fields(name)
    assert type(value) is dict and list(value) == list(fields), name
    for key, annotation in fields.items():
        check_value(annotation, value[key], f"{name}[{key!r}]")


@pytest.mark.parametrize("seq", ["", "banana", "0110" * 700])
def test_lz76_result_matches_typed_dict(seq):
    check_typed_dict(ast.unparse(TOP["lz76"].returns), pm.lz76(seq))


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


def test_mypy_accepts_use_and_rejects_misuse(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    good, bad = tmp_path / "good.py", tmp_path / "bad.py"
    good.write_text(textwrap.dedent(GOOD))
    bad.write_text(textwrap.dedent(BAD))
    env = dict(os.environ, MYPYPATH=str(STUB.parent))
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
         "--cache-dir", str(tmp_path / "cache"), "good.py", "bad.py"],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    report = proc.stdout + proc.stderr
    errors = re.findall(r"^(\w+)\.py:(\d+): error", report, re.M)
    assert proc.returncode == 1, report
    assert not [line for file, line in errors if file == "good"], report
    marked = {i for i, line in enumerate(bad.read_text().splitlines(), 1) if line.endswith("# E")}
    assert {int(line) for file, line in errors if file == "bad"} == marked, report
