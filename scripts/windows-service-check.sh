#!/bin/sh
# The Windows package and service under wine, run by windows-check.sh in its
# prefix and wine server: builds the installer and the zip, installs
# silently, runs the installed zolsampler.exe -v, registers a service with
# its environment in the registry, starts it against zolsim (linked as COM1),
# kills its sampler once it has sampled and sees it started again and
# sampling, asks it for its status and a sample with zolctl.exe over its
# control pipe, stops it with net stop, checks the orderly stop and the
# files, starts it again and stops it with zolctl.exe stop (the service
# stops, not restarted), then uninstalls silently and checks the data stayed.
#   scripts/windows-service-check.sh WORK_DIR
set -eu
cd "$(dirname "$0")/.."
: "${WINEPREFIX:?run from scripts/windows-check.sh}"
work=$1
dev=$WINEPREFIX/dosdevices
name=zolcheck
fail() {
  echo "windows-service-check: $*" >&2
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed.
await() {
  tries=0
  limit=$1
  shift
  until "$@"; do
    [ $tries -lt "$limit" ] || return 1
    sleep 0.1
    tries=$((tries + 1))
  done
}
# The service's working directory, %ProgramData%\zolsampler\NAME, wherever
# the prefix puts ProgramData; sets data.
found_data() {
  data=$(find "$WINEPREFIX/drive_c/" -type d -path "*/zolsampler/$name")
  [ -n "$data" ]
}
# At least $1 lines of console.txt hold $2.
lines_at_least() {
  [ "$(grep -c "$2" "$console")" -ge "$1" ]
}
service_in_state() {
  wine sc query $name | grep -q "STATE *: $1"
}

echo "=== windows: package"
cmake --build --preset windows --target zolsampler zolctl zol_manuals
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
(cd build-windows && cpack -G "NSIS;ZIP" >/dev/null)
installer=build-windows/zolsampler-$version-win64.exe
python3 - "build-windows/zolsampler-$version-win64.zip" <<'PY'
import sys, zipfile
names = {n.split("/", 1)[1] for n in zipfile.ZipFile(sys.argv[1]).namelist()}
want = {"zolsampler.exe", "zolctl.exe", "manuals/zolsampler.1.html", "manuals/zolctl.1.html", "manuals/zolsampler-answers.5.html",
        "examples/zol42.answers", "windows-service.md"}
missing = want - names
sys.exit("the zip lacks " + ", ".join(sorted(missing)) if missing else 0)
PY

echo "=== windows: install and service"
wine "$installer" /S </dev/null
program=$(winepath -u 'C:\Program Files\zolsampler')
[ -f "$program/zolsampler.exe" ] || fail "no zolsampler.exe after the install"
[ -f "$program/zolctl.exe" ] || fail "no zolctl.exe after the install"
wine "$program/zolsampler.exe" -v </dev/null | grep -q "^WSC  version $version" ||
  fail "the installed zolsampler.exe -v gave no banner"

cat >"$work/service.answers" <<ANSWERS
serial_number = 42
sample_rate = 1
sample_mode = KIRN
sync_zol_clock = no
ANSWERS
# Left by an earlier run that failed.
wine sc delete $name >/dev/null 2>&1 || true
find "$WINEPREFIX/drive_c/" -depth -type d -path "*/zolsampler/$name" -exec rm -r {} +
build/src/sim/zolsim --zol-link "$dev/com1" --seed 7 --measure-seconds 1 --no-ctd \
  >"$work/zolsim.out" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
await 100 grep -q ZOLSAMPLER_COM "$work/zolsim.out" || fail "zolsim did not start"
wine sc create $name binpath= "\"C:\\Program Files\\zolsampler\\zolsampler.exe\" -P 1 -B 9600 -p -1 -b -1" >/dev/null
wine reg add "HKLM\\System\\CurrentControlSet\\Services\\$name" /v Environment /t REG_MULTI_SZ \
  /d "ZOLSAMPLER_ANSWERS=$(winepath -w "$work/service.answers")\\0TZ=UTC\\0ZOLSAMPLER_RESTART_DELAY=1" /f >/dev/null
wine net start $name >/dev/null
data=""
await 100 found_data ||
  fail "no working directory for the service"
console=$data/console.txt
await 900 grep -qs "001, Next Sample, " "$console" || {
  cat "$console" 2>/dev/null
  fail "the service took no sample"
}
# The sampler killed: the service stays running and starts it again after
# the restart delay, and the new sampler samples.
pid=$(sed -n 's/^zolsampler service: sampler started, process \([0-9]*\).*/\1/p' "$console")
[ -n "$pid" ] || fail "console.txt does not name the sampler's process"
wine taskkill /F /PID "$pid" >/dev/null 2>&1 || fail "taskkill could not end the sampler"
await 300 lines_at_least 2 "sampler started, process" || {
  cat "$console"
  fail "the killed sampler was not started again"
}
grep -q "^zolsampler service: not asked to stop: sampler restarts in 1 s" "$console" ||
  fail "no restart line in console.txt"
service_in_state "4 *RUNNING" || fail "the service left RUNNING"
await 900 lines_at_least 2 "001, Next Sample, " || {
  cat "$console"
  fail "the restarted sampler took no sample"
}
# zolctl.exe names the service's pipe by the instance.
wine "$program/zolctl.exe" $name status </dev/null >"$work/status.txt" ||
  fail "zolctl.exe status failed: $(cat "$work/status.txt")"
grep -q "^ZOL 42 (KIRN), every 1 min: " "$work/status.txt" ||
  fail "zolctl.exe status said: $(cat "$work/status.txt")"
wine "$program/zolctl.exe" $name sample </dev/null >"$work/sample.txt" ||
  fail "zolctl.exe sample failed: $(cat "$work/sample.txt")"
grep -q "1 record stored" "$work/sample.txt" || fail "zolctl.exe sample said: $(cat "$work/sample.txt")"
grep -q "^Control: sample requested by " "$console" || fail "no control line in console.txt"
wine net stop $name >/dev/null
# net stop may return while the stop is pending: the stop ends with a status 0.
await 300 service_in_state "1 *STOPPED" || fail "the service did not stop"
wine sc query $name | grep -q "WIN32_EXIT_CODE *: 0 " || fail "the stop gave an exit code"
{ grep -q "Got SIGTERM - Terminating Sampling Thread" "$console" &&
  grep -q "Thread Exit Code = 707" "$console"; } || {
  cat "$console"
  fail "no orderly stop in console.txt"
}
{ [ -s "$data/ZOL0042_KIRN.dat" ] && [ -s "$data/ZOL0042_KIRN.log" ]; } || fail "no data files"
# zolctl.exe stop ends the service as net stop does: no restart.
wine net start $name >/dev/null
await 300 lines_at_least 3 "^Control socket: " || fail "the service's sampler did not start again"
wine "$program/zolctl.exe" $name stop </dev/null >/dev/null || fail "zolctl.exe stop failed"
await 300 service_in_state "1 *STOPPED" || fail "zolctl.exe stop did not stop the service"
wine sc query $name | grep -q "WIN32_EXIT_CODE *: 0 " || fail "zolctl.exe stop gave an exit code"
grep -q "^zolsampler service: the sampler stopped in order: the service stops" "$console" ||
  fail "the keeper did not end the service on the sampler's orderly stop"
wine sc delete $name >/dev/null
kill $sim
wait $sim 2>/dev/null || true

echo "=== windows: uninstall"
# The uninstaller runs on from a copy of itself: wait until the program is gone.
wine "$program/Uninstall.exe" /S </dev/null
await 300 test ! -e "$program/zolsampler.exe" || fail "the uninstall left zolsampler.exe"
{ [ -s "$data/ZOL0042_KIRN.dat" ] && [ -s "$console" ]; } || fail "the uninstall removed the data"
