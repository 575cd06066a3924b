#!/usr/bin/env bash
# Runs one Windows test program under Wine with a HOME of its own, so the
# Recycle Bin it uses ($HOME/.local/share/Trash) is its own. The prefix and
# the persistent wineserver come from tools/test.sh.
#
# The program's output goes through a file: Wine's helper processes started
# on the way inherit its output handles, and would hold a pipe to CTest open
# long after the program ended.
set -u
scratch=${LAUNCHER_TEST_SCRATCH:-${TMPDIR:-/tmp}}
mkdir -p "$scratch"
home=$(mktemp -d "$scratch/home.XXXXXX")
mkdir -p "$home/.local/share"
HOME=$home WINEDEBUG=${WINEDEBUG:--all} wine "$@" >"$home.out" 2>&1 </dev/null
status=$?
cat "$home.out"
rm -rf "$home" "$home.out"
exit $status
