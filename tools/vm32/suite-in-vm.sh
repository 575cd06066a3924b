#!/usr/bin/env bash
# The job of the 32-bit test VM (run by its init as /job/job.sh): unpacks the
# source tree and the build tree the host shares, at the host's own paths,
# since the CTest files name them; then runs the CTest suite in shards side by
# side. Each shard has its own Wine prefix and wineserver (tests of one prefix
# would share its registry, mutexes and application-data folder) and its own
# copy of the build tree, mounted at the build's path in a mount namespace of
# its own.
#
# Settings come from /job/job.env: src_dir, build_dir, shards, time_scale,
# default_timeout and the array ctest_args. Results go to /job/out: shard<i>.log
# (CTest's output) and shard<i>.status (its exit status).
set -u
source /job/job.env
export LAUNCHER_TEST_TIME_SCALE=$time_scale

stage() { echo "$1" >> /job/state/stages; }

# The CTest time limits of a build tree, times the scale: each test's TIMEOUT
# and the limit of the tests' discovery, as CMake wrote them.
scale_time_limits() {
  find "$1" \( -name '*_include.cmake' -o -name CTestTestfile.cmake \) -print0 |
    S=$time_scale xargs -0 -r perl -pi -e '
      s/(TEST_DISCOVERY_TIMEOUT \[=*\[)(\d+)/$1.($2*$ENV{S})/ge;
      s/((?:\[=*\[|;)TIMEOUT;)(\d+)/$1.($2*$ENV{S})/ge;
      s/(\bTIMEOUT ")(\d+)/$1.($2*$ENV{S})/ge;'
}

# A shard's Wine prefix, and its tests discovered (each test program lists
# its cases under Wine). The prefix lies inside the mounted build tree: hard
# links between the tests' scratch folder and the prefix's drive C cannot
# cross mounts.
prepare_shard() {
  local i=$1 home=/vm/shard$1 t0 t1 t2
  mount --bind "$home/build" "$build_dir" || return 1
  make_working_folders
  source "$src_dir/tools/wine-env.sh" || return 1
  t0=$(date +%s)
  # The image's prefix, made with this same set-up when the image was built.
  if [ -f /var/lib/launcher-vm32/wineprefix/system.reg ]; then
    mkdir -p "$build_dir/vm32" && cp -a /var/lib/launcher-vm32/wineprefix "$build_dir/vm32/wineprefix"
  fi
  start_wine win32 "$build_dir/vm32/wineprefix" > "$home/prefix.log" 2>&1 || { cat "$home/prefix.log"; return 1; }
  t1=$(date +%s)
  cd "$build_dir" && ctest -N > "$home/discovery.log" 2>&1
  t2=$(date +%s)
  echo "shard $i: Wine prefix $((t1 - t0)) s, test discovery $((t2 - t1)) s" >> /job/state/times
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
  find "$1" -name CTestTestfile.cmake -print0 |
    xargs -0 -r perl -ne 'print "$1\n" if /^add_test\(\S+ "(\/[^"]+)"/' | sort -u |
    while read -r program; do
      [ -e "$program" ] && continue
      local own
      own=$(command -v "${program##*/}") || continue
      mkdir -p "${program%/*}" && ln -s "$own" "$program"
    done
}

run_shard() {
  local i=$1 prepared=1 waited=0
  prepare_shard "$i" > "/job/out/shard$i.log" 2>&1 || prepared=0
  # Shards start their tests together, none of them while another is still
  # making its prefix.
  touch "/run/vm32/prepared.$i"
  while [ "$(ls /run/vm32 | grep -c '^prepared\.')" -lt "$shards" ] && [ $waited -lt 1800 ]; do
    sleep 1; waited=$((waited + 1))
  done
  [ "$i" = 1 ] && stage tests
  if [ $prepared = 0 ]; then
    echo "shard $i: preparing the build tree or the Wine prefix failed" >> "/job/out/shard$i.log"
    echo 1 > "/job/out/shard$i.status"
    return 1
  fi
  xvfb-run -n $((90 + i)) -s "-screen 0 1024x768x24" \
    ctest --output-on-failure --timeout "$default_timeout" -I "$i,,$shards" "${ctest_args[@]}" \
    >> "/job/out/shard$i.log" 2>&1 </dev/null
  echo $? > "/job/out/shard$i.status"
  stop_wine
}

if [ "${1:-}" = shard ]; then
  run_shard "$2"
  exit $?
fi

stage unpack
mkdir -p /job/out /run/vm32 "$src_dir"
tar -xf /job/src.tar -C "$src_dir" || exit 1
for i in $(seq 1 "$shards"); do
  mkdir -p "/vm/shard$i/build"
  tar -xf /job/build.tar -C "/vm/shard$i/build" || exit 1
  scale_time_limits "/vm/shard$i/build"
done
link_host_programs /vm/shard1/build
mkdir -p "$build_dir"

stage prepare
pids=()
for i in $(seq 1 "$shards"); do
  unshare -m bash /job/job.sh shard "$i" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
stage done
