#!/usr/bin/env bash
# The download's throughput on the loopback address, against the floor:
# a bare WinHTTP loop reading the same file in one request, in the same Wine
# (and curl's figure beside it). A release of one incompressible file
# (SIZE_MB, default 50) is published to a feed that nginx serves; each run
# downloads it into a fresh data folder at the release before, through
# RunGameDownloadUpdate: every chunk fetched and checked (the fetch, timed
# to the last chunk's arrival), then the file assembled, checked and staged
# (the whole call). Medians of REPS runs (default 5), over HTTP and HTTPS.
#
#   bench/download.sh [win32|win64]     (after tools/build.sh --arch ARCH and --arch native)
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
source "$root/tools/wine-env.sh"
arch=${1:-win64}
size_mb=${SIZE_MB:-50}
reps=${REPS:-5}
packer=$build/native/bin/packer
exe=$build/$arch/tests/download_bench.exe
[ -x "$packer" ] && [ -f "$exe" ] || fail "build first: tools/build.sh --arch native; tools/build.sh --arch $arch --tests"

work=$build/bench-download-$arch
rm -rf "$work"
mkdir -p "$work"
server=$work/server
release() {  # release FOLDER MINOR
  mkdir -p "$1/properties" "$1/levels"
  printf 'MZ bench game' > "$1/game.dll"
  printf '<?xml version="1.0"?>\n<settings update_semaphore="update.ready" />\n' > "$1/game.xml"
  echo "<version x=\"1\" y=\"$2\"/>" > "$1/properties/version.xml"
}
release "$work/release-1.0" 0
release "$work/release-1.1" 1
head -c $((size_mb * 1000 * 1000)) /dev/urandom > "$work/release-1.1/levels/big.dat"
"$packer" keygen "$work/studio.key" "$work/studio.pub" >/dev/null
key=$(sed -n "s/^public //p" "$work/studio.pub")

"$root/tests/feed/server/feed-server.sh" start "$server"
trap '"$root/tests/feed/server/feed-server.sh" stop "$server"; stop_wine' EXIT
for minor in 0 1; do "$packer" publish "$work/release-1.$minor" "$server/www/feed" --key "$work/studio.key" >/dev/null; done
cp "$work/release-1.1/levels/big.dat" "$server/www/raw.dat"
start_wine "$arch" "$build/wineprefix-bench-$arch"
windows() { echo "Z:${1//\//\\}"; }

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
bytes=$((size_mb * 1000 * 1000))
rate() { awk -v b="$bytes" -v ms="$1" 'BEGIN {printf "%.0f MB/s (%.0f ms)", b / 1000 / ms, ms}'; }
# Over HTTPS the server's certificate comes from the test authority, which
# the bench's prefix trusts as a player's machine trusts a studio's host.
"$WINELOADER" "$exe" trust "$(windows "$server/tls/authority.der")" || fail "cannot trust the test authority"
for scheme in http https; do
  if [ "$scheme" = http ]; then url=$(cat "$server/url"); else url=$(cat "$server/url-https"); fi
  : > "$work/curl" ; : > "$work/bare" ; : > "$work/feed" ; : > "$work/fetch"
  for _ in $(seq "$reps"); do
    curl -s --cacert "$server/tls/authority.pem" -o /dev/null -w '%{time_total}\n' "$url/raw.dat" |
      awk '{print $1 * 1000}' >> "$work/curl"
    "$WINELOADER" "$exe" bare "$url/raw.dat" | awk '{print $2}' >> "$work/bare"
    rm -rf "$work/data" && cp -r "$work/release-1.0" "$work/data"
    "$WINELOADER" "$exe" feed "$url/feed" "$(windows "$work/data")" "$key" > "$work/feed-run"
    awk '{print $2}' "$work/feed-run" >> "$work/feed"
    awk '{print $3}' "$work/feed-run" >> "$work/fetch"
    grep -q . "$work/data/game/levels/big.dat" 2>/dev/null || fail "the download staged no big.dat"
  done
  curl_ms=$(median < "$work/curl"); bare_ms=$(median < "$work/bare"); feed_ms=$(median < "$work/feed")
  fetch_ms=$(median < "$work/fetch")
  echo "download of one ${size_mb} MB incompressible file on 127.0.0.1 over $scheme, $arch, medians of $reps:"
  echo "  curl, one request:                          $(rate "$curl_ms")"
  echo "  bare WinHTTP loop, one request:             $(rate "$bare_ms")"
  echo "  RunGameDownloadUpdate, its fetch:          $(rate "$fetch_ms")"
  echo "  RunGameDownloadUpdate, the whole call:      $(rate "$feed_ms")"
  awk -v f="$fetch_ms" -v b="$bare_ms" 'BEGIN {printf "  the fetch against the bare loop:     %.2f (target at least 0.8)\n", b / f}'
  awk -v f="$feed_ms" -v b="$bare_ms" 'BEGIN {printf "  the whole call against the bare loop: %.2f (target at least 0.9)\n", b / f}'
done
