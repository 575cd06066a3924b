#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on a Debian 12
# machine. Safe to run again: each step checks what is already there, and
# only a step that changes the machine needs root.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

export DEBIAN_FRONTEND=noninteractive

# as_root WHAT: stops unless root, saying what needs it.
as_root() {
  [ "$(id -u)" -eq 0 ] || fail "$1 needs root: run tools/setup-debian.sh as root once"
}

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root "adding the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi

# TinyXML and libsodium are built from Debian's source packages, so apt needs
# a deb-src entry.
# It is derived from the machine's own binary entries (same archive, same
# suites), so no archive host is written down here.
src_list=/etc/apt/sources.list.d/launcher-deb-src.sources
if [ ! -s "$src_list" ]; then
  as_root "adding a deb-src entry for the source packages"
  tmp=$(mktemp)
  # One deb-src stanza per binary entry (same archive, suite, components, key).
  apt_entries | awk '!seen[$1 " " $2]++ {
      printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $1, $2
      for (i = 4; i <= NF; i++) printf " %s", $i
      printf "\n"; if ($3 != "-") printf "Signed-By: %s\n", $3; printf "\n" }' >"$tmp"
  if ! grep -q '^URIs:.*debian' "$tmp"; then
    echo "setup-debian.sh: no Debian archive in the apt sources to take source packages from" >&2
    rm -f "$tmp"; exit 1
  fi
  install -m 0644 "$tmp" "$src_list"
  rm -f "$tmp"
  need_update=1
fi

# The win32-thread mingw-w64 compilers, named by the toolchain file: their
# runtime links no libwinpthread, so the launcher starts on Windows 2000.
packages=(
  cmake make python3 dpkg-dev file
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev
  # libsodium is built from Debian's source package for Windows (autotools)
  autoconf automake libtool
  g++ zlib1g-dev libsodium-dev
  googletest
  # the release kit: signing, and the certificate of its test
  osslsigncode openssl
  wine wine64
  xvfb xauth
  # the download tests' web server, run privately by tests/feed/server
  # (the system's nginx service is not used)
  nginx
  # the VM that runs the 32-bit tests where this kernel cannot (tools/vm32)
  qemu-system-x86 debootstrap e2fsprogs
)
packages+=(${LAUNCHER_EXTRA_PACKAGES:-})

# The 32-bit Wine is wanted only where this kernel runs 32-bit programs;
# elsewhere the 32-bit suite runs in the emulated VM (tools/vm32), which
# brings its own.
optional=(wine32:i386)

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do is_installed "$p" || missing+=("$p"); done
missing_optional=()
for p in "${optional[@]}"; do is_installed "$p" || missing_optional+=("$p"); done

if [ "${#missing[@]}" -gt 0 ]; then
  as_root "installing ${missing[*]}"
fi
if [ "${#missing_optional[@]}" -gt 0 ] && [ "$(id -u)" -ne 0 ]; then
  echo "setup: ${missing_optional[*]} is not installed (that needs root); the 32-bit suite will run in the emulated VM" >&2
  missing_optional=()
fi

# A mirror caught mid-sync fails a fetch ("File has unexpected size") for a
# while: such a failure is tried again before the setup gives up.
apt_retrying() {
  local attempt
  for attempt in 1 2 3; do
    "$@" >/dev/null && return 0
    if [ "$attempt" -lt 3 ]; then
      echo "setup: '$*' failed; trying again in $((attempt * 20)) s" >&2
      sleep $((attempt * 20))
    fi
  done
  return 1
}
# Only what is needed refreshes the lists: an optional package that could not
# be had is tried again from the lists there are, which fails in seconds.
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" -eq 1 ]; then
  # A list that stays stale is not fatal in itself: the installs below tell
  # whether what is needed can still be had.
  apt_retrying apt-get update -q ||
    echo "setup: some package lists could not be refreshed; installing from those there are" >&2
fi
if [ "${#missing[@]}" -gt 0 ]; then
  apt_retrying apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ "${#missing_optional[@]}" -gt 0 ] &&
   ! apt-get install -y -q --no-install-recommends "${missing_optional[@]}" >/dev/null; then
  echo "setup: ${missing_optional[*]} could not be installed; the 32-bit suite will run in the emulated VM" >&2
fi
