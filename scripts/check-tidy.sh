#!/bin/sh
# Runs clang-tidy with the repository's .clang-tidy over the product code
# (src/) as the build compiles it, from the build's compile_commands.json;
# fails on any finding.
#   BUILD_DIR   the build to take the compile commands from (build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "check-tidy: no $build/compile_commands.json; configure the build first" >&2
  exit 2
fi
start=$(date +%s)
# One clang-tidy per core over every file under src/ (each once, whichever
# target compiles it); a finding makes it exit non-zero.
run-clang-tidy -p "$build" -j"$(nproc)" -quiet "^$PWD/src/" >"$build/tidy.log" 2>&1 || {
  sed 's/\x1b\[[0-9;]*m//g' "$build/tidy.log" | grep -E "(warning|error):" | sort -u
  echo "check-tidy: findings above (the whole output is in $build/tidy.log)"
  exit 1
}
echo "tidy: src/ clean in $(($(date +%s) - start)) s"
