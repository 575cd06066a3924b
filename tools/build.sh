#!/usr/bin/env bash
# Cross-builds the launcher, its tests, the sample game and the test games for
# both architectures: build/win32 (PE32, i386) and build/win64 (PE32+,
# x86-64); and the update packer with its tests natively for this machine:
# build/native. Needs the packages of setup-debian.sh.
#
#   tools/build.sh [--arch win32|win64|native] [CMAKE ARGS ...]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
archs=(win32 win64 native)
if [ "${1:-}" = "--arch" ]; then
  case ${2:-} in
    win32|win64|native) archs=("$2") ;;
    *) echo "build.sh: --arch takes win32, win64 or native" >&2; exit 2 ;;
  esac
  shift 2
fi

prepare_dependencies "${archs[@]}"
for arch in "${archs[@]}"; do
  cmake -S "$root" -B "$build/$arch" $(toolchain_args "$arch") \
    -DCMAKE_BUILD_TYPE=Release \
    -DTINYXML_SOURCE_DIR="$build/deps/tinyxml" "$@" >/dev/null
  cmake --build "$build/$arch" -j "$(nproc)"
done
