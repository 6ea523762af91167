#!/usr/bin/env bash
# The long fuzz run of the five module functions (the fuzz package beside this script).
#
#   fuzz/run.sh [SECONDS] [libFuzzer options ...]   fuzz for SECONDS (default 3600)
#   fuzz/run.sh --coverage                          line coverage of the corpus so far
#
# The module is built with clang's coverage counters into build/fuzz, so the
# fuzzer is guided by the native code it reaches as well as by the kinds of
# objects it generates.  The corpus grows in build/fuzz-corpus across runs;
# whatever fails lands in build/fuzz-artifacts as crash-*, and
#   PYTHONPATH=build/fuzz/py python3 -m fuzz build/fuzz-artifacts/crash-...
# replays it.  Needs clang (apt-get install clang) and `pip install atheris numpy`.
set -euo pipefail
cd "$(dirname "$0")/.."

corpus=build/fuzz-corpus
artifacts=build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts"

if [ "${1:-}" = "--coverage" ]; then
  # gcc's line counters, written when the replaying interpreter exits.
  cmake -S . -B build/fuzz-gcov -G Ninja -DPython_EXECUTABLE="$(command -v python3)" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -O1" >/dev/null
  cmake --build build/fuzz-gcov -j2 --target parsimetrics
  find build/fuzz-gcov -name '*.gcda' -delete
  PYTHONPATH=build/fuzz-gcov/py python3 -m fuzz "$corpus" -runs=0 2>&1 | grep -E "INITED|DONE" || true
  objects=$(find build/fuzz-gcov -name '*.gcda' -printf '%h\n' | sort -u)
  (cd build/fuzz-gcov && for dir in $objects; do gcov -n -o "${dir#build/fuzz-gcov/}" "${dir#build/fuzz-gcov/}"/*.gcda; done) 2>/dev/null |
    awk '/^File .*(core\/src|py\/src)\// {file=$2} /^Lines executed/ && file {print file, $0; file=""}'
  exit 0
fi

seconds=${1:-3600}
shift || true
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DPython_EXECUTABLE="$(command -v python3)" \
  -DCMAKE_CXX_FLAGS="-fsanitize-coverage=inline-8bit-counters,pc-table,trace-cmp" >/dev/null
cmake --build build/fuzz -j2 --target parsimetrics
PYTHONPATH=build/fuzz/py exec python3 -m fuzz "$corpus" -max_total_time="$seconds" -timeout=60 \
  -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" "$@"
