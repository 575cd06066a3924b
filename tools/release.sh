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
# same bytes in any folder and any build tree: every time in the kit is the
# source date (SOURCE_DATE_EPOCH, by default the last commit's), and the
# builds carry no path or time of their own. Needs the packages of
# setup-debian.sh (root only to install them).
#
#   tools/release.sh [--out DIR] [CMAKE ARGS ...]   e.g. -DLAUNCHER_NAME=rocket
#   tools/release.sh --from-builds [--out DIR]      packs what tools/build.sh built
#   tools/release.sh --again DIR [CMAKE ARGS ...]   afresh from a copy elsewhere: the same as DIR?
#   tools/release.sh --check [CMAKE ARGS ...]       both here and from a copy: identical?
#
# --from-builds takes the launcher and packers from tools/build.sh's trees
# (tests and all) and records their identity options in DIR/options, which
# --again DIR passes on to its own builds.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

out=$build/release
mode=build
again=
case ${1:-} in
  --out) out=$(realpath -m "${2:?--out takes a folder}"); shift 2 ;;
  --from-builds) mode=stage; shift
    if [ "${1:-}" = --out ]; then out=$(realpath -m "${2:?--out takes a folder}"); shift 2; fi
    [ "$#" -eq 0 ] || fail "--from-builds takes no CMake arguments: the trees hold their own" ;;
  --again) again=$(realpath -m "${2:?--again takes the folder of the release to compare with}"); shift 2 ;;
  --check) "$0" --out "$build/release" "$@"; exec "$0" --again "$build/release" "$@" ;;
esac
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}

if [ -n "$again" ]; then
  # The same release from a copy of the sources at another path, with its
  # own build folder and dependencies: nothing built is shared, so a build
  # path in any file, or a difference in the dependencies, shows.
  options=()
  [ ! -f "$again/options" ] || mapfile -t options <"$again/options"
  copy=$build/release-check/copy-of-the-sources
  rm -rf "$build/release-check" "$build/release-again"
  mkdir -p "$copy"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy"
  LAUNCHER_BUILD_DIR="$copy/build" "$copy/tools/release.sh" --out "$build/release-again" "${options[@]}" "$@"
  same=1
  for zip in "$again"/*.zip "$again/SHA256SUMS"; do
    cmp "$zip" "$build/release-again/${zip##*/}" || same=0
  done
  if [ "$same" = 1 ]; then
    rm -rf "$build/release-check"
    echo "release.sh: the two releases are identical, byte for byte:"
    cat "$again/SHA256SUMS"
    exit 0
  fi
  fail "the two releases differ ($again and build/release-again; the copy is in build/release-check)"
fi

setup_packages
export TZ=UTC LC_ALL=C

mkdir -p "$out"
identity_options="LAUNCHER_NAME LAUNCHER_UPDATE_PUBLIC_KEY LAUNCHER_ICON LAUNCHER_VERSION LAUNCHER_COMPANY
  LAUNCHER_PRODUCT LAUNCHER_DESCRIPTION LAUNCHER_COPYRIGHT LAUNCHER_SIGN_CERT LAUNCHER_SIGN_KEY"
if [ "$mode" = stage ]; then
  tree() { echo "$build/$1"; }
  rm -f "$out/options"
  for option in $identity_options; do
    value=$(sed -n "s/^$option:[A-Z]*=//p" "$(tree win64)/CMakeCache.txt")
    [ -z "$value" ] || printf -- '-D%s=%s\n' "$option" "$value" >>"$out/options"
  done
else
  tree() { echo "$out/build-$1"; }
  prepare_dependencies win32 win64 native
fi
for arch in win32 win64 native; do
  rm -rf "$out/stage-$arch"
  if [ "$mode" = stage ]; then
    echo "== staging $arch from $(tree "$arch")"
    cmake --install "$(tree "$arch")" --prefix "$out/stage-$arch" >/dev/null
    continue
  fi
  echo "== building $arch (log: $out/build-$arch.log)"
  rm -rf "$(tree "$arch")"
  { cmake -S "$root" -B "$(tree "$arch")" $(toolchain_args "$arch") \
      -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF \
      -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" &&
    cmake --build "$(tree "$arch")" -j "$(nproc)" &&
    cmake --install "$(tree "$arch")" --prefix "$out/stage-$arch"; } >"$out/build-$arch.log" 2>&1 ||
    fail "building $arch failed; see $out/build-$arch.log"
done
"$root/tools/check-linux-packer.sh" "$out/stage-native/linux/packer"

# The kit's name: the launcher's, and its version (the kit's own without one).
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$(tree win64)/CMakeCache.txt"; }
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
