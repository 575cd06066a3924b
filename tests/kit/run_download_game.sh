#!/usr/bin/env bash
# A studio's road with the kit's download: publishes releases 1.0 and 1.1
# with the kit's packer.exe into a feed the test web server serves, installs
# 1.0 beside a launcher in a folder of its own, runs the launcher under Wine
# there and checks that the game downloaded 1.1 from the feed, the launcher
# installed it and ran the game again, and the folder holds 1.1 exactly.
#
#   run_download_game.sh win32|win64 LAUNCHER.exe GAME.dll PACKER.exe FEED_SERVER_DIR SCRATCH_DIR
set -u
arch=$1 launcher=$2 game=$3 packer=$4 server=$5 scratch=$6
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$scratch"
work=$(mktemp -d "$scratch/kit-download.XXXXXX")
name=$(basename "$work")
trap 'rm -rf "$work" "$server/www/$name"' EXIT
cp "$packer" "$work/packer.exe"

# release MINOR: the game's folder at version 1.MINOR, as the studio builds it.
release() {
  local folder=$work/release-1.$1
  mkdir -p "$folder/properties" "$folder/levels"
  cp "$game" "$folder/game.dll"
  cat > "$folder/game.xml" <<'XML'
<?xml version="1.0"?>
<settings company="Kit Test" product="Download Game" lang="en"
          use_app_data_folder="false" update_semaphore="update.ready" />
XML
  echo "<version x=\"1\" y=\"$1\"/>" > "$folder/properties/version.xml"
  echo "level one, 1.$1" > "$folder/levels/one.txt"
  [ "$1" -eq 0 ] || echo "new in 1.1" > "$folder/levels/two.txt"
}
release 0
release 1
packer() { (cd "$work" && "$here/../run-in-wine.sh" "$arch" packer.exe "$@"); }
packer keygen studio.key studio.pub > "$work/packer.log" 2>&1 &&
  packer publish release-1.0 feed --key studio.key >> "$work/packer.log" 2>&1 &&
  packer publish release-1.1 feed --key studio.key >> "$work/packer.log" 2>&1 || {
  echo "the packer failed:"; cat "$work/packer.log"; exit 1; }
ln -s "$work/feed" "$server/www/$name"

# The install folder is the data folder: nothing lands under ProgramData.
install=$work/install
cp -r "$work/release-1.0" "$install"
cp "$launcher" "$install/launcher.exe"
status=0
(cd "$install" && KIT_FEED_URL="$(cat "$server/url")/$name" KIT_FEED_KEY=$(sed -n 's/^public //p' "$work/studio.pub") \
  "$here/../run-in-wine.sh" "$arch" launcher.exe) || status=$?
result=$(cat "$install/result.txt" 2>/dev/null || echo "no result.txt")
echo "launcher exit status $status; the game says: $result"
[ "$status" -eq 0 ] && [ "$result" = installed ] && [ ! -e "$install/game" ] &&
  cmp "$install/levels/two.txt" "$work/release-1.1/levels/two.txt" &&
  cmp "$install/properties/version.xml" "$work/release-1.1/properties/version.xml"
