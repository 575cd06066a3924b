#!/usr/bin/env bash
# The job of the 32-bit test VM (run by its init as /job/job.sh): unpacks the
# source and build trees the host shares at the host's own paths, since the
# CTest files name them, and runs CTest there with several Wine prefixes side
# by side. CTest hands each test one prefix (the resource "prefix"), so tests
# that share a prefix, and with it its registry, mutexes and application-data
# folder, never run at the same time.
#
# Settings come from /job/job.env: src_dir, build_dir, prefixes, time_scale,
# default_timeout and the array ctest_args. CTest's output goes to
# /job/out/ctest.log as it is written, its exit status to /job/out/status.
set -u
source /job/job.env
export LAUNCHER_TEST_TIME_SCALE=$time_scale
in_prefix=/usr/local/bin/launcher-vm32-in-prefix

stage() { echo "$1" >> /job/state/stages; }

# The CTest files of the build tree, made for the VM: every time limit (each
# test's and the discovery's) times the scale; the tests run through
# $in_prefix and ask for one prefix each.
adapt_ctest_files() {
  find "$build_dir" \( -name '*_include.cmake' -o -name CTestTestfile.cmake \) -print0 |
    S=$time_scale P=$in_prefix xargs -0 -r perl -pi -e '
      s/(TEST_DISCOVERY_TIMEOUT \[=*\[)(\d+)/$1.($2*$ENV{S})/ge;
      s/((?:\[=*\[|;)TIMEOUT;)(\d+)/$1.($2*$ENV{S})/ge;
      s/(\bTIMEOUT ")(\d+)/$1.($2*$ENV{S})/ge;
      s/(TEST_EXECUTOR \[=*\[)(?=[^\]])/$1$ENV{P};/;
      s/(TEST_PROPERTIES \[=*\[)/$1RESOURCE_GROUPS;prefix:1;/;'
}

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
adapt_ctest_files
make_working_folders
link_host_programs
cat > "$in_prefix" <<'WRAPPER'
#!/bin/sh
# Runs a test in the Wine prefix CTest gave it (prefix 1 for the discovery).
id=1
case ${CTEST_RESOURCE_GROUP_0_PREFIX:-} in id:*) id=${CTEST_RESOURCE_GROUP_0_PREFIX#id:}; id=${id%%,*} ;; esac
WINEPREFIX=/vm/prefix$id/wineprefix exec "$@"
WRAPPER
chmod +x "$in_prefix"

stage prepare
source "$src_dir/tools/wine-env.sh" || exit 1
slots=
for id in $(seq 1 "$prefixes"); do
  t0=$(date +%s)
  # The prefix made with this same set-up when the image was built. On the
  # VM's one file system, like the scratch folder: tests hard-link across.
  mkdir -p "/vm/prefix$id"
  if [ -f /var/lib/launcher-vm32/wineprefix/system.reg ]; then
    cp -a /var/lib/launcher-vm32/wineprefix "/vm/prefix$id/wineprefix"
  fi
  ( start_wine win32 "/vm/prefix$id/wineprefix" ) > "/vm/prefix$id.log" 2>&1 || {
    echo "the Wine prefix $id could not be made:" >> /job/out/ctest.log
    cat "/vm/prefix$id.log" >> /job/out/ctest.log
    echo 1 > /job/out/status
    exit 1
  }
  echo "Wine prefix $id: $(( $(date +%s) - t0 )) s" >> /job/state/times
  slots+="${slots:+, }{\"id\": \"$id\", \"slots\": 1}"
done
echo "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"prefix\": [$slots]}]}" > /vm/resources.json
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
for id in $(seq 1 "$prefixes"); do WINEPREFIX=/vm/prefix$id/wineprefix wineserver -k 2>/dev/null; done
stage done
