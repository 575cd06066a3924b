#!/usr/bin/env bash
# Unpacks a Debian source package, with Debian's patches applied, into the
# given folder (once). With --autoreconf it also generates the configure
# script as Debian's own build does. Needs the deb-src entry (and, for
# --autoreconf, the autotools) that setup-debian.sh installs.
#
#   fetch-source.sh PACKAGE DEST [--autoreconf]
set -euo pipefail
package=${1:?usage: fetch-source.sh PACKAGE DEST [--autoreconf]}
dest=${2:?usage: fetch-source.sh PACKAGE DEST [--autoreconf]}
autoreconf=${3:-}
if [ -f "$dest/.fetched" ] && { [ -z "$autoreconf" ] || [ -x "$dest/configure" ]; }; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -q "$package" >/dev/null 2>&1) || {
  echo "fetch-source.sh: 'apt-get source $package' failed; run tools/setup-debian.sh first" >&2
  exit 1
}
src=$(find "$work" -maxdepth 1 -type d -name "$package-*" | head -n 1)
[ -n "$src" ] || { echo "fetch-source.sh: no unpacked source of $package found" >&2; exit 1; }
if [ -n "$autoreconf" ]; then
  (cd "$src" && autoreconf -fi >"$work/autoreconf.log" 2>&1) || {
    cat "$work/autoreconf.log" >&2
    echo "fetch-source.sh: autoreconf of $package failed" >&2
    exit 1
  }
fi
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
cp -a "$src" "$dest"
basename "$(ls "$work"/*.dsc)" > "$dest/.fetched"
