#!/usr/bin/env bash
# The benchmarks, from a fresh Debian 12 machine as root: installs and builds
# the launcher, cross-builds the bench's own Windows programs, generates the
# bench's data (seeded) under build/bench, with a key of the bench's own and a
# launcher built with it for the signed case, runs every case under Wine with one
# persistent wineserver and prints the table (also in
# build/bench/results-<arch>.md). It measures every architecture this host
# runs: the 32-bit launcher where it can, and always the 64-bit one.
# "--arch win32" or "--arch win64" first measures that architecture alone.
# "--reference COMMIT" next also times the launcher built from that commit
# in the copy and update cases, beside this one: the baselines' cost
# differs from machine to machine (a flush, a trip to the wineserver), two
# builds compared in one run do not.
# Extra arguments go to bench.py, e.g. --reps 3 --cases ttg,memory.
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
only=
if [ "${1:-}" = "--arch" ]; then
  case ${2:-} in
    win32|win64) only=$2 ;;
    *) fail "--arch takes win32 or win64" ;;
  esac
  shift 2
fi
reference=
if [ "${1:-}" = "--reference" ]; then
  [ -n "${2:-}" ] || fail "--reference takes a commit"
  reference=$(git -C "$root" rev-parse --verify "$2^{commit}") || fail "no commit '$2' in $root"
  shift 2
fi
if [ -n "$reference" ]; then
  # The compilers the reference's own toolchain files name (an older commit
  # may name the posix-thread variant).
  variant=$(git -C "$root" show "$reference:cmake/toolchain-mingw.cmake" | grep -o 'g++-[a-z0-9]*' | head -n1)
  export LAUNCHER_EXTRA_PACKAGES="${LAUNCHER_EXTRA_PACKAGES:-} g++-mingw-w64-x86-64-${variant#g++-} g++-mingw-w64-i686-${variant#g++-}"
fi
setup_packages
source "$root/tools/wine-env.sh"

archs=()
if [ "$only" = win32 ]; then
  can_run_arch win32 || fail "the 32-bit launcher cannot be measured: $WINE_PROBE_REASON"
  archs+=(win32)
elif [ -z "$only" ]; then
  if can_run_arch win32; then
    archs+=(win32)
  else
    echo "bench/run.sh: the 32-bit launcher is not measured: $WINE_PROBE_REASON" >&2
  fi
fi
if [ "$only" != win32 ]; then
  can_run_arch win64 || fail "the 64-bit Wine cannot run either: $WINE_PROBE_REASON"
  archs+=(win64)
fi

# The signed case: the native packer signs the bench's update with a key of
# the bench's own (made once, kept in build/bench/keys), and a second
# launcher is built with its public key, as a studio builds its own.
mkdir -p "$build/bench"
log=$build/bench/build-native.log
keys=$build/bench/keys
{ prepare_dependencies native &&
  cmake -S "$root" -B "$build/bench/native" -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
    -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" &&
  cmake --build "$build/bench/native" -j "$(nproc)" --target packer &&
  if [ ! -f "$keys/bench.key" ]; then
    rm -rf "$keys" && mkdir -p "$keys" &&
      "$build/bench/native/bin/packer" keygen "$keys/bench.key" "$keys/bench.pub"
  fi; } >"$log" 2>&1 || fail "building the packer or making the bench's key failed; see $log"
public_key=$(awk '$1 == "public" { print $2 }' "$keys/bench.pub")
[ ${#public_key} -eq 64 ] || fail "no public key in $keys/bench.pub; remove $keys and try again"

for arch in "${archs[@]}"; do
  log=$build/bench/build-$arch.log
  { "$root/tools/build.sh" --arch "$arch" &&
    cmake -S "$root/bench" -B "$build/bench/$arch" \
      $(toolchain_args "$arch") -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$build/bench/$arch" -j "$(nproc)" &&
    cmake -S "$root" -B "$build/bench/keyed-$arch" $(toolchain_args "$arch") -DCMAKE_BUILD_TYPE=Release \
      -DLAUNCHER_BUILD_TESTS=OFF -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" \
      -DLAUNCHER_UPDATE_PUBLIC_KEY="$public_key" &&
    cmake --build "$build/bench/keyed-$arch" -j "$(nproc)" --target launcher; } >"$log" 2>&1 ||
    fail "building the $arch launcher, its keyed twin or the bench programs failed; see $log"
  reference_args=()
  if [ -n "$reference" ]; then
    log=$build/bench/build-reference-$arch.log
    { rm -rf "$build/bench/reference-src" && mkdir -p "$build/bench/reference-src" &&
      git -C "$root" archive "$reference" | tar -x -C "$build/bench/reference-src" &&
      # Built with its own toolchain files, as it was built then: a commit
      # of another compiler variant may not build with today's.
      cmake -S "$build/bench/reference-src" -B "$build/bench/reference-$arch" \
        $(toolchain_args "$arch" | sed "s|$root/cmake/|$build/bench/reference-src/cmake/|") \
        -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" &&
      cmake --build "$build/bench/reference-$arch" -j "$(nproc)" --target launcher; } >"$log" 2>&1 ||
      fail "building the $arch launcher of ${reference:0:12} failed; see $log"
    reference_args=(--reference-launcher "$build/bench/reference-$arch/launcher.exe")
  fi

  # A prefix of the bench's own, so test runs and bench runs never meet.
  start_wine "$arch" "$build/bench/wineprefix-$arch" ||
    fail "could not create the $arch Wine prefix in $build/bench/wineprefix-$arch; remove it and try again"
  echo "== $arch launcher"
  in_display python3 "$root/bench/bench.py" --build "$build" --arch "$arch" \
    --keyed-launcher "$build/bench/keyed-$arch/launcher.exe" --packer "$build/bench/native/bin/packer" \
    --secret-key "$keys/bench.key" "${reference_args[@]}" "$@" ||
    { stop_wine; fail "the $arch bench run failed; see its output above"; }
  stop_wine
  echo
done
