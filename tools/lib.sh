# Sourced by the project's scripts: the folders, failing with the script's
# name, the package set-up, the cross-build toolchain of an architecture,
# and the machine's apt sources.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}
script_name=$(realpath --relative-to="$root" "$0" 2>/dev/null || echo "${0##*/}")

fail() { echo "$script_name: $*" >&2; exit 1; }

# Installs what is missing (tools/setup-debian.sh), quietly.
setup_packages() {
  "$root/tools/setup-debian.sh" >/dev/null ||
    fail "the packages are not all installed (see above)"
}

# toolchain_args ARCH: CMake's arguments to build ARCH (win32, win64, native).
toolchain_args() {
  case $1 in
    # libsodium as tools/build.sh builds it for each Windows architecture.
    win32) echo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw-i686.cmake -DLIBSODIUM_PREFIX=$build/deps/libsodium-win32" ;;
    win64) echo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw-x86_64.cmake -DLIBSODIUM_PREFIX=$build/deps/libsodium-win64" ;;
    native) ;;  # the build machine's own compiler, zlib and libsodium: the packer only
    *) echo "$script_name: unknown architecture '$1' (win32, win64 or native)" >&2; return 2 ;;
  esac
}

# prepare_dependencies ARCH...: what the builds of those architectures take
# from Debian's source packages, in $build/deps: TinyXML's source, and
# libsodium built as a static library for each Windows architecture.
prepare_dependencies() {
  "$root/tools/fetch-source.sh" tinyxml "$build/deps/tinyxml"
  local arch
  for arch in "$@"; do
    case $arch in
      win32|win64)
        "$root/tools/fetch-source.sh" libsodium "$build/deps/libsodium" --autoreconf
        "$root/tools/build-libsodium.sh" "$build/deps/libsodium" "$arch" "$build/deps/libsodium-$arch" ;;
    esac
  done
}

# Every enabled binary entry of the machine's apt sources, deb822 files and
# one-line lists alike, one line each: "URI SUITE SIGNED_BY COMPONENTS...",
# SIGNED_BY being "-" when the entry names no key.
apt_entries() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      { types = ""; uris = ""; suites = ""; comps = ""; key = "-"; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^[ \t]*#/ || $i !~ /:/) continue
          name = substr($i, 1, index($i, ":") - 1); value = substr($i, index($i, ":") + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", value)
          if (name == "Types") types = value; else if (name == "URIs") uris = value
          else if (name == "Suites") suites = value; else if (name == "Components") comps = value
          else if (name == "Signed-By" && value != "") key = value
          else if (name == "Enabled") enabled = value
        }
        if (enabled == "no" || (" " types " ") !~ /[ \t]deb[ \t]/) next
        nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
        for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++) print u[a], s[b], key, comps }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" { i = 2; key = "-"
           if ($2 ~ /^\[/) {
             for (; i <= NF; i++) {
               if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key); sub(/\]$/, "", key) }
               if ($i ~ /\]$/) break
             }
             i++
           }
           line = $i " " $(i + 1) " " key
           for (j = i + 2; j <= NF && $j !~ /^#/; j++) line = line " " $j
           print line }' "$f"
  done
}
