#!/bin/sh
# zolview.exe under wine next to the Linux build's zolview on the same files:
# the committed KIRN file (LF and CR LF) and a file stamped just now. The
# summary, the CSV and the check must match (a CR before each LF allowed;
# the check's ages, read from two clocks, masked), and so the exit statuses;
# the plot's SVG must be the same bytes; NCCSV too, but for its time stamps.
# Run from scripts/windows-check.sh, whose wine prefix and server it uses,
# or alone.
set -eu
cd "$(dirname "$0")/.."
root=$PWD

echo "=== windows: zolview"
cmake --preset windows -DZOL_WERROR=ON >/dev/null
cmake --build --preset windows --target zolview
if [ ! -x build/src/view/zolview ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target zolview
fi
linux=$root/build/src/view/zolview
windows=$root/build-windows/src/view/zolview.exe
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wineprefix}" WINEDEBUG=-all
[ -d "$WINEPREFIX/dosdevices" ] || wineboot -i >/dev/null 2>&1

work=$(mktemp -d /tmp/zolview-windows-XXXXXX)
trap 'rm -rf "$work"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
cp tests/view/data/ZOL0042_KIRN.dat "$work/"
sed 's/$/\r/' tests/view/data/ZOL0042_KIRN.dat >"$work/ZOL0042_KIRN_crlf.dat"
{
  printf '#ALL RECORDS\nCRC, ID, DATE TIME, UTC SECS\n'
  now=$(date -u +%s)
  for ago in 1320 720 120; do
    t=$((now - ago))
    printf '0A1B, ZOL0042, %s, %s\n' "$(date -u -d "@$t" '+%Y/%m/%d %H:%M:%S')" "$t"
  done
} >"$work/ZOL0042_PADO.dat"
cd "$work"

failed=0
# compare NAME MASK ARGS...: both programs' standard output and status.
compare() {
  name=$1 mask=$2
  shift 2
  status=0
  "$linux" "$@" >"linux.$name" 2>/dev/null || status=$?
  echo "$status" >>"linux.$name"
  status=0
  wine "$windows" "$@" </dev/null >"windows.$name" 2>/dev/null || status=$?
  echo "$status" >>"windows.$name"
  sed "s/\r\$//; $mask" "linux.$name" >"linux.$name.cmp"
  sed "s/\r\$//; $mask" "windows.$name" >"windows.$name.cmp"
  if cmp -s "linux.$name.cmp" "windows.$name.cmp"; then
    echo "same $name (status $(tail -n 1 "linux.$name"))"
  else
    echo "DIFFERENT $name:"
    diff "linux.$name.cmp" "windows.$name.cmp" | head -n 20
    failed=1
  fi
}
ages="s/record [0-9]* min/record N min/g; s/age\('*\)=-*[0-9]*s/age\1=Ns/g"
compare summary "" ZOL0042_KIRN.dat ZOL0042_KIRN_crlf.dat ZOL0042_PADO.dat
compare csv "" --csv ZOL0042_KIRN.dat ZOL0042_KIRN_crlf.dat
compare check-old "$ages" --check ZOL0042_KIRN.dat ZOL0042_KIRN_crlf.dat
compare check-fresh "$ages" --check --warn 30 ZOL0042_PADO.dat
compare check-usage "" --check --warn 9 --crit 5 ZOL0042_PADO.dat
compare check-missing "s/gone.dat: .*/gone.dat: (the system's text)/" --check gone.dat
# NCCSV: the time of writing and the command line differ between the runs.
compare nccsv 's/^\(\*GLOBAL\*,\(date_created\|history\),\).*/\1(masked)/' \
  --nccsv ZOL0042_KIRN.dat ZOL0042_KIRN_crlf.dat
# Without the netCDF library the Windows usage says so.
wine "$windows" --help </dev/null 2>/dev/null | grep -q "this build has no --netcdf" ||
  { echo "zolview.exe --help does not say it has no --netcdf"; failed=1; }
columns="KIRN NITRATE,CTD TEMP"
"$linux" --plot "$columns" -o linux.svg ZOL0042_KIRN.dat
wine "$windows" --plot "$columns" -o windows.svg ZOL0042_KIRN.dat </dev/null >/dev/null 2>&1 || true
if cmp -s linux.svg windows.svg; then
  echo "same plot"
else
  echo "DIFFERENT plot"
  failed=1
fi
# The CSV is the same bytes, its CR LF included.
if ! cmp -s linux.csv windows.csv; then
  echo "DIFFERENT csv bytes"
  failed=1
fi
[ "$(tail -n 1 windows.check-fresh)" = 0 ] || { echo "fresh file not OK"; failed=1; }
[ $failed = 0 ] && echo "=== windows: zolview passed"
exit $failed
