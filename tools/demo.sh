#!/usr/bin/env bash
# The launcher's main job and the studio's whole update path, shown end to
# end: the packer turns the 1.0 and 1.1 release folders into an update; a
# sample game installed beside launcher.exe is started under Wine on a fresh
# machine, checks the "downloaded" update against its manifest and stages it
# with the game-side helper; the launcher installs it. Then the same from a
# web server: the packer publishes both releases to a feed that a local nginx
# serves, and a fresh player's game checks it, downloads what its data
# folder lacks with a progress line, and stages it; the launcher installs it. It prints what
# happened: the packing, the mode and data folder, the first-start copy, each
# game cycle, the update installed between them, and the exit code. It runs
# the 32-bit launcher where this host can execute 32-bit programs, else the
# 64-bit one (LAUNCHER_ARCH=win32|win64 chooses).
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
echo "== building the $arch launcher and the sample game, and the packer for this machine"
for target in "$arch" native; do
  "$root/tools/build.sh" --arch "$target" >"$build.demo-build.log" 2>&1 ||
    fail "the build failed; its output is in $build.demo-build.log (run tools/build.sh --arch $target to see it)"
done
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
mkdir -p "$home/.local/share" "$demo/download"

# The studio's two release folders, as its build makes them.
release() {  # release FOLDER MINOR LEVEL1 [LEVEL2]
  mkdir -p "$1/properties" "$1/levels" "$1/saves"
  cp "$build/$arch/demo/game.dll" "$1/"
  cat > "$1/game.xml" <<'XML'
<?xml version="1.0"?>
<settings company="Demo Studio" product="Sample Game" lang="en" update_semaphore="update.ready" />
XML
  echo "<version x=\"1\" y=\"$2\"/>" > "$1/properties/version.xml"
  echo "$3" > "$1/levels/level1.dat"
  if [ -n "${4:-}" ]; then echo "$4" > "$1/levels/level2.dat"; fi
}
release "$demo/release-1.0" 0 "level 1, as shipped in version 1.0"
release "$demo/release-1.1" 1 "level 1, remastered in version 1.1 $(printf '%0.s(remastered) ' $(seq 1 40))" \
  "level 2, new in version 1.1"

echo "== the studio's key (packer keygen), and each release's signed record of its files (packer record)"
"$build/native/bin/packer" keygen "$demo/studio.key" "$demo/studio.pub" | sed 's/^/   /'
for minor in 0 1; do
  "$build/native/bin/packer" record "$demo/release-1.$minor" --key "$demo/studio.key" | sed 's/^/   /'
done

echo "== packing 1.0 -> 1.1 with the packer (build/native/bin/packer)"
"$build/native/bin/packer" pack "$demo/release-1.0" "$demo/release-1.1" "$demo/download/update-1.1" |
  sed 's/^/   /'
echo "   manifest:"
sed 's/^/     /' "$demo/download/update-1.1.manifest"
"$build/native/bin/packer" verify "$demo/download/update-1.1" | sed 's/^/   /'

# Players installed 1.0: the release folder and the launcher beside it.
cp -r "$demo/release-1.0" "$install"
cp "$build/$arch/launcher.exe" "$install/"
download_windows="Z:${demo//\//\\}\\download\\update-1.1"
echo "== install folder: $install"
(cd "$install" && find . -type f | sort | sed 's/^/   /')
echo "== starting launcher.exe --update \"$download_windows\" (application-data mode: game.xml names company, product, lang)"
echo "   (the game takes the update folder named on its command line as if it had just downloaded it)"
set +e
(cd "$install" && HOME=$home in_display "$WINELOADER" launcher.exe --update "$download_windows" 2>/dev/null)
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
grep -q 'remastered in version 1.1' "$data_unix/levels/level1.dat" 2>/dev/null ||
  fail "the data folder does not hold version 1.1's level 1: the update was not installed"
[ -f "$data_unix/levels/level2.dat" ] || fail "the data folder lacks version 1.1's new level 2"
echo "== the data folder holds version 1.1, as packed by the packer and staged by the helper"

echo
echo "== the same update from a web server: publishing 1.0 and 1.1 to a feed (packer publish)"
server=$demo/server
key=$(sed -n 's/^public //p' "$demo/studio.pub")
for minor in 0 1; do
  "$build/native/bin/packer" publish "$demo/release-1.$minor" "$demo/feed" --key "$demo/studio.key" | sed 's/^/   /'
done
"$build/native/bin/packer" verify "$demo/feed" --public-key "$demo/studio.pub" | sed 's/^/   /'
"$root/tests/feed/server/feed-server.sh" start "$server" >/dev/null
trap '"$root/tests/feed/server/feed-server.sh" stop "$server"; stop_wine' EXIT
cp -r "$demo/feed" "$server/www/feed"
feed_url=$(cat "$server/url")/feed
echo "== nginx serves the feed folder as plain files at $feed_url"
# A fresh player of 1.0: the first install's data folder set aside.
rm -rf "$WINEPREFIX/drive_c/ProgramData/Demo Studio" "$home"
mkdir -p "$home/.local/share"
rm -rf "$install" && cp -r "$demo/release-1.0" "$install" && cp "$build/$arch/launcher.exe" "$install/"
echo "== starting launcher.exe --feed $feed_url --key <the studio's public key>"
set +e
(cd "$install" && HOME=$home in_display "$WINELOADER" launcher.exe --feed "$feed_url" --key "$key" 2>/dev/null)
status=$?
set -e
echo "== what the game reported, cycle by cycle"
sed 's/^/   /' "$data_unix/demo-log.txt" 2>/dev/null || echo "   (the game never ran: no log in the data folder)"
echo "== requests nginx served (status, request, range, bytes sent)"
sed 's/^/   /' "$server/access.log"
echo "== launcher exit code: $status"
[ "$status" -eq 0 ] || fail "the launcher ended with exit code $status instead of 0"
grep -q 'remastered in version 1.1' "$data_unix/levels/level1.dat" 2>/dev/null ||
  fail "the data folder does not hold version 1.1's level 1: the download was not installed"
[ -f "$data_unix/levels/level2.dat" ] || fail "the data folder lacks version 1.1's new level 2"
echo "== the data folder holds version 1.1, downloaded from the feed by the helper and installed by the launcher"
