#!/usr/bin/env bash
# Builds the documentation site into docs/_build/html from the installed
# package (pip install . first), offline, with every warning an error.  The
# gallery's examples run as part of the build.  Every build starts afresh, so
# that every page is read again (and warns again) and every example runs
# against the package as it is now.  Extra arguments go to sphinx-build.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! python3 -c "import parsimetrics, parsimetrics_tools" 2>/dev/null; then
  echo "parsimetrics is not installed: run 'pip install .' first" >&2
  exit 1
fi
# One thread per process for the examples' BLAS calls; the measures use the pool.
export OMP_NUM_THREADS=1 MPLBACKEND=Agg
rm -rf docs/_build docs/_generated
python3 -m sphinx -b html -W --keep-going -q "$@" docs docs/_build/html
echo "docs/_build/html/index.html"
