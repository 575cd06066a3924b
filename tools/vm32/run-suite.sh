#!/usr/bin/env bash
# Runs the CTest suite of a 32-bit build tree inside the test VM, for hosts
# whose kernel cannot run 32-bit programs:
#
#   tools/vm32/run-suite.sh BUILD_DIR [CTEST_ARGS...]
#
# Builds the VM image first if it is not cached (build-image.sh). The VM gets
# the source and build trees through a shared folder, runs CTest with two Wine
# prefixes side by side, and powers off; this script prints CTest's output as
# it comes and the time of each stage, and exits with CTest's status. A VM
# that does not boot, overruns a stage or stops early is a failure (exit
# status 3), reported with its console log.
#
# The lane's settings go into the build tree through its CMake configuration
# (LAUNCHER_TEST_TIME_SCALE, LAUNCHER_TEST_RESOURCE_GROUPS) for the run, and
# back to what they were afterwards.
#
# Environment: LAUNCHER_VM32_PREFIXES (tests side by side, default 2),
# LAUNCHER_VM32_TIME_SCALE (the tests' time limits are multiplied by it,
# default 8), LAUNCHER_VM32_SUITE_LIMIT (seconds for the tests stage, default
# 2400), LAUNCHER_VM32_CACHE (image cache, default /var/cache/launcher-vm32),
# LAUNCHER_TEST_SHARDS (processes per test program, as in tools/test.sh:
# default 1, each program in as many shards as its weight, or 0, one process
# per case, when CTest arguments pick cases).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

build=${1:?usage: run-suite.sh BUILD_DIR [CTEST_ARGS...]}
shift
build=$(cd "$build" && pwd)
[ -f "$build/CTestTestfile.cmake" ] && [ -f "$build/CMakeCache.txt" ] || {
  vm32_log "$build is not a configured build tree with tests"; exit 2; }
src=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
[ -d "$src" ] || { vm32_log "the source tree of $build is missing"; exit 2; }

lane_start=$(date +%s)
image_start=$lane_start
image=$("$vm32_dir/build-image.sh") || { vm32_log "no VM image: the 32-bit suite did not run"; exit 2; }
vm32_log "stage image: $(( $(date +%s) - image_start )) s ($image)"

prefixes=${LAUNCHER_VM32_PREFIXES:-2}
if [ "$#" -eq 0 ]; then shards=${LAUNCHER_TEST_SHARDS:-1}; else shards=${LAUNCHER_TEST_SHARDS:-0}; fi
scale=${LAUNCHER_VM32_TIME_SCALE:-8}

# configure_lane SCALE GROUPS SHARDS: the build tree's test settings (CTest
# files only: nothing is rebuilt).
configure_lane() {
  cmake -DLAUNCHER_TEST_TIME_SCALE="$1" -DLAUNCHER_TEST_RESOURCE_GROUPS="$2" -DLAUNCHER_TEST_SHARDS="$3" \
    "$build" >/dev/null
}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
old_scale=$(cache_value LAUNCHER_TEST_TIME_SCALE) old_groups=$(cache_value LAUNCHER_TEST_RESOURCE_GROUPS)
old_shards=$(cache_value LAUNCHER_TEST_SHARDS)

job=$(mktemp -d "${TMPDIR:-/var/tmp}/launcher-vm32-job.XXXXXX")
keep_job=0
cleanup() {
  configure_lane "${old_scale:-1}" "$old_groups" "${old_shards:-0}" || vm32_log "could not restore the test settings of $build"
  [ -n "${vm32_pid:-}" ] && vm32_stop
  if [ "$keep_job" = 1 ]; then vm32_log "the VM's files are kept in $job"; else rm -rf "$job"; fi
}
trap cleanup EXIT
mkdir -p "$job/out" "$job/state"
configure_lane "$scale" prefix:1 "$shards" || { vm32_log "cannot configure $build for the lane"; exit 2; }

# The trees the VM needs, without what it makes itself (test results, the
# scratch folder, discovered test lists) or never reads (objects, Git).
excludes=(--exclude=.git)
case $build/ in "$src"/*) top=${build#"$src"/}; excludes+=(--exclude="./${top%%/*}") ;; esac
tar -C "$src" "${excludes[@]}" -cf "$job/src.tar" .
tar -C "$build" --exclude=./Testing --exclude=./scratch --exclude=./test-results --exclude='*_tests.cmake' \
  --exclude='*.obj' --exclude='*.o' --exclude='*.a' -cf "$job/build.tar" .
# The tests' past times let CTest start the longest first. A tree that never
# ran here borrows those of the 64-bit tree beside it: same tests, same names.
for costs in "$build/Testing/Temporary/CTestCostData.txt" "$build/../win64/Testing/Temporary/CTestCostData.txt"; do
  if [ -f "$costs" ]; then
    mkdir -p "$job/costs/Testing/Temporary"
    cp "$costs" "$job/costs/Testing/Temporary/"
    tar -C "$job/costs" -rf "$job/build.tar" ./Testing
    break
  fi
done
cp "$vm32_dir/suite-in-vm.sh" "$job/job.sh"
ctest_args=("$@")
{ printf 'src_dir=%q\nbuild_dir=%q\nprefixes=%q\ndefault_timeout=%q\n' \
    "$src" "$build" "$prefixes" $((300 * scale))
  printf 'ctest_args=('; [ "${#ctest_args[@]}" -eq 0 ] || printf '%q ' "${ctest_args[@]}"; printf ')\n'
} > "$job/job.env"

declare -A vm32_limits=([boot]=300 [unpack]=300 [prepare]=900 [tests]=${LAUNCHER_VM32_SUITE_LIMIT:-2400} [done]=120)
vm32_log "32-bit suite of $build in the VM: $prefixes Wine prefixes side by side, time limits x$scale"
vm32_start "$image" "$job" snapshot

# CTest's output as it comes.
tail -n +1 -F --pid="$vm32_pid" "$job/out/ctest.log" 2>/dev/null &
stream=$!

status=0
vm32_wait "$job" || status=$?
wait "$stream" 2>/dev/null || true
vm32_pid=
# The shards' reports of their cases, where the host's lane counts them.
rm -rf "$build/test-results"
[ ! -d "$job/out/test-results" ] || cp -r "$job/out/test-results" "$build/test-results"
[ -f "$job/state/times" ] && sed 's/^/vm32: /' "$job/state/times" >&2

if [ "$status" -ne 0 ]; then
  keep_job=1
  vm32_log "the 32-bit suite did not run to its end in the VM: FAILED"
  exit 3
fi
if [ "$(cat "$job/state/exit")" != 0 ] || [ ! -f "$job/out/status" ]; then
  keep_job=1
  vm32_log "the VM's job failed:"
  tail -n 40 "$job/state/job.log" >&2
  exit 3
fi
result=$(cat "$job/out/status")
vm32_log "32-bit lane: $(( $(date +%s) - lane_start )) s in all; CTest in the VM ended with status $result"
[ "$result" = 0 ] || keep_job=1
exit "$result"
