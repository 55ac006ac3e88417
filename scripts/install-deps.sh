#!/bin/sh
# Installs the Debian packages the build and the tests need, only those missing.
# dpkg-dev, mandoc, groff-base, man-db and systemd: the package check (mandoc also
# renders the Windows package's HTML manuals).
# g++-mingw-w64-x86-64, wine64, googletest (its sources) and python3: the Windows build and its check.
# nsis: the Windows installer. libnetcdf-dev: zolview's NetCDF output; netcdf-bin,
# python3-netcdf4, python3-xarray and python3-pandas read it back in the tests.
# clang-format and clang-tidy: the style and lint guards. util-linux: setpriv.
# libmosquitto-dev: the MQTT shore link; mosquitto, mosquitto-clients and openssl:
# the broker, its tools and a CA for the link's tests.
set -eu
packages="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  dpkg-dev mandoc groff-base man-db systemd
  g++-mingw-w64-x86-64 wine64 googletest python3
  nsis libnetcdf-dev netcdf-bin python3-netcdf4 python3-xarray python3-pandas
  clang-format clang-tidy util-linux libmosquitto-dev mosquitto mosquitto-clients openssl"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
