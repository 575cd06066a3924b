#!/usr/bin/env bash
# Unpacks Debian's tinyxml source package, with Debian's patches applied, into
# the given folder (once). Needs the deb-src entry that setup-debian.sh adds.
set -euo pipefail
dest=${1:?usage: fetch-tinyxml.sh DEST}
if [ -f "$dest/tinyxml.h" ] && [ -f "$dest/.fetched" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -q tinyxml >/dev/null 2>&1) || {
  echo "fetch-tinyxml.sh: 'apt-get source tinyxml' failed; run tools/setup-debian.sh first" >&2
  exit 1
}
src=$(find "$work" -maxdepth 1 -type d -name 'tinyxml-*' | head -n 1)
[ -n "$src" ] || { echo "fetch-tinyxml.sh: no unpacked source found" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
cp -a "$src" "$dest"
basename "$(ls "$work"/*.dsc)" > "$dest/.fetched"
