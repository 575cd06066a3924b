#!/usr/bin/env bash
# Cross-builds the launcher, its tests, the sample game and the test games for
# both architectures: build/win32 (PE32, i386) and build/win64 (PE32+,
# x86-64). Needs the packages of setup-debian.sh.
#
#   tools/build.sh [--arch win32|win64] [CMAKE ARGS ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}
archs=(win32 win64)
if [ "${1:-}" = "--arch" ]; then
  case ${2:-} in
    win32|win64) archs=("$2") ;;
    *) echo "build.sh: --arch takes win32 or win64" >&2; exit 2 ;;
  esac
  shift 2
fi

"$root/tools/fetch-tinyxml.sh" "$build/deps/tinyxml"
for arch in "${archs[@]}"; do
  case $arch in
    win32) toolchain=toolchain-mingw-i686.cmake ;;
    win64) toolchain=toolchain-mingw-x86_64.cmake ;;
  esac
  cmake -S "$root" -B "$build/$arch" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" >/dev/null
  cmake --build "$build/$arch" -j "$(nproc)"
done
