#!/bin/sh
# Installs the Debian packages the build and the tests need, only those missing.
#   --demo   only what scripts/demo.sh builds with (the sampler and zolsim)
# cmake, g++, make and libmosquitto-dev: the build, all that --demo installs.
# For the tests:
# libgtest-dev, libgmock-dev and libbenchmark-dev: the suite and zolbench;
# clang and libclang-rt-14-dev: the fuzz targets.
# dpkg-dev, mandoc, groff-base, man-db and systemd: the package check (mandoc also
# renders the Windows package's HTML manuals).
# g++-mingw-w64-x86-64, wine64, googletest (its sources) and python3: the Windows build and its check
# (with libmosquitto built from its Debian source package: deb-src entries).
# nsis: the Windows installer. libnetcdf-dev: zolview's NetCDF output; netcdf-bin,
# python3-netcdf4, python3-xarray and python3-pandas read it back in the tests.
# clang-format and clang-tidy: the style and lint guards. util-linux: setpriv.
# The shellcheck package: the guard of the shell scripts.
# mosquitto, mosquitto-clients and openssl: a broker, its tools and a CA for
# the MQTT link's tests.
set -eu
packages="cmake g++ make libmosquitto-dev"
# The demo names all it builds with: what packages only recommend (manual
# pages, image libraries) would double its install.
recommends=""
case ${1:-} in
  --demo) recommends="--no-install-recommends" ;;
  "") packages="$packages libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  dpkg-dev mandoc groff-base man-db systemd
  g++-mingw-w64-x86-64 wine64 googletest python3
  nsis libnetcdf-dev netcdf-bin python3-netcdf4 python3-xarray python3-pandas
  clang-format clang-tidy util-linux shellcheck mosquitto mosquitto-clients openssl" ;;
  *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac
# The Windows build cross-builds libmosquitto from Debian's source package
# (scripts/build-mosquitto-windows.sh): apt needs deb-src entries, here those
# of the binary entries in apt's deb822 sources (Debian 12's own layout).
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
srcfile=/etc/apt/sources.list.d/zolsampler-deb-src.sources
need_update=""
if [ -z "${1:-}" ] && [ ! -f "$srcfile" ] && [ -f /etc/apt/sources.list.d/debian.sources ] &&
  ! grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources &&
  ! grep -qs '^deb-src' /etc/apt/sources.list; then
  echo "Adding deb-src entries: $srcfile"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    $sudo tee "$srcfile" >/dev/null
  need_update=1
fi
set --
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || set -- "$@" "$p"
done
if [ $# -eq 0 ]; then
  [ -n "$need_update" ] && $sudo apt-get update -qq
  exit 0
fi
echo "Installing: $*"
$sudo apt-get update -qq
# shellcheck disable=SC2086  # one option or none
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $recommends "$@"
