#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what it
# needs, builds, then runs every test under Wine (32-bit) in a virtual X
# display, with one prefix inside the build folder and one persistent
# wineserver for the run. Where this kernel cannot run 32-bit programs, the
# suite runs inside an emulated VM whose kernel can (tools/vm32).
#
# LAUNCHER_32BIT: auto (default: natively when the 32-bit Wine loader runs
# here, else in the VM), native, vm, or skip (quick local runs only; CI never
# skips).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}

"$root/tools/setup-debian.sh"
"$root/tools/build.sh"

lane=${LAUNCHER_32BIT:-auto}
if [ "$lane" = skip ] && [ -n "${CI:-}" ]; then
  echo "test.sh: LAUNCHER_32BIT=skip is ignored in CI: the 32-bit suite always runs" >&2
  lane=auto
fi
if [ "$lane" = auto ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then lane=native; else lane=vm; fi
fi
case $lane in
  native)
    source "$root/tools/wine-env.sh"
    start_wine "$build"
    trap stop_wine EXIT
    cd "$build/win32"
    in_display ctest --output-on-failure --timeout 300 "$@"
    ;;
  vm)
    echo "test.sh: the 32-bit suite runs in the emulated VM (tools/vm32)" >&2
    "$root/tools/vm32/run-suite.sh" "$build/win32" "$@"
    ;;
  skip)
    echo "test.sh: LAUNCHER_32BIT=skip: the 32-bit suite was NOT run" >&2
    ;;
  *)
    echo "test.sh: LAUNCHER_32BIT must be auto, native, vm or skip, not '$lane'" >&2
    exit 2
    ;;
esac
