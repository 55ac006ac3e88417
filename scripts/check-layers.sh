#!/bin/sh
# Fails when an #include runs against the layering of src/, or when
# platform-specific code stands outside a posix/ or win32/ folder.
#   scripts/check-layers.sh [SRC_DIR]    (default: src of this tree)
# Each layer may include itself and the layers listed after it below.
set -eu
src=${1:-"$(dirname "$0")/../src"}
status=0
# Platform code: the system headers of either platform (any <sys/...>,
# <linux/...>, <arpa/...> or <netinet/...> among them), and device paths.
headers='termios|poll|signal|unistd|fcntl|pthread|pty|netdb|dirent|spawn|windows|winsock2|ws2tcpip|tlhelp32|io|conio'
platform="#[[:space:]]*include[[:space:]]*<(($headers)\.h|(sys|linux|arpa|netinet)/[^>]*|csignal)>|\"/dev/"

allowed() {
  case $1 in
    base) echo "base" ;;
    link | console | files) echo "base $1" ;;
    app) echo "base link console files mqtt forward app" ;;
    sim) echo "base sim" ;;
    mqtt) echo "base mqtt" ;;
    forward) echo "base mqtt view forward" ;;
    ctl) echo "base link ctl" ;;
    view) echo "view" ;;
    shore) echo "base files mqtt shore" ;;
    *) echo "" ;;
  esac
}

for file in $(find "$src" -name '*.h' -o -name '*.cpp' | sort); do
  relative=${file#"$src"/}
  layer=${relative%%/*}
  permitted=$(allowed "$layer")
  if [ -z "$permitted" ]; then
    echo "$relative: folder '$layer' has no place in the layering"
    status=1
    continue
  fi
  # shellcheck disable=SC2013  # include targets are single words
  for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file"); do
    case " $permitted " in
      *" $target "*) ;;
      *)
        echo "$relative: includes from '$target', which '$layer' may not use"
        status=1
        ;;
    esac
  done
  # Platform code: only in a platform folder (the simulator is Linux-only).
  case $relative in
    */posix/* | */win32/* | sim/*) continue ;;
  esac
  found=$(grep -nE "$platform" "$file" || true)
  if [ -n "$found" ]; then
    printf '%s\n' "$found" | sed "s|^|$relative:|; s|\$|  (platform code outside a platform folder)|"
    status=1
  fi
done
[ $status -eq 0 ] && echo "layers: every include runs downward"
exit $status
