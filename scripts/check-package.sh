#!/bin/sh
# Builds the Debian package the way a release is built (no tests) in a scratch
# directory and checks what it holds: its file list and dependencies, the
# unpacked programs, every manual page through two linters, the systemd unit
# with systemd-analyze verify, and the unit's command line with the example
# files against the simulator. Exits non-zero on the first fault.
#   --keep   leave the scratch directory (its path is printed)
# With ZOL_PACKAGE_DIR set, the checked .deb is copied there (the service
# check, scripts/check-service.sh, installs it).
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zolsampler-package.XXXXXX")
[ "${1:-}" = "--keep" ] || trap 'rm -rf "$scratch"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
echo "check-package: working in $scratch"

fail() {
  echo "check-package: FAILED: $*" >&2
  exit 1
}

# The unit's start, by hand: the example environment file's ports, the example
# answers, no keyboard, the simulator behind the ports; then SIGTERM as
# systemctl stop sends it. Alignment is left out so that start-up runs through.
check_unattended_start() {
  sampler="$scratch/root/usr/bin/zolsampler"
  ZOLSAMPLER_ANSWERS="$scratch/absent" "$sampler" -P 1 -B 9600 -p -1 -b -1 </dev/null 2>&1 |
    grep -q "^zolsampler: $scratch/absent:0: " || fail "a missing answers file is not refused"
  mkdir -p "$scratch/work"
  grep -v '^sync_minute' "$source_dir/dist/examples/zol42.answers" >"$scratch/zol42.answers"
  mkfifo "$scratch/ready"
  "$scratch/root/usr/bin/zolsim" --zol-link "$scratch/zol" --ctd-link "$scratch/ctd" \
    --measure-seconds 1 --exit-with-pid $$ </dev/null >"$scratch/ready" 2>"$scratch/zolsim.log" &
  sim_pid=$!
  head -n 2 "$scratch/ready" >/dev/null
  (
    set -a
    # shellcheck source-path=SCRIPTDIR/.. source=dist/examples/zol42.env
    . "$source_dir/dist/examples/zol42.env"
    export ZOLSAMPLER_COM1="$scratch/zol" ZOLSAMPLER_COM2="$scratch/ctd"
    export ZOLSAMPLER_ANSWERS="$scratch/zol42.answers"
    cd "$scratch/work"
    exec "$sampler" -P "$ZOL_PORT" -B "$ZOL_BAUD" -p "$CTD_PORT" -b "$CTD_BAUD"
  ) </dev/null >"$scratch/console" 2>&1 &
  sampler_pid=$!
  # Until sampling runs, the sampler has ended, or a minute has passed.
  # shellcheck disable=SC2016  # the inner shell expands its own arguments
  timeout 60 sh -c 'until grep -q "^No keyboard input" "$1" || ! kill -0 "$2" 2>/dev/null; do
    sleep 0.2; done' - "$scratch/console" "$sampler_pid" || true
  if ! grep -q "^No keyboard input" "$scratch/console"; then
    kill "$sampler_pid" "$sim_pid" 2>/dev/null || true
    cat "$scratch/console"
    fail "the unattended start did not reach sampling (above)"
  fi
  kill -TERM "$sampler_pid"
  status=0
  wait "$sampler_pid" || status=$?
  grep -q 'Got SIGTERM' "$scratch/console" || { cat "$scratch/console"; fail "no orderly stop on SIGTERM"; }
  [ "$status" -eq 0 ] || { cat "$scratch/console"; fail "the unattended sampler ended with status $status, not 0"; }
  grep -q '^#ALL RECORDS' "$scratch/work/ZOL0042_KIRN.dat" || fail "no data file ZOL0042_KIRN.dat"
  { kill "$sim_pid" && wait "$sim_pid"; } || fail "zolsim ended with status $?"
  echo "check-package: unattended start with the example files ran and stopped with status 0"
}

