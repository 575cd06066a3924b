#!/usr/bin/env bash
# The job of the 32-bit test VM (run by its init as /job/job.sh): unpacks the
# source and build trees the host shares at the host's own paths, since the
# CTest files name them, and runs CTest there with several Wine prefixes side
# by side. CTest hands each test one prefix (the resource "prefix"), so tests
# that share a prefix, and with it its registry, mutexes and application-data
# folder, never run at the same time.
#
# The host configured the build tree for this lane (run-suite.sh): time
# limits scaled, one "prefix" resource per test. Settings come from
# /job/job.env: src_dir, build_dir, prefixes, default_timeout and the array
# ctest_args. CTest's output goes to
# /job/out/ctest.log as it is written, its exit status to /job/out/status.
set -u
source /job/job.env
# tests/run-in-wine.sh takes each test's prefix from this pool.
export LAUNCHER_WINE_PREFIX_POOL=/vm WINEPREFIX=/vm/prefix1/wineprefix

stage() { echo "$1" >> /job/state/stages; }

# The folders CTest runs tests and their discovery in, as CMake named them;
# those in the build's scratch folder, which is not copied, are made here.
make_working_folders() {
  find "$build_dir" \( -name '*_include.cmake' -o -name CTestTestfile.cmake \) -print0 |
    xargs -0 -r perl -ne 'print "$1\n" while /(?:TEST_WORKING_DIR \[=*\[|WORKING_DIRECTORY ")([^"\]]+)/g' |
    sort -u | while read -r folder; do mkdir -p "$folder"; done
}

# Programs the CTest files name by a host path the VM lacks (an interpreter
# under a version manager of the host, say) become the VM's own program of
# that name.
link_host_programs() {
  find "$build_dir" -name CTestTestfile.cmake -print0 |
    xargs -0 -r perl -ne 'print "$1\n" if /^add_test\(\S+ "(\/[^"]+)"/' | sort -u |
    while read -r program; do
      [ -e "$program" ] && continue
      local own
      own=$(command -v "${program##*/}") || continue
      mkdir -p "${program%/*}" && ln -s "$own" "$program"
    done
}

stage unpack
mkdir -p /job/out "$src_dir" "$build_dir"
tar -xf /job/src.tar -C "$src_dir" || exit 1
tar -xf /job/build.tar -C "$build_dir" || exit 1
make_working_folders
link_host_programs

stage prepare
source "$src_dir/tools/wine-env.sh" || exit 1
t0=$(date +%s)
mkdir -p /vm
# Copies of the prefix made with this same set-up when the image was built,
# on the VM's one file system, like the scratch folder: tests hard-link across.
( start_wine_pool win32 /vm "$prefixes" /var/lib/launcher-vm32/wineprefix ) > /vm/prefixes.log 2>&1 || {
  echo "the Wine prefixes could not be made:" >> /job/out/ctest.log
  cat /vm/prefixes.log >> /job/out/ctest.log
  echo 1 > /job/out/status
  exit 1
}
echo "Wine prefixes: $(( $(date +%s) - t0 )) s" >> /job/state/times
t0=$(date +%s)
# The tests' discovery: each test program lists its cases under Wine.
(cd "$build_dir" && ctest -N > /vm/discovery.log 2>&1)
echo "test discovery: $(( $(date +%s) - t0 )) s" >> /job/state/times

stage tests
cd "$build_dir" || exit 1
xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --output-on-failure --timeout "$default_timeout" -j "$prefixes" --resource-spec-file /vm/resources.json \
  "${ctest_args[@]}" > /job/out/ctest.log 2>&1 </dev/null
echo $? > /job/out/status
[ ! -d "$build_dir/test-results" ] || cp -r "$build_dir/test-results" /job/out/
stop_wine_pool
stage done
