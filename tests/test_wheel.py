"""The distributions users install: the wheels (manylinux_2_17, x86-64 and
aarch64) hold nothing but the package, need nothing beyond their tag, work
on a machine without libdivsufsort on every CPython from 3.11 up and agree
bit for bit across the two architectures; the sdist holds the build's files
only and says which package a source build lacks."""

import importlib.resources
import json
import os
import platform
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
from tests.conftest import cpython_interpreters

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


def _beyond_policy(path, tag):
    """What the shared object at `path` needs beyond the manylinux `tag`
    (such as manylinux_2_17_x86_64), by auditwheel's policy table: libraries
    the policy does not provide and symbol versions newer than it allows."""
    from elftools.elf.elffile import ELFFile

    name, arch = re.fullmatch(r"(manylinux_\d+_\d+)_(\w+)", tag).groups()
    table = json.loads((importlib.resources.files("auditwheel.policy") / "manylinux-policy.json").read_text())
    policy = next(p for p in table if p["name"] == name)
    with open(path, "rb") as f:
        elf = ELFFile(f)
        needed = [t.needed for t in elf.get_section_by_name(".dynamic").iter_tags() if t.entry.d_tag == "DT_NEEDED"]
        versions = [aux.name for _, auxes in elf.get_section_by_name(".gnu.version_r").iter_versions()
                    for aux in auxes]
    # The dynamic loader is every program's, not a dependency to provide.
    libraries = {lib for lib in needed if lib not in policy["lib_whitelist"] and not lib.startswith("ld-linux")}
    newer = {v for v in versions
             if v.rpartition("_")[2] not in policy["symbol_versions"][arch].get(v.rpartition("_")[0], ())}
    return sorted(libraries | newer)


@pytest.mark.parametrize("arch", ["x86_64", "aarch64"])
def test_wheel_is_self_contained_within_manylinux_2_17(arch, wheel_of, tmp_path):
    wheel = wheel_of(arch)
    tag = f"manylinux_2_17_{arch}"
    prefix = f"parsimetrics-{VERSION}-cp311-abi3-"
    assert wheel.name.startswith(prefix) and wheel.name.endswith(".whl")
    platforms = set(wheel.name[len(prefix):-4].split("."))
    assert tag in platforms and platforms <= {tag, f"manylinux2014_{arch}"}
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        archive.extractall(tmp_path)
    assert {name.split("/")[0] for name in names} <= {
        "parsimetrics.abi3.so", "parsimetrics.pyi", "parsimetrics-stubs", "parsimetrics_tools",
        f"parsimetrics-{VERSION}.dist-info",
    }
    assert not [name for name in names
                if re.search(r"(^|/)(tests?|examples|build)/|(^|/)(test_|conftest)|CMake|\.cmake$|\.o$", name)]
    # Both modules, each with libdivsufsort and the C++ runtime inside.
    modules = sorted(name for name in names if name.endswith(".so"))
    assert modules == ["parsimetrics.abi3.so", "parsimetrics_tools/_native.abi3.so"]
    assert {module: _beyond_policy(tmp_path / module, tag) for module in modules} == dict.fromkeys(modules, [])
    # The logarithm is the C library's, as in every other build (a copy in
    # the compiler's runtime library once took its place on x86-64 only).
    from elftools.elf.elffile import ELFFile

    for module in modules:
        with open(tmp_path / module, "rb") as f:
            imported = {s.name for s in ELFFile(f).get_section_by_name(".dynsym").iter_symbols()
                        if s["st_shndx"] == "SHN_UNDEF"}
        assert "log" in imported, module
    shown = subprocess.run([sys.executable, "-m", "auditwheel", "show", wheel], capture_output=True, text=True)
    assert f'consistent with the following platform tag: "{tag}"' in " ".join(shown.stdout.split()), shown.stdout


# The control: a module built against this machine's C library and C++
# runtime (as the wheel once was, tagged manylinux_2_35) has symbol versions
# within its own tag and beyond manylinux_2_17.  (Its libdivsufsort is left
# aside: auditwheel copied that into the wheel.)
@pytest.mark.parametrize("tag, passes", [("manylinux_2_17_x86_64", False), ("manylinux_2_35_x86_64", True)])
def test_policy_check_of_a_module_built_against_this_machine(tag, passes):
    built = os.environ.get("PARSIMETRICS_FUZZ_MODULE")
    if not built or platform.machine() != "x86_64":
        pytest.skip("needs the module tools/test.sh builds with this machine's compiler")
    (module,) = Path(built).glob("parsimetrics*.so")
    versions = [v for v in _beyond_policy(module, tag) if ".so" not in v]
    assert (versions == []) == passes, versions
    if not passes:
        assert any(v.startswith(("GLIBC_2.3", "GLIBCXX_")) for v in versions), versions


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


