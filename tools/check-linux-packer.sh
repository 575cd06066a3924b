#!/usr/bin/env bash
# Checks that the kit's Linux packer runs on a plain Debian 12 or Ubuntu
# 22.04: it may need only libraries every installation has (the C and C++
# runtimes, zlib) and no symbol version newer than Ubuntu 22.04's (glibc
# 2.35, libstdc++ of GCC 12).
#
#   check-linux-packer.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/lib.sh"
program=${1:?usage: check-linux-packer.sh PROGRAM}
allowed=" libc.so.6 libm.so.6 libz.so.1 libstdc++.so.6 libgcc_s.so.1 ld-linux-x86-64.so.2 "

needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
for library in $needed; do
  case $allowed in
    *" $library "*) ;;
    *) fail "$program needs $library, which a plain system may lack" ;;
  esac
done
# newest VERSION_PREFIX LIMIT: the newest version the program needs, failing past LIMIT.
newest() {
  local found
  found=$(readelf -V --wide "$program" | grep -o "$1_[0-9.]*[0-9]" | sed "s/^$1_//" | sort -V | tail -n 1)
  [ "$(printf '%s\n' "$found" "$2" | sort -V | tail -n 1)" = "$2" ] ||
    fail "$program needs $1_$found; Ubuntu 22.04 has $1_$2"
  echo "$found"
}
glibc=$(newest GLIBC 2.35)
glibcxx=$(newest GLIBCXX 3.4.30)
echo "linux/packer needs ${needed}(glibc $glibc, libstdc++ GLIBCXX_$glibcxx or later)"
