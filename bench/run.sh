#!/usr/bin/env bash
# The benchmarks, from a fresh Debian 12 machine as root: installs and builds
# the launcher, cross-builds the bench's own Windows programs, generates the
# bench's data (seeded) under build/bench, runs every case under Wine with one
# persistent wineserver and prints the table (also in
# build/bench/results-<arch>.md). It measures every architecture this host
# runs: the 32-bit launcher where it can, and always the 64-bit one.
# Extra arguments go to bench.py, e.g. --reps 3 --cases ttg,memory.
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
setup_packages
source "$root/tools/wine-env.sh"

archs=()
if can_run_arch win32; then
  archs+=(win32)
else
  echo "bench/run.sh: the 32-bit launcher is not measured: $WINE_PROBE_REASON" >&2
fi
can_run_arch win64 || fail "the 64-bit Wine cannot run either: $WINE_PROBE_REASON"
archs+=(win64)

for arch in "${archs[@]}"; do
  log=$build/bench/build-$arch.log
  mkdir -p "$build/bench"
  { "$root/tools/build.sh" --arch "$arch" &&
    cmake -S "$root/bench" -B "$build/bench/$arch" \
      $(toolchain_args "$arch") -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$build/bench/$arch" -j "$(nproc)"; } >"$log" 2>&1 ||
    fail "building the $arch launcher or bench programs failed; see $log"

  # A prefix of the bench's own, so test runs and bench runs never meet.
  start_wine "$arch" "$build/bench/wineprefix-$arch" ||
    fail "could not create the $arch Wine prefix in $build/bench/wineprefix-$arch; remove it and try again"
  echo "== $arch launcher"
  in_display python3 "$root/bench/bench.py" --build "$build" --arch "$arch" "$@" ||
    { stop_wine; fail "the $arch bench run failed; see its output above"; }
  stop_wine
  echo
done
