#!/bin/sh
# Tries zolsampler without instruments: installs what the build lacks, builds
# the sampler and zolsim (in build-demo, without the tests), starts the
# simulated ZOL and CTD and runs the sampler against them in this terminal.
# Arguments go to zolsim, e.g.
#   scripts/demo.sh --kind PADO --zol-fault=drop:0.2@SL
#   scripts/demo.sh --no-ctd
# The sampler works in the directory the script is started from (its log and
# data files land there). Ending the sampler ends the simulator.
# ZOL_BUILD_DIR names the build directory (default: build-demo in the source
# tree, apart from the presets' builds).
set -eu
here=$(pwd)
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir=${ZOL_BUILD_DIR:-$source_dir/build-demo}

scripts/install-deps.sh --demo
cmake -S "$source_dir" -B "$build_dir" -DZOL_BUILD_TESTS=OFF -DZOL_BUILD_BENCH=OFF \
  -DZOL_NETCDF=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target zolsampler zolsim

# Without a CTD (--no-ctd) zolsim offers one device and the sampler is
# started without a CTD port; --help shows zolsim's options.
ctd=yes
for arg in "$@"; do
  case $arg in
    --no-ctd) ctd=no ;;
    --help | -h) exec "$build_dir/src/sim/zolsim" --help ;;
  esac
done
if [ "$ctd" = yes ]; then
  devices=2
  ctd_options="-p 2 -b 9600"
else
  devices=1
  ctd_options="-p -1 -b -1"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zoldemo.XXXXXX")
sim_pid=""
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# A signal to the script itself ends it through the EXIT trap above.
trap 'exit 129' HUP
trap 'exit 143' TERM

# zolsim prints its settings once the devices and links exist; reading them
# through a fifo waits exactly that long (or sees it fail and end).
mkfifo "$work/ready"
"$build_dir/src/sim/zolsim" --zol-link "$work/zol" --ctd-link "$work/ctd" \
  --measure-seconds 5 --exit-with-pid $$ "$@" \
  <"/dev/null" >"$work/ready" 2>"$work/zolsim.log" &
sim_pid=$!
settings=$(head -n "$devices" "$work/ready")
if [ ! -e "$work/zol" ] || { [ "$ctd" = yes ] && [ ! -e "$work/ctd" ]; }; then
  echo "zolsim did not start:" >&2
  cat "$work/zolsim.log" >&2
  exit 1
fi
echo "Simulated instruments ready:"
echo "$settings"
echo "Starting: zolsampler -P 1 -B 9600 $ctd_options (in $here)"

cd "$here"
status=0
# The CTD options are four words of the sampler's command line.
# shellcheck disable=SC2086
ZOLSAMPLER_COM1="$work/zol" ZOLSAMPLER_COM2="$work/ctd" \
  "$build_dir/zolsampler" -P 1 -B 9600 $ctd_options || status=$?
exit "$status"
