#!/usr/bin/env bash
# Installs what the test suite needs and runs all of it: the core's
# GoogleTest suite through CTest, again under AddressSanitizer with
# UndefinedBehaviorSanitizer, the worker pool's tests under ThreadSanitizer,
# then the Python tests through pytest (with a short fuzz run against a
# coverage-instrumented build of the module).
set -euo pipefail
cd "$(dirname "$0")/.."

packages="libdivsufsort-dev libgtest-dev clang"
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

sanitized() {  # build directory, sanitizer, build target
  cmake -S . -B "$1" -G Ninja -DPARSIMETRICS_PYTHON=OFF -DPARSIMETRICS_TESTS=ON \
    -DPARSIMETRICS_SANITIZE="$2" >/dev/null
  cmake --build "$1" -j2 --target $3
}
# Any report fails the test that caused it.
sanitized build/asan address all
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j2
# The pool itself, and the measures and batches that hand tasks (and per-worker scratch) to it.
sanitized build/tsan thread "pool_test shuffle_test measures_test batch_test"
suites=$(for t in pool_test shuffle_test measures_test batch_test; do build/tsan/core/$t --gtest_list_tests; done |
  sed -n 's/^\([^ ].*\)\.$/\1/p' | paste -sd'|')
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j2 -R "^($suites)\."

# The module with clang's coverage counters, which guide the fuzz run of
# tests/test_fuzz.py (fuzz/run.sh is the long run).
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DPython_EXECUTABLE="$(command -v python3)" \
  -DCMAKE_CXX_FLAGS="-fsanitize-coverage=inline-8bit-counters,pc-table,trace-cmp" >/dev/null
cmake --build build/fuzz -j2 --target parsimetrics

# The wheel users install, built once for the tests that install it into
# fresh environments (tests/test_wheel.py).
PARSIMETRICS_WHEEL="$PWD/$(bash tools/build_wheel.sh)"
export PARSIMETRICS_WHEEL

PARSIMETRICS_FUZZ_MODULE="$PWD/build/fuzz/py" python3 -m pytest -q
