#!/bin/sh
# Cross-builds libmosquitto's client library for 64-bit Windows from
# Debian's source package, as a static library (so the .exe needs no DLL):
# plain MQTT (Debian has no OpenSSL for mingw-w64), the library's own
# threading over the toolchain's winpthreads, nothing of the broker, its
# clients or its documentation. Kept in a cache folder keyed by the source
# package's version, so it is built once per version; prints the prefix to
# give the Windows build as ZOL_MOSQUITTO_PREFIX.
# Its warnings are left to its makers (-w).
# Needs a deb-src entry in apt's sources (scripts/install-deps.sh adds one).
set -eu
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zolsampler
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

# The version apt would fetch, from the name of its .dsc.
dsc=$(apt-get source --print-uris mosquitto 2>/dev/null | sed -n "s/^'[^']*' \(mosquitto_[^ ]*\.dsc\) .*/\1/p")
if [ -z "$dsc" ]; then
  echo "build-mosquitto-windows: apt has no source of mosquitto (run scripts/install-deps.sh)" >&2
  exit 1
fi
version=${dsc#mosquitto_}
version=${version%.dsc}
prefix=$cache/mosquitto-windows-$version
if [ -f "$prefix/lib/libmosquitto.a" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "$cache/mosquitto-build-XXXXXX" 2>/dev/null || {
  mkdir -p "$cache"
  mktemp -d "$cache/mosquitto-build-XXXXXX"
})
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq "mosquitto=$version" >/dev/null 2>&1)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'mosquitto-*')
upstream=$(sed -n 's/^set *( *VERSION *\([0-9.]*\) *)/\1/p' "$src/CMakeLists.txt")
mkdir -p "$work/obj"
# Two compilers at a time, as the rest of the build.
# shellcheck disable=SC2016  # expanded by the shell xargs starts
find "$src/lib" -maxdepth 1 -name '*.c' -print0 | xargs -0 -P2 -n1 sh -c '
  "$0" -O2 -w -DWIN32 -DWITH_THREADING -DLIBMOSQUITTO_STATIC -D_CRT_SECURE_NO_WARNINGS \
    -DVERSION="\"$1\"" -I"$2" -I"$2/lib" -I"$2/include" -I"$2/deps" \
    -c "$4" -o "$3/$(basename "$4" .c).o"' "$cc" "$upstream" "$src" "$work/obj"

staging=$work/prefix
mkdir -p "$staging/lib" "$staging/include"
"$ar" rcs "$staging/lib/libmosquitto.a" "$work"/obj/*.o
cp "$src/include/mosquitto.h" "$src/include/mqtt_protocol.h" "$staging/include/"
cp "$src/LICENSE.txt" "$src/epl-v20" "$src/edl-v10" "$staging/" 2>/dev/null || true
# Into place in one step: a cut-short build leaves no half prefix behind.
rm -rf "$prefix"
mv "$staging" "$prefix"
echo "$prefix"
