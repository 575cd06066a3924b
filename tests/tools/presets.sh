#!/usr/bin/env bash
# Configures every preset of CMakePresets.json in a folder of its own, with
# an Authenticode certificate and key named: each must configure.
#
#   presets.sh SOURCE SCRATCH
set -euo pipefail
src=$1 scratch=$2
mkdir -p "$scratch"
work=$(mktemp -d "$scratch/presets.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$src"
presets=$(cmake --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p')
[ -n "$presets" ] || { echo "no configure presets listed"; exit 1; }
status=0
for preset in $presets; do
  if cmake --preset "$preset" -B "$work/$preset" \
      -DLAUNCHER_SIGN_CERT="$work/cert.pem" -DLAUNCHER_SIGN_KEY="$work/key.pem" >"$work/$preset.log" 2>&1; then
    echo "$preset: configures"
  else
    echo "$preset: does not configure:"; tail -n 20 "$work/$preset.log"; status=1
  fi
done
exit "$status"
