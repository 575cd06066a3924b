#!/usr/bin/env bash
# Runs one Windows test program under Wine with the loader of its
# architecture and a HOME of its own, so the Recycle Bin it uses
# ($HOME/.local/share/Trash) is its own. The prefix and the persistent
# wineserver come from tools/test.sh (WINEPREFIX).
#
#   run-in-wine.sh win32|win64 PROGRAM [ARG ...]
#
# The program's output goes through a file: Wine's helper processes started
# on the way inherit its output handles, and would hold a pipe to CTest open
# long after the program ended.
set -u
arch=$1; shift
source "$(dirname "$0")/../tools/wine-env.sh"
loader=$(wine_loader_for "$arch") || exit 2
if [ -z "${WINEPREFIX:-}" ]; then
  echo "run-in-wine.sh: WINEPREFIX is not set; run the tests through tools/test.sh" >&2
  exit 2
fi
# A lane with a pool of prefixes side by side (LAUNCHER_WINE_PREFIX_POOL holds
# prefix1/wineprefix, prefix2/wineprefix, ...): the one CTest gave this test
# as its resource "prefix", prefix 1 for a test program's discovery.
if [ -n "${LAUNCHER_WINE_PREFIX_POOL:-}" ]; then
  id=1
  case ${CTEST_RESOURCE_GROUP_0_PREFIX:-} in id:*) id=${CTEST_RESOURCE_GROUP_0_PREFIX#id:}; id=${id%%,*} ;; esac
  export WINEPREFIX=$LAUNCHER_WINE_PREFIX_POOL/prefix$id/wineprefix
fi
export WINEARCH=$arch WINELOADER=$loader
scratch=${LAUNCHER_TEST_SCRATCH:-${TMPDIR:-/tmp}}
mkdir -p "$scratch"
# The scratch folder is also drive T: of the prefix, so the tests' own files
# have the same short Windows paths however deep the build folder lies.
drive=$WINEPREFIX/dosdevices/t:
if [ "$(readlink "$drive" 2>/dev/null)" != "$scratch" ]; then
  ln -s "$scratch" "$drive.$$" && mv -T "$drive.$$" "$drive"  # atomic: tests run side by side
fi
export LAUNCHER_TEST_SCRATCH_DRIVE=T:
# A Windows program that crashes ends with its exception code; the loader
# itself dying of a signal is Wine's own fault (seen about once in a thousand
# runs of the 32-bit loader, at a start or after the program's last line), and
# so is a test program's failure before it printed anything (its first line
# comes before any test; seen about once in a thousand starts of either
# loader on some hosts). Such a run is tried once more, saying so. A program
# that may end silently (the launcher) is never run twice.
for attempt in 1 2; do
  home=$(mktemp -d "$scratch/home.XXXXXX")
  mkdir -p "$home/.local/share"
  HOME=$home "$loader" "$@" >"$home.out" 2>&1 </dev/null
  status=$?
  cat "$home.out"
  silent=false
  case $(basename "$1") in
    *tests.exe) [ "$status" -ne 0 ] && [ ! -s "$home.out" ] && silent=true ;;
  esac
  rm -rf "$home" "$home.out"
  if { [ "$status" -le 128 ] && ! $silent; } || [ "$attempt" -eq 2 ]; then break; fi
  if $silent; then
    echo "run-in-wine.sh: the Wine loader ended ($status) before the program printed anything; running it again"
  else
    echo "run-in-wine.sh: the Wine loader died of signal $((status - 128)); running the program again"
  fi
done
exit $status
