#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what it
# needs, builds both architectures, then runs every test of each
# architecture this host can run under Wine of that architecture, in a
# virtual X display, with a prefix of its own inside the build folder and one
# persistent wineserver. The 64-bit suite always runs. Where this host cannot
# execute 32-bit programs, the 32-bit suite runs inside an emulated VM whose
# kernel can (tools/vm32).
#
#   tools/test.sh [CTEST ARGS ...]        e.g. tools/test.sh -R RunLoop
#
# A whole run also packs the release kit from the trees it built, builds it
# again from a copy of the sources elsewhere, and compares the bytes
# (tools/release.sh --from-builds, --again).
#
# Each architecture's tests run LAUNCHER_TEST_PREFIXES (default 2) at a time,
# each in a Wine prefix of its own. A whole run starts each test program a
# few times, each process running a share of its cases (as many as its
# weight in the CMake files, times LAUNCHER_TEST_SHARDS, default 1), since a
# start under Wine, above all an emulated one, costs more than most cases; a
# run given CTest arguments lists every case as a test of its own, to pick
# from. Either way the counts are of
# cases. Every stage prints its wall time, and the run ends with all of them.
#
# LAUNCHER_32BIT chooses the 32-bit lane: auto (default: natively when this
# host runs 32-bit programs, else in the VM), native, vm, or skip, which runs
# only the static checks of the 32-bit build, for quick local runs; CI never
# skips.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
lane32=${LAUNCHER_32BIT:-auto}

step() {  # step NAME COMMAND...: runs a step, naming it when it fails
  local name=$1 rc=0; shift
  "$@" || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "test.sh: $name failed (exit status $rc); see the output above" >&2
    exit 1
  fi
}

summary=() times=()
run_start=$(date +%s)
# timed NAME COMMAND...: runs a command and records its wall time.
timed() {
  local name=$1 start rc=0; shift
  start=$(date +%s)
  "$@" || rc=$?
  times+=("$name: $(( $(date +%s) - start )) s")
  echo "== $name: $(( $(date +%s) - start )) s"
  return $rc
}

timed "packages" step "installing the packages (tools/setup-debian.sh)" "$root/tools/setup-debian.sh"
source "$root/tools/wine-env.sh"

if [ "$lane32" = skip ] && [ -n "${CI:-}" ]; then
  echo "== win32: LAUNCHER_32BIT=skip is ignored in CI: the 32-bit suite always runs"
  lane32=auto
fi
# Where the 32-bit suite will run in the VM, its image (when not cached) is
# built beside the compile: it mostly downloads and unpacks. The lane's own
# call then waits for it, or builds it again when this one failed.
image_pid=
if [ "$lane32" = vm ] || { [ "$lane32" = auto ] && ! can_run_arch win32; }; then
  mkdir -p "$build"
  echo "== win32: the VM image, beside the build (log: $build/vm32-image.log)"
  "$root/tools/vm32/build-image.sh" >"$build/vm32-image.log" 2>&1 &
  image_pid=$!
fi
timed "build" step "building (tools/build.sh)" "$root/tools/build.sh"
prefixes=${LAUNCHER_TEST_PREFIXES:-2}
if [ "$#" -eq 0 ]; then default_shards=1; else default_shards=0; fi
export LAUNCHER_TEST_SHARDS=${LAUNCHER_TEST_SHARDS:-$default_shards}

total_passed=0 total_failed=0
status=0

# lane NAME DIR COMMAND...: runs CTest for one architecture and records its
# counts: the cases of each shard's report, one for every other test.
lane() {
  local name=$1 dir=$2; shift 2
  local log=$build/test-$name.log rc=0
  echo "== $name: ctest in $dir"
  rm -rf "$dir/test-results"
  (cd "$dir" && "$@") 2>&1 | tee "$log" || rc=$?
  read -r passed failed < <(python3 "$root/tools/lane_counts.py" "$log" "$dir/test-results")
  if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi  # CTest itself failed
  if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then
    echo "test.sh: $name ran no test" >&2; failed=1
  fi
  [ "$failed" -eq 0 ] || status=1
  summary+=("$name: $passed passed, $failed failed")
  total_passed=$((total_passed + passed)); total_failed=$((total_failed + failed))
}

