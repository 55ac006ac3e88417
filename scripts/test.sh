#!/bin/sh
# Builds everything and runs every test: the suite, the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer, the
# fuzz targets for a bounded time, and the performance check; the full run
# also builds and checks the Debian package, its manual and systemd unit.
#   --quick   the suite alone (a couple of minutes)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

suite() {
  echo "=== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
  # Timing tests on a loaded two-core machine (sanitizers slow everything
  # down several times) get a second chance; a real fault fails twice.
  ctest --preset "$1" -j"$jobs" --repeat until-pass:2
}

suite default
[ "${1:-}" = "--quick" ] && exit 0
echo "=== package"
scripts/check-package.sh
suite asan
suite tsan
echo "=== fuzz"
scripts/fuzz.sh "${ZOL_FUZZ_SECONDS:-60}"
if [ -x scripts/perf-check.sh ]; then
  echo "=== performance"
  scripts/perf-check.sh
fi
echo "=== all tests passed"
