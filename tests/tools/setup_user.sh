#!/usr/bin/env bash
# tools/setup-debian.sh as an ordinary user (nobody): with everything
# installed it succeeds; with a package missing it stops, saying root is
# needed, and installs nothing. Skipped (77) unless run as root.
#
#   setup_user.sh SOURCE
set -uo pipefail
src=$1
[ "$(id -u)" -eq 0 ] || { echo "not root: cannot switch to another user"; exit 77; }
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp "$@"; }

output=$(as_nobody "$src/tools/setup-debian.sh" 2>&1) ||
  { echo "with everything installed, as nobody, it failed: $output"; exit 1; }
output=$(as_nobody env LAUNCHER_EXTRA_PACKAGES=launcher-no-such-package "$src/tools/setup-debian.sh" 2>&1)
status=$?
echo "with a package missing: exit $status: $output"
[ "$status" -eq 1 ] && [[ $output == *"needs root"* ]]
