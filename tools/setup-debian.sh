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

# TinyXML is built from Debian's source package, so apt needs a deb-src entry.
src_list=/etc/apt/sources.list.d/launcher-deb-src.sources
if [ ! -f "$src_list" ]; then
  cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

packages=(
  cmake make python3 dpkg-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-i686-dev libz-mingw-w64-dev
  googletest
  wine wine32:i386
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" -eq 1 ]; then
  apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
