"""The distributions users install: the wheel works on a machine without
libdivsufsort, on every CPython from 3.11 up, and holds nothing else; the
sdist says which package a source build lacks."""

import json
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from pathlib import Path

import pytest

import parsimetrics as pm

ROOT = Path(__file__).resolve().parent.parent
VERSION = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]

# Runs in the wheel's environment; the system library is out of reach.
PROBE = r"""
import ctypes, importlib, importlib.metadata, json, subprocess, sys
from pathlib import Path

try:
    ctypes.CDLL("libdivsufsort.so.3")
    system_library = True
except OSError:
    system_library = False
import parsimetrics

job = json.load(sys.stdin)
files = importlib.metadata.distribution("parsimetrics").files
extensions = [".".join(f.parts[:-1] + (f.name.split(".")[0],))
              for f in files if f.suffix == ".so" and not f.parts[0].endswith(".libs")]
for name in extensions:
    importlib.import_module(name)
cli = subprocess.run([Path(sys.executable).parent / "parsimetrics", "analyze", "--json", "-"],
                     input=job["cli_input"], capture_output=True, text=True)
print(json.dumps({
    "system_library": system_library,
    "module": parsimetrics.__file__,
    "prefix": sys.prefix,
    "versions": [parsimetrics.__version__, importlib.metadata.version("parsimetrics")],
    "extensions": extensions,
    "results": [getattr(parsimetrics, name)(*args, **kwargs) for name, args, kwargs in job["calls"]],
    "cli": [cli.returncode, cli.stdout, cli.stderr],
}))
"""


def _system_libraries():
    """The files the dynamic loader would open for libdivsufsort.so.3."""
    ldconfig = shutil.which("ldconfig") or "/sbin/ldconfig"
    listing = subprocess.run([ldconfig, "-p"], capture_output=True, text=True).stdout
    return sorted({os.path.realpath(line.split(" => ")[-1]) for line in listing.splitlines()
                   if line.split()[:1] == ["libdivsufsort.so.3"]})


@pytest.fixture(scope="session")
def without_system_library():
    """Wraps a command so it runs in a private mount namespace in which
    /dev/null covers every copy of the system's libdivsufsort."""
    mounts = "".join(f"mount --bind /dev/null {shlex.quote(path)} && " for path in _system_libraries())
    if shutil.which("unshare") is None:
        pytest.skip("unshare is not installed")
    # Root may unshare directly; others (or root in a confined container) need
    # a user namespace, in which they are root.
    for unshare in (["unshare", "-m"], ["unshare", "-m", "-r"]):
        def wrap(command, unshare=unshare):
            return [*unshare, "sh", "-c", mounts + 'exec "$@"', "sh", *map(str, command)]

        trial = subprocess.run(wrap(["true"]), capture_output=True, text=True)
        if trial.returncode == 0:
            return wrap
    pytest.skip(f"no private mount namespace here to hide libdivsufsort in: {trial.stderr.strip()}")


def test_wheel_works_without_system_library(cpython, wheel_venv, without_system_library):
    rng = random.Random(14)
    seq = "".join(rng.choices("ACGT", k=6000))  # long enough for the library's suffix sorter
    calls = [
        ("factorization", [seq], {}),
        ("h", [seq], {"log_base": 2}),
        ("emc", [seq[:3000]], {"max_block_size": 6}),
        ("nid", [seq, seq[::-1]], {}),
        ("lz76", [seq[:2500]], {}),
    ]
    job = {"calls": calls, "cli_input": "0110101\n"}
    python = wheel_venv(cpython)
    run = subprocess.run(without_system_library([python, "-c", PROBE]), input=json.dumps(job),
                         capture_output=True, text=True, cwd=python.parent, timeout=300,
                         env={k: v for k, v in os.environ.items() if not k.startswith("PYTHON")})
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout)

    assert not out["system_library"]
    assert Path(out["module"]).is_relative_to(out["prefix"])
    assert out["versions"] == [VERSION, VERSION]
    assert "parsimetrics" in out["extensions"]
    expected = [getattr(pm, name)(*args, **kwargs) for name, args, kwargs in calls]
    assert out["results"] == json.loads(json.dumps(expected))
    status, stdout, stderr = out["cli"]
    assert status == 0, stderr
    assert json.loads(stdout)["complexity"] == pm.factorization("0110101")[0]


