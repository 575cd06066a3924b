#!/usr/bin/env bash
# The VM lane wherever the clone lives: clones this repository's HEAD into a
# fresh folder under /tmp, builds its 32-bit tree there and runs the 32-bit
# suite in the VM from it (run-suite.sh). Ends with the lane's status; the
# clone is removed when the lane passed.
#
#   tools/vm32/check-clone-in-tmp.sh [CTEST_ARGS...]
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

clone=$(mktemp -d /tmp/launcher-clone.XXXXXX)
echo "== cloning $(git -C "$root" rev-parse --short HEAD) into $clone"
git clone -q "$root" "$clone"
echo "== building the 32-bit tree (log: $clone.build.log)"
"$clone/tools/build.sh" --arch win32 >"$clone.build.log" 2>&1 || fail "the build failed; see $clone.build.log"
status=0
"$clone/tools/vm32/run-suite.sh" "$clone/build/win32" "$@" || status=$?
if [ "$status" -eq 0 ]; then
  rm -rf "$clone" "$clone.build.log"
else
  echo "$script_name: the lane failed from $clone (kept)" >&2
fi
exit "$status"
