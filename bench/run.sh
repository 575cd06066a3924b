#!/usr/bin/env bash
# The benchmarks, from a fresh Debian 12 machine as root: installs and builds
# the launcher, cross-builds the bench's own Windows programs, generates the
# bench's data (seeded) under build/bench, runs every case under Wine with one
# persistent wineserver and prints the table (also in build/bench/results.md).
# Extra arguments go to bench.py, e.g. --reps 3 --cases ttg,memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}

"$root/tools/setup-debian.sh" >/dev/null
"$root/tools/build.sh" >/dev/null
cmake -S "$root/bench" -B "$build/bench/win32" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench/win32" -j "$(nproc)" >/dev/null

source "$root/tools/wine-env.sh"
# A prefix of the bench's own, so test runs and bench runs never meet.
start_wine "$build/bench"
trap stop_wine EXIT
in_display python3 "$root/bench/bench.py" --build "$build" "$@"
