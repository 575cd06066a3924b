#!/usr/bin/env bash
# Fails when the executable imports a DLL outside the system's own set.
set -euo pipefail
objdump=$1 exe=$2
allowed='^(kernel32|user32|advapi32|shell32|shlwapi|msvcrt|ntdll)\.dll$'
status=0
while read -r dll; do
  if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
    echo "unexpected import: $dll"; status=1
  fi
done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ $status -eq 0 ] && echo "imports: $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
exit $status
