"""Shared test machinery: the CPython interpreters of this machine, a way
for each of them to import the module under test, and the installable wheel
in fresh virtual environments."""

import functools
import glob
import os
import platform
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import parsimetrics


@functools.cache
def cpython_interpreters():
    """{(3, minor): executable} for every CPython 3.11+ found: this one,
    pyenv's versions and python3.N on PATH (one executable per version)."""
    root = os.environ.get("PYENV_ROOT") or os.path.expanduser("~/.pyenv")
    candidates = [sys.executable, *sorted(glob.glob(os.path.join(root, "versions", "*", "bin", "python3")))]
    candidates += filter(None, (shutil.which(f"python3.{minor}") for minor in range(11, 20)))
    found = {}
    for exe in candidates:
        try:
            out = subprocess.run([exe, "-c", "import platform, sys; print(platform.python_implementation(), "
                                  "*sys.version_info[:2])"], capture_output=True, text=True, timeout=60).stdout
        except (OSError, subprocess.TimeoutExpired):
            continue
        name, *version = out.split() or [""]
        if name == "CPython" and tuple(map(int, version)) >= (3, 11):
            found.setdefault(tuple(map(int, version)), exe)
    return dict(sorted(found.items()))


def pytest_generate_tests(metafunc):
    # A test taking `cpython` runs once per interpreter.
    if "cpython" in metafunc.fixturenames:
        found = cpython_interpreters()
        metafunc.parametrize("cpython", list(found.values()), ids=[f"{a}.{b}" for a, b in found])


@pytest.fixture(scope="session")
def module_only_path(tmp_path_factory):
    """A directory holding the module under test and nothing else, for the
    PYTHONPATH of another interpreter: every CPython 3.11+ imports the same
    abi3 build without this interpreter's site-packages."""
    path = tmp_path_factory.mktemp("module-only")
    os.symlink(parsimetrics.__file__, path / os.path.basename(parsimetrics.__file__))
    return path


@pytest.fixture(scope="session")
def wheel_of():
    """wheel_of(arch) -> the repaired wheel for x86_64 or aarch64:
    $PARSIMETRICS_WHEEL_<ARCH> (tools/test.sh builds both once for the whole
    run), else built here by tools/build_wheel.sh."""
    found = {}

    def get(arch):
        if arch not in found:
            given = os.environ.get(f"PARSIMETRICS_WHEEL_{arch.upper()}")
            if not given:
                root = Path(__file__).resolve().parent.parent
                given = subprocess.run(["bash", str(root / "tools/build_wheel.sh"), arch], stdout=subprocess.PIPE,
                                       text=True, check=True, cwd=root).stdout.split()[-1]
            found[arch] = Path(given).resolve()
        return found[arch]

    return get


@pytest.fixture(scope="session")
def wheel_path(wheel_of):
    """The wheel for this machine."""
    return wheel_of(platform.machine())


@pytest.fixture(scope="session")
def wheel_venv(wheel_path, tmp_path_factory):
    """wheel_venv(python) -> the interpreter of a new virtual environment made
    from `python` with only the wheel (and its dependencies) installed; one
    per interpreter for the whole session.  This interpreter's pip installs
    into it, without byte-compiling (NumPy's files would take longer than
    the tests)."""
    made = {}

    def make(python=sys.executable):
        if python not in made:
            root = tmp_path_factory.mktemp("venv")
            subprocess.run([python, "-m", "venv", "--without-pip", str(root)], check=True)
            subprocess.run([sys.executable, "-m", "pip", "--python", str(root / "bin/python"), "install",
                            "-q", "--disable-pip-version-check", "--no-compile", str(wheel_path)], check=True)
            made[python] = root / "bin/python"
        return made[python]

    return make
