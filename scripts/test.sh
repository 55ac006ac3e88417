#!/bin/sh
# Builds everything and runs every test: the suite, the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer, the
# fuzz targets for a bounded time, and the performance check; the full run
# also runs clang-tidy over src/, builds and checks the Debian package, its
# manual and systemd unit, and the Windows build under wine. Both runs check
# the layering, the format and the shell scripts first; the CI builds take
# warnings as errors.
#   --quick   the unit tests alone, without the slow and real-time ones
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

# The CI builds turn warnings in the project's code into errors.
build() {
  echo "=== $1"
  cmake --preset "$1" -DZOL_WERROR=ON >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

# Unit tests run once: one that fails now and then is a fault to find. Only
# the tests labelled realtime, which hold real deadlines on pseudo-terminals
# (a loaded two-core machine under a sanitizer can miss one), get a second
# run; a real fault fails both.
suite() {
  build "$1"
  ctest --preset "$1" -j"$jobs" --no-tests=error -LE realtime
  ctest --preset "$1" -j"$jobs" --no-tests=error -L realtime --repeat until-pass:2
}

scripts/check-layers.sh
scripts/check-format.sh
scripts/check-shell.sh
if [ "${1:-}" = "--quick" ]; then
  build default
  exec ctest --preset default -j"$jobs" --no-tests=error -LE "slow|realtime"
fi
suite default
echo "=== tidy"
scripts/check-tidy.sh build
echo "=== package"
package_dir=$(mktemp -d "${TMPDIR:-/tmp}/zolsampler-deb.XXXXXX")
trap 'rm -rf "$package_dir"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
ZOL_PACKAGE_DIR=$package_dir scripts/check-package.sh
echo "=== service"
ZOL_PACKAGE_DIR=$package_dir scripts/check-service.sh
rm -rf "$package_dir"
scripts/windows-check.sh
suite asan
suite tsan
echo "=== fuzz"
scripts/fuzz.sh "${ZOL_FUZZ_SECONDS:-30}"
if [ -x scripts/perf-check.sh ]; then
  echo "=== performance"
  scripts/perf-check.sh
fi
echo "=== all tests passed"
