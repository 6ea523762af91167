"""Shared test machinery: the CPython interpreters of this machine and a
way for each of them to import the module under test."""

import functools
import glob
import os
import shutil
import subprocess
import sys

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
