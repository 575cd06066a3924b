#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what it
# needs, builds, then runs every test under Wine (32-bit) in a virtual X
# display, with one prefix inside the build folder and one persistent
# wineserver for the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}

"$root/tools/setup-debian.sh"
"$root/tools/build.sh"
source "$root/tools/wine-env.sh"
start_wine "$build"
trap stop_wine EXIT

cd "$build/win32"
in_display ctest --output-on-failure --timeout 300 "$@"
