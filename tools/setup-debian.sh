#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on a Debian 12
# machine, as root. Safe to run again: each step checks what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-debian.sh: run as root (it installs packages with apt-get)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# TinyXML and libsodium are built from Debian's source packages, so apt needs
# a deb-src entry.
# It is derived from the machine's own binary entries (same archive, same
# suites), so no archive host is written down here.
src_list=/etc/apt/sources.list.d/launcher-deb-src.sources
if [ ! -s "$src_list" ]; then
  tmp=$(mktemp)
  # deb822 files: every stanza whose Types names deb, with deb-src instead.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
    awk 'BEGIN { RS=""; ORS="\n\n" }
         /(^|\n)Types:[^\n]*[ \t]deb([ \t\n]|$)/ || /(^|\n)Types:[ \t]*deb([ \t\n]|$)/ {
           gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >>"$tmp"
  done
  # one-line lists: "deb [opts] URI suite components" becomes "deb-src ...",
  # written in the deb822 form.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" && $2 !~ /^\[/ {
           printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $2, $3
           for (i = 4; i <= NF && $i !~ /^#/; i++) printf " %s", $i
           printf "\n\n" }' "$f" >>"$tmp"
  done
  if ! grep -q '^URIs:.*debian' "$tmp"; then
    echo "setup-debian.sh: no Debian archive in the apt sources to take source packages from" >&2
    rm -f "$tmp"; exit 1
  fi
  install -m 0644 "$tmp" "$src_list"
  rm -f "$tmp"
  need_update=1
fi

# Only the posix-thread mingw-w64 compilers: the plain gcc-mingw-w64-*
# packages would make the win32-thread ones the default, and those cannot
# build GoogleTest.
packages=(
  cmake make python3 dpkg-dev file
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev
  # libsodium is built from Debian's source package for Windows (autotools)
  autoconf automake libtool
  g++ zlib1g-dev libsodium-dev
  googletest
  wine wine64 wine32:i386
  xvfb xauth
  # the VM that runs the 32-bit tests where this kernel cannot (tools/vm32)
  qemu-system-x86 debootstrap e2fsprogs
)
packages+=(${LAUNCHER_EXTRA_PACKAGES:-})

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" -eq 1 ]; then
  apt-get update -q >/dev/null
fi
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
