#!/bin/sh
# Fails when a C++ source differs from what clang-format makes of it (the
# repository's .clang-format); `clang-format -i FILE` mends one.
set -eu
cd "$(dirname "$0")/.."
find src tests fuzz bench \( -name '*.cpp' -o -name '*.h' \) -print | sort |
  xargs clang-format --dry-run -Werror
echo "format: clean"
