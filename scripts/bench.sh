#!/bin/sh
# Builds zolbench and runs it; the figures go to standard output as Markdown.
#   scripts/bench.sh           the full figures (about 15 minutes)
#   scripts/bench.sh --quick   every figure, shortened (about 2.5 minutes)
#   scripts/bench.sh --check   the CI check (see scripts/perf-check.sh)
set -eu
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target zolbench
exec build/bench/zolbench "$@"
