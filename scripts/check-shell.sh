#!/bin/sh
# Fails on any shellcheck finding in the project's shell scripts (CI, the
# scripts, the shell tests, the Debian package's maintainer scripts). Code
# that is right as written carries a `# shellcheck disable=SCxxxx` with its
# reason on the line above; .shellcheckrc lets it follow sourced files.
set -eu
cd "$(dirname "$0")/.."
shellcheck .ci/run scripts/*.sh tests/*.sh dist/debian/postinst dist/debian/postrm dist/debian/prerm
echo "shellcheck: clean"