run_arch() {
  local arch=$1; shift
  step "creating the $arch Wine prefixes" start_wine_pool "$arch" "$build/wine-$arch" "$prefixes"
  # One prefix for each test (a CTest resource); without the resource spec
  # file, as in a plain ctest run, the setting is ignored.
  cmake -DLAUNCHER_TEST_RESOURCE_GROUPS=prefix:1 -DLAUNCHER_TEST_SHARDS="$LAUNCHER_TEST_SHARDS" "$build/$arch" >/dev/null
  lane "$arch" "$build/$arch" in_display ctest --output-on-failure --timeout 300 \
    -j "$prefixes" --resource-spec-file "$LAUNCHER_WINE_PREFIX_POOL/resources.json" "$@"
  stop_wine_pool
}

# The release kit, packed from the trees just built, and again from a copy
# of the sources at another path, sharing nothing built: the zips must be
# identical. A whole run only (no CTest arguments); LAUNCHER_RELEASE_CHECK=skip
# leaves it out of a quick local run, never in CI. The second build runs
# beside the lanes, at a lower priority, to take the cores they leave while
# they wait on Wine; it still slows the emulated VM, since the run is bound by
# the cores.
release_check=${LAUNCHER_RELEASE_CHECK:-run}
[ -z "${CI:-}" ] || release_check=run
release_pid=
if [ "$#" -eq 0 ] && [ "$release_check" != skip ]; then
  release_start=$(date +%s)
  echo "== release: tools/release.sh --from-builds, then --again beside the lanes (log: $build/release-check.log)"
  step "packing the release from the trees (tools/release.sh --from-builds)" \
    "$root/tools/release.sh" --from-builds --out "$build/release" >"$build/release-check.log" 2>&1
  nice -n 10 "$root/tools/release.sh" --again "$build/release" >>"$build/release-check.log" 2>&1 &
  release_pid=$!
elif [ "$#" -eq 0 ]; then
  echo "== release: skipped by LAUNCHER_RELEASE_CHECK=skip"
fi

# The update packer's own tests, built natively: fast, no Wine.
if [ "$#" -eq 0 ] || (cd "$build/native" && ctest -N "$@" | grep -q '^Total Tests: [1-9]'); then
  timed "native lane" lane native "$build/native" ctest --output-on-failure --timeout 300 -j "$(nproc)" "$@"
fi

timed "win64 lane" run_arch win64 "$@"

case $lane32 in
  auto|native|vm)
    if [ "$lane32" != vm ] && can_run_arch win32; then
      timed "win32 lane" run_arch win32 "$@"
    elif [ "$lane32" = native ]; then
      echo "test.sh: LAUNCHER_32BIT=native, but $WINE_PROBE_REASON" >&2
      exit 1
    else
      if [ "$lane32" = vm ]; then
        echo "== win32: in the emulated VM, as LAUNCHER_32BIT=vm asks"
      else
        echo "== win32: not runnable here ($WINE_PROBE_REASON): in the emulated VM"
      fi
      if [ -n "$image_pid" ]; then
        wait "$image_pid" || echo "== win32: the VM image built beside the build failed (see $build/vm32-image.log)"
      fi
      timed "win32 lane (VM)" lane "win32 (VM)" "$build/win32" "$root/tools/vm32/run-suite.sh" "$build/win32" "$@"
    fi
    ;;
  skip)
    echo "== win32: skipped by LAUNCHER_32BIT=skip; running the checks that need no execution"
    lane "win32 (static checks only)" "$build/win32/tests/static" ctest --output-on-failure
    ;;
  *) echo "test.sh: LAUNCHER_32BIT must be auto, native, vm or skip" >&2; exit 2 ;;
esac

if [ -n "$release_pid" ]; then
  release_status=0
  wait "$release_pid" || release_status=$?
  echo "== release: tools/release.sh --again ended with status $release_status"
  tail -n 20 "$build/release-check.log"
  times+=("release check (beside the lanes): $(( $(date +%s) - release_start )) s")
  if [ "$release_status" -eq 0 ]; then
    summary+=("release: built twice, identical: passed"); total_passed=$((total_passed + 1))
  else
    summary+=("release: built twice: FAILED (see $build/release-check.log)"); total_failed=$((total_failed + 1)); status=1
  fi
fi

echo
echo "== summary"
for line in "${summary[@]}"; do echo "$line"; done
echo
echo "== wall times"
for line in "${times[@]}"; do echo "$line"; done
echo "whole run: $(( $(date +%s) - run_start )) s"
echo "total: $total_passed passed, $total_failed failed"
exit $status
