#!/bin/sh
# The Windows build under wine: cross-builds zolsampler.exe and its unit
# tests (preset windows, warnings as errors, as the CI builds), runs the
# tests against a loop-back pseudo-terminal linked as COM1, then runs the
# .exe end to end against zolsim (the Linux build's simulator, linked as
# COM1 and COM2) with the console on pipes:
# a run with CTD and pump sample next to the Linux build's run of the same
# seed (their data files compared), a run without CTD (steered by
# zolctl.exe over its control pipe: status, sample, terminal, follow), a
# missing port, and
# the ZOL's port taken away and brought back (reopened by the service);
# then the keys typed on a console rather than a pipe, and zolview.exe next
# to the Linux zolview (scripts/windows-view-check.sh).
#   --idle   also measures the CPU used while a measurement is awaited
set -eu
cd "$(dirname "$0")/.."
root=$PWD

# The MQTT link's library, cross-built once per version of its Debian source.
mosquitto=$(scripts/build-mosquitto-windows.sh)
cmake --preset windows -DZOL_MOSQUITTO_PREFIX="$mosquitto" >/dev/null

echo "=== windows: build"
cmake --preset windows -DZOL_WERROR=ON >/dev/null
cmake --build --preset windows --target zolsampler zolctl windows_tests
if [ ! -x build/src/sim/zolsim ] || [ ! -x build/zolsampler ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target zolsim zolsampler
fi

export WINEPREFIX="$root/build-windows/wineprefix" WINEDEBUG=-all
[ -d "$WINEPREFIX/dosdevices" ] || wineboot -i >/dev/null 2>&1
dev=$WINEPREFIX/dosdevices
work=$(mktemp -d /tmp/zol-windows-XXXXXX)
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -f "$dev/com1" "$dev/com2" "$dev/com8"
  rm -rf "$work"
}
trap cleanup EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
# One wine server for all runs, kept up (-p) once the one of the prefix's
# set-up has ended. It sets up its devices (COM1 as /dev/ttyS0) when it
# starts, so the links of the tests are made after that.
wineserver -w
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1
rm -f "$dev/com1" "$dev/com2" "$dev/com8" "$dev/com9" "$dev/com200" "$dev/com256"

echo "=== windows: unit tests"
python3 tests/windows/pty_echo.py "$dev/com1" >/dev/null &
pids="$pids $!"
: >"$work/plain"
ln -s "$work/plain" "$dev/com8"
tries=0
while [ ! -L "$dev/com1" ] && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
# Tests of what only Linux does skip themselves here. The runtime under wine
# keeps the dates of daylight saving across _tzset in one process, so the
# zone tests run alone.
tests=build-windows/tests/windows_tests.exe
ZOL_TEST_ECHO_COM=1 ZOL_TEST_FILE_COM=8 wine $tests --gtest_filter="-WindowsTimeZone*" </dev/null
wine $tests --gtest_filter="WindowsTimeZone*" </dev/null
# The line files under a file-size limit of 64 KiB (dash's ulimit -f counts
# 512-byte blocks), a full disk as the runtime sees one. SIGXFSZ ignored:
# wine would die of it. The wine server, already up, is not limited. The
# output goes through a pipe, which the limit does not reach, should this
# script's output be a file already past it.
(
  trap '' XFSZ
  ulimit -f 128
  ZOL_TEST_FILE_SIZE_LIMIT=65536 wine $tests --gtest_filter="WindowsLineFile*" </dev/null
  echo passed >"$work/limited"
) 2>&1 | cat
[ -f "$work/limited" ]
# shellcheck disable=SC2086  # a list of process ids
kill $pids
pids=""
rm -f "$dev/com1" "$dev/com8"

echo "=== windows: end to end"
e2e() {
  python3 tests/windows/e2e_run.py --zolsim build/src/sim/zolsim "$@"
}
windows_e2e() {
  e2e --windows --sampler "wine $root/build-windows/zolsampler.exe" --links "$dev" "$@"
}
mkdir -p "$work/links"
# The Linux build's run of the same seed goes alongside.
e2e --sampler "$root/build/zolsampler" --links "$work/links" --work "$work/linux" ctd &
linux=$!
pids="$linux"
# The run with CTD also has the MQTT link, to a broker on 127.0.0.1: its
# data lines must arrive, in order (tests/windows/mqtt_run.py).
python3 tests/windows/mqtt_run.py --zolsim build/src/sim/zolsim --windows --links "$dev" \
  --sampler "wine $root/build-windows/zolsampler.exe" --work "$work/windows" ctd
wait "$linux"
pids=""
e2e --sampler - --links - --work "$work/windows" --compare "$work/linux" compare
windows_e2e --work "$work/windows" --zolctl "wine $root/build-windows/zolctl.exe" no-ctd
windows_e2e --work "$work/windows" missing-port
windows_e2e --work "$work/windows" unplug
# On wine's own console (a pseudo-terminal): Backspace, a cursor key, CTRL+Z.
python3 tests/windows/console_keys_run.py --sampler "wine $root/build-windows/zolsampler.exe" \
  --links "$dev" --zolsim build/src/sim/zolsim --work "$work/windows"
if [ "${1:-}" = "--idle" ]; then
  e2e --sampler "$root/build/zolsampler" --links "$work/links" --work "$work/linux" idle
  windows_e2e --work "$work/windows" idle
fi
sh scripts/windows-view-check.sh
scripts/windows-service-check.sh "$work"
echo "=== windows: passed"
