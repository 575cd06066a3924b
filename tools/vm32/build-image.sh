#!/usr/bin/env bash
# Builds the Debian VM that runs the 32-bit tests on hosts whose kernel cannot
# run 32-bit programs, from the Debian archive this machine's apt sources
# already name, and caches it outside the clone (LAUNCHER_VM32_CACHE, default
# /var/cache/launcher-vm32), keyed by what it is built from. Does nothing when
# that image is cached. Prints the image folder. Needs root, debootstrap,
# e2fsprogs and qemu-system-x86.
#
# The image: a minimal root file system with a kernel, 32-bit Wine, Xvfb and
# CTest, as an ext4 image; the kernel and initrd beside it for direct boot;
# guest-init as PID 1, which runs whatever job the host shares.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  vm32_log "build-image.sh: run as root (debootstrap and chroot need it)"
  exit 1
fi
for tool in debootstrap mke2fs qemu-system-x86_64 flock; do
  command -v "$tool" >/dev/null || { vm32_log "build-image.sh: '$tool' is missing; run tools/setup-debian.sh"; exit 1; }
done

vm32_locate_image
if [ -f "$vm32_image/ready" ]; then
  echo "$vm32_image"
  exit 0
fi

mkdir -p "$vm32_cache_root"
exec 9>"$vm32_cache_root/.lock"
if ! flock -n 9; then
  vm32_log "another run is building the image; waiting for it"
  flock -w 3600 9 || { vm32_log "the other image build did not end within an hour"; exit 1; }
fi
if [ -f "$vm32_image/ready" ]; then  # built meanwhile by another run
  echo "$vm32_image"
  exit 0
fi

work=$(mktemp -d "$vm32_cache_root/.build.XXXXXX")
root=$work/root
cleanup() {
  local m
  for m in proc sys dev/pts; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

stage_start=$(date +%s)
stage_done() {
  local now; now=$(date +%s)
  vm32_log "image stage $1: $((now - stage_start)) s"
  stage_start=$now
}

vm32_log "building the image $vm32_image ($vm32_codename, Release of $vm32_release)"
timeout 1800 debootstrap --variant=minbase --arch=amd64 "$vm32_codename" "$root" "$vm32_mirror" >"$work/debootstrap.log" 2>&1 || {
  vm32_log "debootstrap failed or overran 30 min"; tail -n 30 "$work/debootstrap.log" >&2; exit 1; }
stage_done debootstrap

echo "deb $vm32_mirror $vm32_codename main" > "$root/etc/apt/sources.list"
echo launcher-vm32 > "$root/etc/hostname"
# No documentation, manual pages or translations: nobody reads them in there.
cat > "$root/etc/dpkg/dpkg.cfg.d/launcher-vm32-nodoc" <<'CFG'
path-exclude=/usr/share/doc/*
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
path-exclude=/usr/share/locale/*
path-include=/usr/share/locale/locale.alias
CFG
# The initrd only has to find an ext4 root on a virtio disk.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo "MODULES=list" > "$root/etc/initramfs-tools/conf.d/launcher-vm32.conf"
printf '%s\n' virtio_pci virtio_blk ext4 > "$root/etc/initramfs-tools/modules"
# No services start inside the chroot.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount -t devpts devpts "$root/dev/pts"
# in_root LIMIT COMMAND...: runs a command in the chroot, for at most LIMIT s.
in_root() {
  local limit=$1; shift
  timeout "$limit" chroot "$root" env DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 \
    PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
in_root 60 dpkg --add-architecture i386
mapfile -t packages < <(sed 's/#.*//; /^[[:space:]]*$/d' "$vm32_dir/guest-packages")
in_root 600 apt-get update -q >"$work/apt.log" 2>&1 || {
  vm32_log "apt-get update in the image failed"; tail -n 30 "$work/apt.log" >&2; exit 1; }
# On a host that cannot run 32-bit programs, the maintainer scripts of some
# i386 packages fail here ("Exec format error"); the VM's first boot
# configures them for real, so only a failure to unpack is fatal.
for attempt in 1 2 3; do
  if in_root 2400 apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-confnew "${packages[@]}" >>"$work/apt.log" 2>&1; then
    break
  fi
  vm32_log "package installation, attempt $attempt, did not finish cleanly (see below); continuing"
  grep -E '^(E:|dpkg: error)' "$work/apt.log" | tail -n 5 >&2 || true
  in_root 600 dpkg --configure -a >>"$work/apt.log" 2>&1 || true
done
for p in "${packages[@]}"; do
  in_root 60 dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qE 'install ok (installed|unpacked|half-configured)' || {
    vm32_log "package $p is not in the image"; tail -n 40 "$work/apt.log" >&2; exit 1; }
done
in_root 60 apt-get clean
rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d"
stage_done packages

install -m 0755 "$vm32_dir/guest-init" "$root/usr/local/sbin/launcher-vm-init"
kernel=$(ls "$root"/boot/vmlinuz-* | sort -V | tail -n 1)
initrd=$root/boot/initrd.img-${kernel##*/vmlinuz-}
[ -f "$initrd" ] || { vm32_log "the kernel package made no initrd"; exit 1; }
cp "$kernel" "$work/vmlinuz"
cp "$initrd" "$work/initrd.img"
for m in dev/pts sys proc; do umount "$root/$m"; done

# Room for the tests' scratch files, prefixes and the copy of the build; the
# image file is sparse, so the room costs nothing until used.
size_mb=$(( $(du -sm "$root" | cut -f1) + 6144 ))
mke2fs -q -t ext4 -L launcher-vm32 -d "$root" "$work/rootfs.img" "${size_mb}M" >/dev/null
rm -rf "$root"
stage_done filesystem

# First boot: finishes what the chroot could not configure, proves that the
# image boots and runs 32-bit Wine before it is cached, and makes the Wine
# prefix the test runs start from (a minute or more of emulated time saved
# on every run), with the project's own Wine set-up.
job=$work/first-boot
mkdir -p "$job"
cp "$vm32_dir/../wine-env.sh" "$job/wine-env.sh"
cat > "$job/job.sh" <<'JOB'
set -eu
echo first-boot >> /job/state/stages
dpkg --configure -a
if dpkg --audit | grep -q .; then dpkg --audit; exit 1; fi
test -x /usr/bin/Xvfb && test -x /usr/bin/ctest
source /job/wine-env.sh
start_wine win32 /var/lib/launcher-vm32/wineprefix
stop_wine
wineserver -w
test -f /var/lib/launcher-vm32/wineprefix/system.reg
/usr/lib/wine/wine --version
JOB
declare -A vm32_limits=([boot]=300 [first-boot]=900)
vm32_start "$work" "$job" writable
if ! vm32_wait "$job"; then
  vm32_log "the new image failed its first boot"
  exit 1
fi
if [ "$(cat "$job/state/exit")" != 0 ]; then
  vm32_log "the first boot's checks failed:"
  cat "$job/state/job.log" >&2
  exit 1
fi
vm32_log "32-bit Wine in the image: $(tail -n 1 "$job/state/job.log")"
stage_done first-boot

{ echo "codename=$vm32_codename"; echo "release=$vm32_release"; echo "built=$(date -u +%FT%TZ)"; } > "$work/ready"
rm -rf "$job"
chmod 0755 "$work"
mv -T "$work" "$vm32_image"
trap - EXIT
# Keep this image and the one used before it (another branch may use that).
ls -1dt "$vm32_cache_root"/*-* 2>/dev/null | tail -n +3 | while read -r old; do rm -rf "$old"; done
echo "$vm32_image"
