#!/usr/bin/env bash
# Unpacks Debian's libsodium source package, with Debian's patches applied,
# into the given folder (once) and generates its configure script as Debian's
# own build does (autoreconf). Needs the deb-src entry and the autotools that
# setup-debian.sh installs.
set -euo pipefail
dest=${1:?usage: fetch-libsodium.sh DEST}
if [ -x "$dest/configure" ] && [ -f "$dest/.fetched" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -q libsodium >/dev/null 2>&1) || {
  echo "fetch-libsodium.sh: 'apt-get source libsodium' failed; run tools/setup-debian.sh first" >&2
  exit 1
}
src=$(find "$work" -maxdepth 1 -type d -name 'libsodium-*' | head -n 1)
[ -n "$src" ] || { echo "fetch-libsodium.sh: no unpacked source found" >&2; exit 1; }
(cd "$src" && autoreconf -fi >"$work/autoreconf.log" 2>&1) || {
  cat "$work/autoreconf.log" >&2
  echo "fetch-libsodium.sh: autoreconf failed" >&2
  exit 1
}
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
cp -a "$src" "$dest"
basename "$(ls "$work"/*.dsc)" > "$dest/.fetched"
