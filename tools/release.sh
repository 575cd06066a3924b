#!/usr/bin/env bash
# Makes the release kit, from a fresh Debian 12 machine as root: builds the
# launcher and packer.exe for each Windows architecture and the packer for
# this machine (Release, no tests), then packs one zip per architecture:
#
#   build/release/launcher-kit-<version>-win32.zip, ...-win64.zip, SHA256SUMS
#
# each holding the launcher, packer.exe, linux/packer, the game-side helper
# package (sdk/), the README's shipping sections and a SHA256SUMS of its
# files. The same sources give the same bytes: every time in the kit is the
# source date (SOURCE_DATE_EPOCH, by default the last commit's), and the
# builds carry no path or time of their own.
#
#   tools/release.sh [--out DIR] [CMAKE ARGS ...]   e.g. -DLAUNCHER_NAME=rocket
#   tools/release.sh --check                        twice, in two folders: identical?
set -euo pipefail
source "$(dirname "$0")/lib.sh"

out=$build/release
check=0
case ${1:-} in
  --out) out=$(realpath -m "${2:?--out takes a folder}"); shift 2 ;;
  --check) check=1; shift ;;
esac

if [ "$check" = 1 ]; then
  # The second build in another folder: no path of the first may show.
  "$0" --out "$build/release" "$@"
  "$0" --out "$build/release-again" "$@"
  same=1
  for zip in "$build/release"/*.zip "$build/release/SHA256SUMS"; do
    cmp "$zip" "$build/release-again/${zip##*/}" || same=0
  done
  if [ "$same" = 1 ]; then
    echo "release.sh: the two releases are identical, byte for byte:"
    cat "$build/release/SHA256SUMS"
    exit 0
  fi
  fail "the two releases differ (build/release and build/release-again)"
fi

setup_packages
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
export TZ=UTC LC_ALL=C
version=$(sed -n 's/^set(LAUNCHER_KIT_VERSION \(.*\))$/\1/p' "$root/cmake/identity.cmake")

prepare_dependencies win32 win64 native
mkdir -p "$out"
for arch in win32 win64 native; do
  echo "== building $arch (log: $out/build-$arch.log)"
  { cmake -S "$root" -B "$out/build-$arch" $(toolchain_args "$arch") \
      -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
      -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" &&
    cmake --build "$out/build-$arch" -j "$(nproc)" &&
    rm -rf "$out/stage-$arch" &&
    cmake --install "$out/build-$arch" --prefix "$out/stage-$arch"; } >"$out/build-$arch.log" 2>&1 ||
    fail "building $arch failed; see $out/build-$arch.log"
done

rm -f "$out"/*.zip "$out/SHA256SUMS"
for arch in win32 win64; do
  name=launcher-kit-$version-$arch
  python3 "$root/tools/make_release.py" --epoch "$SOURCE_DATE_EPOCH" --name "$name" \
    --readme "$root/README.md" "$out/$name.zip" "$out/stage-$arch" "$out/stage-native"
done
(cd "$out" && sha256sum -- *.zip > SHA256SUMS)
echo "== release in $out (source date $(date -u -d "@$SOURCE_DATE_EPOCH" +%F))"
cat "$out/SHA256SUMS"
