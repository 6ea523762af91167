#!/usr/bin/env bash
# Builds and runs the test suite (after tools/provision.sh):
#   core    the core's GoogleTest suite through CTest
#   asan    the same under AddressSanitizer with UndefinedBehaviorSanitizer
#   tsan    the worker pool and its callers under ThreadSanitizer
#   python  the wheels built from these sources, this machine's installed,
#           then pytest (a short fuzz run against a coverage-instrumented
#           build of the module, and both wheels in fresh environments, the
#           aarch64 one under emulation)
# With no arguments every step runs, in this order; otherwise the steps named.
# A new step is a function step_NAME here and its NAME in `all_steps`.
set -euo pipefail
cd "$(dirname "$0")/.."

all_steps="core asan tsan python"

for tool in cmake ninja; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool not found: run tools/provision.sh first" >&2
    exit 1
  fi
done

# Configures and builds a core test tree: build directory, sanitizer, targets.
core_build() {
  cmake -S . -B "$1" -G Ninja -DPARSIMETRICS_PYTHON=OFF -DPARSIMETRICS_TESTS=ON \
    -DPARSIMETRICS_SANITIZE="$2" >/dev/null
  cmake --build "$1" -j2 --target $3
}

step_core() {
  core_build build/core-tests "" all
  ctest --test-dir build/core-tests --output-on-failure -j2
}

# Any report fails the test that caused it.
step_asan() {
  core_build build/asan address all
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j2
}

# The pool itself, the measures and batches that hand tasks (and
# per-worker scratch) to it, the scan that splits one text over two, and
# the suffix sorts that do (suites BucketSort and InductionOnTwoThreads of
# suffix_array_test), and the factorization whose walk two threads share
# or whose arrays one faults in while the other sorts (lz76_test).
step_tsan() {
  local programs="pool_test shuffle_test measures_test batch_test lpf_test"
  local shared_walk="FastFactorize\\.(AgreesWithReferenceOnOneAndTwoThreads|WalkByBlocksAgreesWithReference|ArraysFaultedInWhileSortingKeepTheResult)$"
  core_build build/tsan thread "$programs suffix_array_test lz76_test"
  local suites
  suites=$( (for t in $programs; do build/tsan/core/$t --gtest_list_tests; done; echo BucketSort.; echo InductionOnTwoThreads.) |
    sed -n 's/^\([^ ].*\)\.$/\1/p' | paste -sd'|')
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan --output-on-failure -j2 -R "^(($suites)\.|$shared_walk)"
}

step_python() {
  # The wheels users install, each built once for the whole run: the suite
  # tests this machine's, installed here in place of any earlier build, and
  # tests/test_wheel.py installs both into fresh environments.
  local wheels
  wheels=$(bash tools/build_wheel.sh x86_64 aarch64)
  PARSIMETRICS_WHEEL_X86_64="$PWD/$(grep '_x86_64\.whl$' <<<"$wheels")"
  PARSIMETRICS_WHEEL_AARCH64="$PWD/$(grep '_aarch64\.whl$' <<<"$wheels")"
  export PARSIMETRICS_WHEEL_X86_64 PARSIMETRICS_WHEEL_AARCH64
  local native="PARSIMETRICS_WHEEL_$(uname -m | tr a-z A-Z)"
  python3 -m pip install -q --no-deps --force-reinstall "${!native}"
  # The module with clang's coverage counters, which guide the fuzz run of
  # tests/test_fuzz.py (fuzz/run.sh is the long run).
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DPython_EXECUTABLE="$(command -v python3)" \
    -DCMAKE_CXX_FLAGS="-fsanitize-coverage=inline-8bit-counters,pc-table,trace-cmp" >/dev/null
  cmake --build build/fuzz -j2 --target parsimetrics
  PARSIMETRICS_FUZZ_MODULE="$PWD/build/fuzz/py" python3 -m pytest -q
}

for step in ${@:-$all_steps}; do
  case " $all_steps " in
    *" $step "*) "step_$step" ;;
    *) echo "unknown step '$step' (steps: $all_steps)" >&2; exit 2 ;;
  esac
done
