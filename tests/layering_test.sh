#!/bin/sh
# The layering check passes on the tree and fails on each kind of planted
# fault: an include that runs upward, and platform code in shared code.
set -eu
source_dir=$1
check="$source_dir/scripts/check-layers.sh"
"$check" "$source_dir/src" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A signal ends the script through the EXIT trap above.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM

expect_refused() {
  rm -rf "$work/src"
  cp -r "$source_dir/src" "$work/src"
  printf '%s\n' "$2" >>"$work/src/$1"
  if "$check" "$work/src" >"$work/out"; then
    echo "not refused: '$2' in $1"
    exit 1
  fi
  grep -q "^$1" "$work/out" || { echo "refused without naming $1:"; cat "$work/out"; exit 1; }
}

expect_refused base/clock.cpp '#include "app/sampler_state.h"'
expect_refused link/zol_protocol.cpp '#include "console/prompts.h"'
expect_refused files/data_files.cpp '#include "link/serial_service.h"'
expect_refused console/prompts.cpp '#include <termios.h>'
expect_refused app/startup.cpp '#include <poll.h>'
expect_refused files/line_file.cpp '#include <sys/stat.h>'
expect_refused app/startup.cpp 'const char* kPort = "/dev/ttyS0";'
echo "layering check: passes the tree, refuses 7 planted faults"
