# Sourced by the scripts of the 32-bit test VM: where its image is cached and
# what it is keyed by, and how a VM is started and watched.

vm32_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$vm32_dir/../lib.sh"  # apt_entries
vm32_cache_root=${LAUNCHER_VM32_CACHE:-/var/cache/launcher-vm32}

vm32_log() { echo "vm32: $*" >&2; }

vm32_codename() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

# The archive the machine already installs its release from.
vm32_mirror() {
  local codename=$1
  apt_entries | awk -v s="$codename" '$2 == s { sub(/\/+$/, "", $1); print $1; exit }'
}

# The Date of the archive's Release file for the suite: fetched afresh by apt's
# own downloader, else the one apt last saw on this machine.
vm32_release_date() {
  local mirror=$1 codename=$2 tmp date=
  tmp=$(mktemp)
  if timeout 60 /usr/lib/apt/apt-helper download-file "$mirror/dists/$codename/InRelease" "$tmp" >/dev/null 2>&1; then
    date=$(sed -n 's/^Date: //p' "$tmp" | head -n 1)
  fi
  rm -f "$tmp"
  if [ -z "$date" ]; then
    local list
    list=/var/lib/apt/lists/$(echo "$mirror" | sed 's|^[a-z+]*://||; s|/|_|g')_dists_${codename}_InRelease
    [ -f "$list" ] && date=$(sed -n 's/^Date: //p' "$list" | head -n 1)
  fi
  echo "$date"
}

# Sets vm32_image to the cache folder of the image built from what this
# machine would build it from now: the image's build script, init and package
# list, the Wine set-up its prefix is made with, the release, and the
# archive's state. (How a VM is started is not part of the image.)
vm32_locate_image() {
  local codename mirror date key
  codename=$(vm32_codename)
  mirror=$(vm32_mirror "$codename")
  if [ -z "$mirror" ]; then
    vm32_log "no apt source of Debian '$codename' on this machine to build the VM from"
    return 1
  fi
  date=$(vm32_release_date "$mirror" "$codename")
  if [ -z "$date" ]; then
    vm32_log "cannot read the Release date of '$codename' from $mirror"
    return 1
  fi
  key=$( { echo "$codename $mirror $date"
           cat "$vm32_dir/build-image.sh" "$vm32_dir/guest-init" "$vm32_dir/guest-packages" \
               "$vm32_dir/../wine-env.sh"
         } | sha256sum | cut -c1-16)
  vm32_codename=$codename vm32_mirror=$mirror vm32_release=$date
  vm32_image=$vm32_cache_root/$codename-$key
}

# Starts the VM of image folder $1 in the background with the job folder $2
# shared as "job"; $3 = snapshot (changes discarded) or writable. Sets vm32_pid.
# The console goes to $2/console.log.
vm32_start() {
  local image=$1 job=$2 mode=$3 drive
  drive="file=$image/rootfs.img,format=raw,if=virtio,cache=unsafe"
  [ "$mode" = snapshot ] && drive+=",snapshot=on"
  mkdir -p "$job/state"
  : > "$job/console.log"
  vm32_log "starting the VM ($mode image $image)"
  # Full emulation (TCG): on this kind of machine /dev/kvm opens, but a guest
  # nested in it hangs at its start. SMAP off: with it, every 32-bit process
  # oops on its return to user mode under emulation.
  qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m 4096 \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 panic=-1 init=/usr/local/sbin/launcher-vm-init loglevel=4" \
    -drive "$drive" \
    -virtfs "local,path=$job,mount_tag=job,security_model=none" \
    -display none -monitor none -serial "file:$job/console.log" \
    -nic none -no-reboot </dev/null >"$job/qemu.log" 2>&1 &
  vm32_pid=$!
}

vm32_console_tail() {
  local job=$1
  echo "---- VM console (last 60 lines of $job/console.log) ----" >&2
  tail -n 60 "$job/console.log" >&2
  if [ -s "$job/qemu.log" ]; then echo "---- qemu ----" >&2; cat "$job/qemu.log" >&2; fi
  if [ -s "$job/state/job.log" ]; then echo "---- job (last 40 lines) ----" >&2; tail -n 40 "$job/state/job.log" >&2; fi
  echo "----" >&2
}

vm32_stop() {
  kill "$vm32_pid" 2>/dev/null || return 0
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$vm32_pid" 2>/dev/null || break; sleep 1; done
  kill -9 "$vm32_pid" 2>/dev/null
  wait "$vm32_pid" 2>/dev/null
}

# Watches the VM started by vm32_start until it powers off. Limits in seconds
# come from the associative array vm32_limits: "boot" until the job starts,
# then one per stage the job enters (a line "<name>" appended to
# state/stages). Prints each stage's time. Returns 0 when the job ran to its
# end (its status is in state/exit), 1 when the VM did not boot, overran a
# limit or stopped without a result; then the console log's tail is printed.
vm32_wait() {
  local job=$1 start now stage=boot stage_start seen=0 lines
  start=$(date +%s); stage_start=$start
  while kill -0 "$vm32_pid" 2>/dev/null; do
    sleep 1
    now=$(date +%s)
    if [ "$stage" = boot ] && [ -f "$job/state/booted" ]; then
      vm32_log "stage boot: $((now - stage_start)) s"
      stage=job; stage_start=$now
    fi
    if [ "$stage" != boot ] && [ -f "$job/state/stages" ]; then
      lines=$(wc -l < "$job/state/stages")
      while [ "$seen" -lt "$lines" ]; do
        seen=$((seen + 1))
        [ "$stage" = job ] || vm32_log "stage $stage: $((now - stage_start)) s"
        stage=$(sed -n "${seen}p" "$job/state/stages"); stage_start=$now
      done
    fi
    local limit=${vm32_limits[$stage]:-${vm32_limits[job]:-600}}
    if [ $((now - stage_start)) -gt "$limit" ]; then
      if [ "$stage" = boot ]; then
        vm32_log "the VM did not boot within $limit s"
      else
        vm32_log "stage '$stage' did not end within $limit s; stopping the VM"
      fi
      vm32_stop
      vm32_console_tail "$job"
      return 1
    fi
  done
  wait "$vm32_pid" 2>/dev/null
  now=$(date +%s)
  if [ ! -f "$job/state/exit" ]; then
    if [ "$stage" = boot ]; then
      vm32_log "the VM stopped before it ran its job"
    else
      vm32_log "the VM stopped during stage '$stage', before its job ended"
    fi
    vm32_console_tail "$job"
    return 1
  fi
  [ "$stage" = job ] || vm32_log "stage $stage: $((now - stage_start)) s"
  vm32_log "VM up to power-off: $((now - start)) s"
  return 0
}
