#!/usr/bin/env bash
# The launcher's main job, shown end to end: a sample game installed beside
# launcher.exe, started under Wine on a fresh machine. It prints what happened:
# the mode and data folder, the first-start copy, each game cycle, the update
# installed between them, and the exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LAUNCHER_BUILD_DIR:-$root/build}

"$root/tools/setup-debian.sh" >/dev/null
echo "== building the launcher and the sample game"
"$root/tools/build.sh" >/dev/null
source "$root/tools/wine-env.sh"
start_wine "$build"
trap stop_wine EXIT

demo=$build/demo-run
install=$demo/install
home=$demo/home
data_unix=$WINEPREFIX/drive_c/ProgramData/Demo\ Studio/Sample\ Game/en
rm -rf "$demo" "$WINEPREFIX/drive_c/ProgramData/Demo Studio"
mkdir -p "$install/properties" "$install/levels" "$install/saves" "$home/.local/share"
cp "$build/win32/launcher.exe" "$install/"
cp "$build/win32/demo/game.dll" "$install/"
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
(cd "$install" && HOME=$home in_display wine launcher.exe -demo "two words" 2>/dev/null)
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