# Runs in each architecture's interpreter, with only the standard library and
# the directory it is given (the wheel and its dependencies) on its path.  The
# inputs reach every sorter (libdivsufsort from 2^17 symbols) and the
# surrogates of emc (the ChaCha8 keystream); floats are compared by their bits.
ACROSS = r"""
import contextlib, io, json, random, sys
sys.path.insert(0, sys.argv[1])
import numpy as np
import parsimetrics as pm
from parsimetrics_tools import many, profile
from parsimetrics_tools.cli import main

def bits(value):
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, np.ndarray):
        return bits(value.tolist())
    if isinstance(value, dict):
        return {key: bits(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [bits(item) for item in value]
    return value

rng = random.Random(24)
dna = "".join(rng.choices("ACGT", k=140_000))
coin = bytes(rng.choices(b"01", weights=[3, 1], k=3000))
walk = np.cumsum(np.array([rng.choice((-1, 1)) for _ in range(5000)]))
texts = ["banana", "abracadabra" * 40, dna[:700], "ελληνικά" * 30]
out = {
    "factorization": [pm.factorization(s) for s in (dna, coin, walk, *texts)],
    "h": [pm.h(s) for s in (dna, coin, walk, *texts)] + [pm.h(dna[:5000], log_base=2)],
    "emc": [pm.emc(coin, max_block_size=5), pm.emc(dna[:2000]), pm.emc(walk[:800], max_block_size=3)],
    "nid": [pm.nid(dna[:4000], dna[2000:6000]), pm.nid(coin, coin[::-1]), pm.nid(texts[1], texts[3])],
    "lz76": [pm.lz76(s) for s in (dna[:20000], coin, *texts)],
    "many": [many("h", texts), many("emc", [coin, dna[:900]], max_block_size=4),
             many("factorization", np.array([[0, 1, 1, 0] * 50, [1, 1, 1, 0] * 50]))],
    "profile": [profile(coin, 500, 250), profile(dna[:8000], 2000, measure="emc", max_block_size=3),
                profile(walk % 5, 1000, 400, measure="complexity")],
}
commands = {"analyze": ["analyze", "--json", "-m", "lz76", "-"], "emc": ["analyze", "--json", "-m", "emc", "-"]}
for name, argv in commands.items():
    sys.stdin = io.TextIOWrapper(io.BytesIO((dna[:3000] + "\n").encode()))
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        try:
            status = main(argv)
        except SystemExit as e:
            status = e.code
    out["cli " + name] = [status, bits(json.loads(printed.getvalue()))]
print(json.dumps(bits(out)))
"""

# Debian's arm64 CPython 3.11 and the libraries it and the wheels load.
ARM64_PACKAGES = ["python3.11-minimal", "libpython3.11-minimal", "libpython3.11-stdlib", "libc6", "libgcc-s1",
                  "libstdc++6", "zlib1g", "libexpat1", "libffi8", "libbz2-1.0", "liblzma5"]


def _run_across(command, site, timeout):
    run = subprocess.run([*command, "-S", "-c", ACROSS, site], capture_output=True, text=True, timeout=timeout,
                         cwd=site, env={k: v for k, v in os.environ.items() if not k.startswith("PYTHON")})
    assert run.returncode == 0, run.stderr[-4000:]
    return json.loads(run.stdout)


def test_aarch64_wheel_agrees_with_x86_64_bit_for_bit(wheel_of, tmp_path):
    qemu = shutil.which("qemu-aarch64-static")
    python311 = cpython_interpreters().get((3, 11))
    if platform.machine() != "x86_64" or qemu is None or python311 is None:
        pytest.skip("needs an x86-64 machine with qemu-user-static and CPython 3.11")
    root = ROOT / "build/wheel-test/arm64-root"
    if not (root / "packages").exists() or (root / "packages").read_text() != " ".join(ARM64_PACKAGES):
        shutil.rmtree(root, ignore_errors=True)
        subprocess.run(["bash", ROOT / "tools/debian.sh", "unpack", "arm64", root, *ARM64_PACKAGES], check=True)
        (root / "packages").write_text(" ".join(ARM64_PACKAGES))
    # The wheel's dependencies but dnaio, which has no aarch64 wheels (pip
    # builds it there from source) and which only FASTQ input needs.
    with zipfile.ZipFile(wheel_of("aarch64")) as archive:
        metadata = archive.read(f"parsimetrics-{VERSION}.dist-info/METADATA").decode()
    requires = [line.split(":", 1)[1].strip() for line in metadata.splitlines()
                if line.startswith("Requires-Dist:") and "extra ==" not in line and "dnaio" not in line]
    sites = {}
    for arch in ("x86_64", "aarch64"):
        # Wheels for Debian 12's glibc (2.36) and older.
        platforms = [f"--platform=manylinux2014_{arch}", *(f"--platform=manylinux_2_{m}_{arch}" for m in range(17, 37))]
        sites[arch] = tmp_path / arch
        pip = [sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check", "--no-compile",
               "--target", sites[arch], "--python-version", "3.11", "--only-binary=:all:", *platforms]
        subprocess.run([*pip, "--no-deps", wheel_of(arch)], check=True)
        subprocess.run([*pip, *requires], check=True)
    native = _run_across([python311], sites["x86_64"], timeout=300)
    emulated = _run_across([qemu, "-L", root, root / "usr/bin/python3.11"], sites["aarch64"], timeout=900)
    assert {key: value for key, value in emulated.items() if native[key] != value} == {}
