#!/usr/bin/env bash
# Installs what the test suite needs and runs all of it: the core's
# GoogleTest suite through CTest, then the Python tests through pytest.
set -euo pipefail
cd "$(dirname "$0")/.."

packages="libdivsufsort-dev libgtest-dev"
if ! dpkg -s $packages >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq $packages
fi

# CMake 3.26+ (stable-ABI modules) and Ninja come from PyPI, not the distribution.
python3 -m pip install -q "cmake>=3.26" ninja
python3 -m pip install -q ".[test]"

cmake -S . -B build/core-tests -G Ninja -DPARSIMETRICS_PYTHON=OFF -DPARSIMETRICS_TESTS=ON >/dev/null
cmake --build build/core-tests -j2
ctest --test-dir build/core-tests --output-on-failure -j2

python3 -m pytest -q
