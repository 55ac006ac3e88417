#!/bin/sh
# zolview on a data file of a million KIRN records: the summary and a plot,
# timed with their peak memory, against a plain Python csv reader over the
# same file that computes the same column statistics; then the conversion to
# netCDF beside pandas read_csv + xarray to_netcdf, and the exports again on a
# file of a tenth the size, to show their memory stays flat; last the ratios
# the goals are stated in. Not part of CI: it needs about 1 GB of disk and a
# few minutes.
#   scripts/view-bench.sh [RECORDS]
set -eu
cd "$(dirname "$0")/.."
records=${1:-1000000}
cmake --preset default >/dev/null
cmake --build build -j2 --target zolview >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM
data="$work/ZOL0042_KIRN.dat"
python3 bench/view/make_data.py KIRN "$records" "$data"
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
echo "file: $records records, $(du -m "$data" | cut -f1) MB"
cat "$data" >/dev/null  # the page cache holds it for every contender alike

run() {
  label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || {
    cat "$work/err"
    exit 1
  }
  read -r seconds kilobytes <"$work/time"
  printf '%-32s %8s s %8s MB peak\n' "$label" "$seconds" "$((kilobytes / 1024))"
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }

run "zolview (summary)" build/src/view/zolview "$data"
summary=$seconds
run "zolview --plot (1 column)" build/src/view/zolview --plot "KIRN NITRATE" -o "$work/p.svg" "$data"
run "zolview --plot (3 columns)" build/src/view/zolview --plot "KIRN NITRATE,CTD TEMP,INPUT VOLTAGE" -o "$work/p3.svg" "$data"
run "zolview --csv" build/src/view/zolview --csv "$data"
csv=$seconds
run "python3 csv reference" python3 bench/view/csv_reference.py "$data"
run "zolview --netcdf" build/src/view/zolview --netcdf -o "$work/z.nc" --meta dist/examples/zol42.meta "$data"
netcdf=$seconds
echo "netCDF size: $(du -m "$work/z.nc" | cut -f1) MB"
rm -f "$work/z.nc"
run "zolview --nccsv" build/src/view/zolview --nccsv "$data"
nccsv=$seconds
# Debian's Python, which holds pandas and xarray.
run "pandas + xarray to_netcdf" /usr/bin/python3 bench/view/netcdf_reference.py "$data" "$work/p.nc"
reference=$seconds
echo "pandas + xarray netCDF size: $(du -m "$work/p.nc" | cut -f1) MB"
rm -f "$work/p.nc"
small="$work/small/ZOL0042_KIRN.dat"
mkdir -p "$work/small"
python3 bench/view/make_data.py KIRN "$((records / 10))" "$small"
run "zolview (summary), a tenth" build/src/view/zolview "$small"
run "zolview --netcdf, a tenth" build/src/view/zolview --netcdf -o "$work/s.nc" "$small"
run "zolview --nccsv, a tenth" build/src/view/zolview --nccsv "$small"
run "pandas + xarray, a tenth" /usr/bin/python3 bench/view/netcdf_reference.py "$small" "$work/sp.nc"
echo "plot size: $(wc -c <"$work/p.svg") bytes"
echo "--netcdf / summary: $(ratio "$netcdf" "$summary") (goal under 3)"
echo "--nccsv / --csv: $(ratio "$nccsv" "$csv") (goal under 2)"
echo "--netcdf / pandas + xarray: $(ratio "$netcdf" "$reference")"