build_package() {
  cmake -S "$source_dir" -B "$scratch/build" -DZOL_BUILD_TESTS=OFF -DZOL_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  cmake --build "$scratch/build" -j"$(nproc)" >"$scratch/build.log" 2>&1 ||
    { tail -40 "$scratch/build.log"; fail "build"; }
  (cd "$scratch/build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
  set -- "$scratch"/build/zolsampler_*_*.deb
  { [ $# -eq 1 ] && [ -f "$1" ]; } || fail "expected one zolsampler_<version>_<arch>.deb, got: $*"
  deb=$1
  echo "check-package: built $(basename "$deb")"
}

# Each required path must be in the package; nothing from the test, bench or
# fuzz builds, and no development files, may be.
check_contents() {
  dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's#^\./#/#' >"$scratch/contents"
  for path in /usr/bin/zolsampler /usr/bin/zolctl /usr/bin/zolsim /usr/bin/zolview /usr/bin/zolshore \
    /usr/lib/systemd/system/zolsampler@.service /usr/lib/systemd/system/zolshore.service \
    /usr/lib/sysusers.d/zolsampler.conf \
    /usr/share/doc/zolsampler/README.md \
    /usr/share/doc/zolsampler/examples/zol42.answers \
    /usr/share/doc/zolsampler/examples/zol42.env \
    /usr/share/doc/zolsampler/examples/zol42.meta \
    /usr/share/doc/zolsampler/examples/zolshore.env \
    /usr/share/doc/zolsampler/examples/70-zolsampler.rules; do
    grep -qx "$path" "$scratch/contents" || fail "$path is not in the package"
  done
  for page in "$source_dir"/man/*.[15]; do
    name=$(basename "$page")
    grep -qx "/usr/share/man/man${name##*.}/$name" "$scratch/contents" ||
      fail "manual page $name is not in the package"
  done
  if grep -Ei 'test|bench|fuzz|gtest|gmock|/include/|\.(a|h|cmake)$' "$scratch/contents"; then
    fail "the package holds files of the test, bench or fuzz builds (above)"
  fi
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libstdc++6 libnetcdf libmosquitto; do
    echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = zolsampler ] || fail "package name"
  echo "check-package: contents and Depends ($depends) as expected"
}

check_programs() {
  dpkg-deb -x "$deb" "$scratch/root"
  "$scratch/root/usr/bin/zolsampler" -v >"$scratch/banner" || fail "zolsampler -v exited $?"
  grep -q '^Build: main.cpp Date: ' "$scratch/banner" || fail "zolsampler -v: no build line"
  grep -q '^STDC version 202002' "$scratch/banner" || fail "zolsampler -v: no C++ revision"
  "$scratch/root/usr/bin/zolctl" --help >"$scratch/ctlhelp" || fail "zolctl --help exited $?"
  grep -q '^usage: zolctl ' "$scratch/ctlhelp" || fail "zolctl --help: no usage line"
  "$scratch/root/usr/bin/zolsim" --help >"$scratch/simhelp" || fail "zolsim --help exited $?"
  grep -q '^Usage: .*zolsim \[options\]' "$scratch/simhelp" || fail "zolsim --help: no usage line"
  "$scratch/root/usr/bin/zolshore" --help >"$scratch/shorehelp" || fail "zolshore --help exited $?"
  grep -q '^Usage: zolshore ' "$scratch/shorehelp" || fail "zolshore --help: no usage line"
  # zolview's netCDF output with the shipped metadata example, as ncdump sees it.
  python3 "$source_dir/bench/view/make_data.py" KIRN 50 "$scratch/ZOL0042_KIRN.dat"
  "$scratch/root/usr/bin/zolview" --netcdf -o "$scratch/zol42.nc" \
    --meta "$scratch/root/usr/share/doc/zolsampler/examples/zol42.meta" \
    "$scratch/ZOL0042_KIRN.dat" 2>"$scratch/viewerr" || fail "zolview --netcdf: $(cat "$scratch/viewerr")"
  ncdump -h "$scratch/zol42.nc" >"$scratch/header" || fail "ncdump -h exited $?"
  for expected in 'time = UNLIMITED ; // (50 currently)' ':Conventions = "CF-1.10, ACDD-1.3" ;' \
    ':featureType = "timeSeries" ;' 'kirn_nitrate:units = "umol/L" ;' 'byte kirn_nitrate_qc(time) ;'; do
    grep -qF "$expected" "$scratch/header" || fail "ncdump -h shows no $expected"
  done
  echo "check-package: unpacked zolsampler -v, zolctl --help, zolsim --help, zolshore --help and zolview --netcdf run; ncdump -h reads its file"
}

# Any message of either linter is a fault.
check_manual() {
  for page in "$scratch"/root/usr/share/man/man*/*; do
    report=$(mandoc -T lint "$page" 2>&1) || fail "mandoc -T lint $(basename "$page"): $report"
    report=$(groff -ww -z -man "$page" 2>&1)
    [ -z "$report" ] || fail "groff -ww $(basename "$page"): $report"
  done
  echo "check-package: manual pages lint clean"
}

# The unit names its program by bare name (systemd finds it in /usr/local/bin
# or /usr/bin); a copy pointed at the unpacked tree lets verify check that the
# program exists and runs, without installing it. Documentation= pages are
# looked up in the unpacked tree too. No running systemd is needed.
# verify_unit UNIT PROGRAM INSTANCE: the unit in dist/systemd, the program its
# ExecStart names, the unit name to verify (an instance of a template).
verify_unit() {
  unit="$source_dir/dist/systemd/$1"
  grep -q "^ExecStart=$2 " "$unit" || fail "ExecStart no longer starts with the bare name $2"
  mkdir -p "$scratch/units"
  sed "s#^ExecStart=$2 #ExecStart=$scratch/root/usr/bin/$2 #" "$unit" >"$scratch/units/$1"
  report=$(MANPATH="$scratch/root/usr/share/man" \
    systemd-analyze verify "$scratch/units/$3" 2>&1) || fail "systemd-analyze verify $3: $report"
  [ -z "$report" ] || fail "systemd-analyze verify $3: $report"
  echo "check-package: systemd-analyze verify $3 clean"
}

# The example environment file $1 must set every variable the unit's
# ExecStart uses.
check_env_file() {
  # shellcheck disable=SC2016  # a literal ${NAME} in the unit
  for variable in $(grep '^ExecStart=' "$unit" | grep -o '\${[A-Z_0-9]*}' | tr -d '${}'); do
    grep -q "^$variable=" "$source_dir/$1" || fail "$1 does not set $variable"
  done
}

check_unit() {
  verify_unit zolsampler@.service zolsampler zolsampler@zol42.service
  check_env_file dist/examples/zol42.env
  # The receiver ashore's unit, and its example environment file likewise.
  verify_unit zolshore.service zolshore zolshore.service
  check_env_file dist/examples/zolshore.env
}

build_package
check_contents
check_programs
check_manual
check_unit
check_unattended_start
if [ -n "${ZOL_PACKAGE_DIR:-}" ]; then
  mkdir -p "$ZOL_PACKAGE_DIR"
  cp "$deb" "$ZOL_PACKAGE_DIR/"
  echo "check-package: $(basename "$deb") copied to $ZOL_PACKAGE_DIR"
fi
echo "check-package: all checks passed"