def test_wheel_holds_only_the_installed_package(wheel_path):
    assert re.fullmatch(rf"parsimetrics-{re.escape(VERSION)}-cp311-abi3-manylinux_[\w.]+_x86_64\.whl",
                        wheel_path.name)
    names = zipfile.ZipFile(wheel_path).namelist()
    assert {name.split("/")[0] for name in names} <= {
        "parsimetrics.abi3.so", "parsimetrics.pyi", "parsimetrics-stubs", "parsimetrics.libs",
        "parsimetrics_tools", f"parsimetrics-{VERSION}.dist-info",
    }
    assert any(re.fullmatch(r"parsimetrics\.libs/libdivsufsort-\w+\.so\.3[.\d]*", name) for name in names)
    assert not [name for name in names
                if re.search(r"(^|/)(tests?|examples|build)/|(^|/)(test_|conftest)|CMake|\.cmake$|\.o$", name)]


def test_sdist_names_the_missing_library(wheel_path, tmp_path):
    sdist = wheel_path.parent / f"parsimetrics-{VERSION}.tar.gz"
    cmake = shutil.which("cmake")
    if not sdist.exists() or cmake is None:
        pytest.skip("needs the sdist beside the wheel and cmake")
    with tarfile.open(sdist) as archive:
        archive.extractall(tmp_path, filter="data")
    # Every search for headers and libraries rooted in an empty directory.
    empty = tmp_path / "empty"
    empty.mkdir()
    configure = subprocess.run(
        [cmake, "-S", tmp_path / f"parsimetrics-{VERSION}", "-B", tmp_path / "build", "-DPARSIMETRICS_PYTHON=OFF",
         f"-DCMAKE_FIND_ROOT_PATH={empty}", "-DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY",
         "-DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY"],
        capture_output=True, text=True,
    )
    assert configure.returncode != 0
    assert "libdivsufsort-dev" in configure.stderr


def test_sdist_of_a_clone_with_a_virtual_environment(tmp_path):
    """The usual `python -m venv .venv` inside the clone (its interpreter a
    link to an absolute path), a build tree and a module built in place stay
    out of the sdist: it holds tracked files only, and unpacks safely."""
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "-z"], capture_output=True)
    if listed.returncode != 0:
        pytest.skip("not a git checkout")
    tracked = set(filter(None, listed.stdout.decode().split("\0")))
    clone = tmp_path / "clone"
    for name in tracked:
        if (ROOT / name).is_file():
            (clone / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, clone / name)
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", clone / ".venv"], check=True)
    for stray in ("build/cp311-abi3-linux_x86_64/CMakeCache.txt", "py/parsimetrics_tools/_native.abi3.so",
                  "py/parsimetrics_tools/__pycache__/cli.cpython-311.pyc"):
        (clone / stray).parent.mkdir(parents=True, exist_ok=True)
        (clone / stray).write_bytes(b"\x7fELF")
    subprocess.run([sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", tmp_path / "dist", clone],
                   check=True, capture_output=True)
    with tarfile.open(tmp_path / "dist" / f"parsimetrics-{VERSION}.tar.gz") as archive:
        archive.extractall(tmp_path / "unpacked", filter="data")
        names = {name.split("/", 1)[1] for name in archive.getnames() if "/" in name}
    assert names - tracked == {"PKG-INFO"}
    assert "CMakeLists.txt" in names and any(name.startswith("core/src/") for name in names)
