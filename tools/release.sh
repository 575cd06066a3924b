#!/usr/bin/env bash
# Makes the release kit: builds the launcher and packer.exe for each Windows
# architecture and the packer for this machine (Release, no tests), in fresh
# build folders so that nothing of an earlier run's options remains, then
# packs one zip per architecture, named after the launcher and its version:
#
#   build/release/<LAUNCHER_NAME>-kit-<version>-win32.zip, ...-win64.zip, SHA256SUMS
#
# (launcher-kit-1.0.0-... without identity options), each holding the
# launcher, packer.exe, linux/packer, the game-side helper package (sdk/),
# the kit's README and a SHA256SUMS of its files. The same sources give the
# same bytes in any folder: every time in the kit is the source date
# (SOURCE_DATE_EPOCH, by default the last commit's), and the builds carry no
# path or time of their own. Needs the packages of setup-debian.sh (root
# only to install them).
#
#   tools/release.sh [--out DIR] [CMAKE ARGS ...]   e.g. -DLAUNCHER_NAME=rocket
#   tools/release.sh --check [CMAKE ARGS ...]       again from a copy elsewhere: identical?
set -euo pipefail
source "$(dirname "$0")/lib.sh"

out=$build/release
check=0
case ${1:-} in
  --out) out=$(realpath -m "${2:?--out takes a folder}"); shift 2 ;;
  --check) check=1; shift ;;
esac
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}

if [ "$check" = 1 ]; then
  # The second release from a copy of the sources at another path, with its
  # own build folder and dependencies: nothing built is shared, so a build
  # path in any file, or a difference in the dependencies, shows.
  "$0" --out "$build/release" "$@"
  copy=$build/release-check/copy-of-the-sources
  rm -rf "$build/release-check"
  mkdir -p "$copy"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy"
  LAUNCHER_BUILD_DIR="$copy/build" "$copy/tools/release.sh" --out "$build/release-again" "$@"
  same=1
  for zip in "$build/release"/*.zip "$build/release/SHA256SUMS"; do
    cmp "$zip" "$build/release-again/${zip##*/}" || same=0
  done
  if [ "$same" = 1 ]; then
    rm -rf "$build/release-check"
    echo "release.sh: the two releases are identical, byte for byte:"
    cat "$build/release/SHA256SUMS"
    exit 0
  fi
  fail "the two releases differ (build/release and build/release-again; the copy is in build/release-check)"
fi

setup_packages
export TZ=UTC LC_ALL=C

prepare_dependencies win32 win64 native
mkdir -p "$out"
for arch in win32 win64 native; do
  echo "== building $arch (log: $out/build-$arch.log)"
  rm -rf "$out/build-$arch" "$out/stage-$arch"
  { cmake -S "$root" -B "$out/build-$arch" $(toolchain_args "$arch") \
      -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
      -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" &&
    cmake --build "$out/build-$arch" -j "$(nproc)" &&
    cmake --install "$out/build-$arch" --prefix "$out/stage-$arch"; } >"$out/build-$arch.log" 2>&1 ||
    fail "building $arch failed; see $out/build-$arch.log"
done
"$root/tools/check-linux-packer.sh" "$out/stage-native/linux/packer"

# The kit's name: the launcher's, and its version (the kit's own without one).
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$out/build-win64/CMakeCache.txt"; }
name=$(cache_value LAUNCHER_NAME)
version=$(cache_value LAUNCHER_VERSION)
[ -n "$version" ] || version=$(sed -n 's/^set(LAUNCHER_KIT_VERSION \(.*\))$/\1/p' "$root/cmake/identity.cmake")
rm -f "$out"/*.zip "$out/SHA256SUMS"
for arch in win32 win64; do
  kit=$name-kit-$version-$arch
  python3 "$root/tools/make_release.py" --epoch "$SOURCE_DATE_EPOCH" --name "$kit" \
    --launcher "$name" --version "$version" --arch "$arch" --key "$(cache_value LAUNCHER_UPDATE_PUBLIC_KEY)" \
    --readme "$root/tools/kit-readme.md" \
    "$out/$kit.zip" "$out/stage-$arch" "$out/stage-native"
done
(cd "$out" && sha256sum -- *.zip > SHA256SUMS)
echo "== release in $out (source date $(date -u -d "@$SOURCE_DATE_EPOCH" +%F))"
cat "$out/SHA256SUMS"
