#!/usr/bin/env bash
# The launcher's main job, shown end to end: a sample game installed beside
# launcher.exe, started under Wine on a fresh machine. It prints what happened:
# the mode and data folder, the first-start copy, each game cycle, the update
# installed between them, and the exit code. It runs the 32-bit launcher
# where this host can execute 32-bit programs, else the 64-bit one
# (LAUNCHER_ARCH=win32|win64 chooses).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
setup_packages
source "$root/tools/wine-env.sh"
arch=${LAUNCHER_ARCH:-}
if [ -z "$arch" ]; then
  if can_run_arch win32; then
    arch=win32; why="this host runs 32-bit programs"
  else
    arch=win64; why="this host cannot run the 32-bit one: $WINE_PROBE_REASON"
  fi
else
  why="chosen by LAUNCHER_ARCH"
  can_run_arch "$arch" || fail "LAUNCHER_ARCH=$arch, but $WINE_PROBE_REASON"
fi
echo "== building the $arch launcher and the sample game"
"$root/tools/build.sh" --arch "$arch" >"$build.demo-build.log" 2>&1 ||
  fail "the build failed; its output is in $build.demo-build.log (run tools/build.sh --arch $arch to see it)"
rm -f "$build.demo-build.log"
echo "== running the $arch launcher ($why)"
start_wine "$arch" "$build/wineprefix-$arch" ||
  fail "could not create the $arch Wine prefix in $build/wineprefix-$arch; remove it and try again"
trap stop_wine EXIT

demo=$build/demo-run
install=$demo/install
home=$demo/home
data_unix=$WINEPREFIX/drive_c/ProgramData/Demo\ Studio/Sample\ Game/en
rm -rf "$demo" "$WINEPREFIX/drive_c/ProgramData/Demo Studio"
mkdir -p "$install/properties" "$install/levels" "$install/saves" "$home/.local/share"
cp "$build/$arch/launcher.exe" "$install/"
cp "$build/$arch/demo/game.dll" "$install/"
cat > "$install/game.xml" <<'XML'
<?xml version="1.0"?>
<settings company="Demo Studio" product="Sample Game" lang="en" update_semaphore="update.ready" />
XML
echo '<version x="1" y="0"/>' > "$install/properties/version.xml"
echo "level 1, as shipped in version 1.0" > "$install/levels/level1.dat"

echo "== install folder: $install"
(cd "$install" && find . -type f | sort | sed 's/^/   /')
echo "== starting launcher.exe -demo \"two words\" (application-data mode: game.xml names company, product, lang)"
set +e
(cd "$install" && HOME=$home in_display "$WINELOADER" launcher.exe -demo "two words" 2>/dev/null)
status=$?
set -e
echo "== mode: application-data; data folder C:\\ProgramData\\Demo Studio\\Sample Game\\en (empty saves folder: first start, copy, then the game)"
echo "== what the game reported, cycle by cycle"
sed 's/^/   /' "$data_unix/demo-log.txt" 2>/dev/null || echo "   (the game never ran: no log in the data folder)"
echo "== data folder (C:\\ProgramData\\Demo Studio\\Sample Game\\en), after the first-start copy and the update"
(cd "$data_unix" 2>/dev/null && find . -type f | sort | sed 's/^/   /') || echo "   (missing)"
echo "   launcher.exe copied into the data folder: $([ -e "$data_unix/launcher.exe" ] && echo yes || echo no)"
echo "== staging folder 'game' after the update: $([ -e "$data_unix/game" ] && echo 'still there' || echo 'gone')"
echo "   in the Recycle Bin: $(ls "$home/.local/share/Trash/files" 2>/dev/null | tr '\n' ' ')"
echo "== launcher exit code: $status"
[ -s "$data_unix/demo-log.txt" ] || fail "the game never ran (no log in the data folder)"
[ "$status" -eq 0 ] || fail "the launcher ended with exit code $status instead of 0"
