#!/usr/bin/env bash
# Cross-builds the launcher (and its tests) into build/win32. Needs the
# packages of setup-debian.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}
"$root/tools/fetch-tinyxml.sh" "$build/deps/tinyxml"
cmake -S "$root" -B "$build/win32" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" >/dev/null
cmake --build "$build/win32" -j "$(nproc)"
