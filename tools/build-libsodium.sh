#!/usr/bin/env bash
# Builds libsodium as a static library for one Windows architecture from the
# source fetch-source.sh unpacked, with the win32-thread mingw-w64
# compiler the launcher is built with, and installs it into PREFIX (once per
# source package version and recipe).
#
#   tools/build-libsodium.sh SOURCE win32|win64 PREFIX
#
# --enable-minimal keeps what the launcher and the packer use (Ed25519
# signatures, SHA-256, random bytes). Without stack-protector and fortify
# checks, which would need libssp beside the program; without pthreads: the
# launcher runs on one thread, and Windows builds use critical sections.
# Random bytes come from tools/libsodium/system_random.c, added to the
# library: RtlGenRandom found at run time, else CryptGenRandom, so that a
# program using the library starts on Windows 2000, which lacks
# RtlGenRandom's export. A program may bring its own rungame_system_random
# (the launcher's refuses: it only verifies). No build path in the library: __FILE__ and the debug
# information name files relative to the source, so the same source gives
# the same bytes in any folder.
set -euo pipefail
src=${1:?usage: build-libsodium.sh SOURCE win32|win64 PREFIX}
arch=${2:?usage: build-libsodium.sh SOURCE win32|win64 PREFIX}
prefix=${3:?usage: build-libsodium.sh SOURCE win32|win64 PREFIX}
case $arch in
  win32) host=i686-w64-mingw32 ;;
  win64) host=x86_64-w64-mingw32 ;;
  *) echo "build-libsodium.sh: the architecture is win32 or win64" >&2; exit 2 ;;
esac
src=$(cd "$src" && pwd)
stamp="$prefix/.built"
# The source package and this recipe: a changed recipe builds again.
random_source=$(cd "$(dirname "$0")" && pwd)/libsodium/system_random.c
recipe=$(cat "$src/.fetched"; sha256sum < "$0"; sha256sum < "$random_source")
if [ -f "$prefix/lib/libsodium.a" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
  exit 0
fi
rm -rf "$prefix" "$prefix.build"
mkdir -p "$prefix.build"
log="$prefix.build/build.log"
(
  cd "$prefix.build"
  "$src/configure" --host="$host" --prefix="$prefix" \
    CC="$host-gcc-win32" AR="$host-ar" RANLIB="$host-ranlib" \
    CFLAGS="-O2 -ffile-prefix-map=$src=. -ffile-prefix-map=$prefix.build=." CPPFLAGS="-D_FORTIFY_SOURCE=0 -DSystemFunction036=rungame_system_random" \
    --disable-shared --enable-static --enable-minimal \
    --disable-ssp --without-pthreads --disable-dependency-tracking
  make -j "$(nproc)"
  make install
  "$host-gcc-win32" -O2 -Wall -c "$random_source" -o system_random.o
  "$host-ar" rcsD "$prefix/lib/libsodium.a" system_random.o
) >"$log" 2>&1 || {
  tail -n 40 "$log" >&2
  echo "build-libsodium.sh: building libsodium for $arch failed (log: $log)" >&2
  exit 1
}
echo "$recipe" > "$stamp"
rm -rf "$prefix.build"
