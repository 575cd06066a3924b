#!/usr/bin/env bash
# Installs a game beside a launcher in a folder of its own, with an update
# waiting in "downloads\update", runs the launcher under Wine there and
# checks that the game staged the update, the launcher installed it and ran
# the game again, and the launcher ended with 0.
#
#   run_game.sh win32|win64 LAUNCHER.exe GAME.dll SCRATCH_DIR
set -u
arch=$1 launcher=$2 game=$3 scratch=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$scratch"
install=$(mktemp -d "$scratch/kit-game.XXXXXX")
trap 'rm -rf "$install"' EXIT
cp "$launcher" "$install/launcher.exe"
cp "$game" "$install/game.dll"
# The install folder is the data folder: nothing lands under ProgramData.
cat > "$install/game.xml" <<'XML'
<?xml version="1.0"?>
<settings company="Kit Test" product="Package Game" lang="en"
          use_app_data_folder="false" update_semaphore="update.ready" />
XML
mkdir -p "$install/properties" "$install/downloads/update"
echo '<version x="1" y="0"/>' > "$install/properties/version.xml"
echo arrived > "$install/downloads/update/update-arrived.txt"
: > "$install/downloads/update/update.ready"
# Its manifest beside it, as the packer writes one: the helper checks the
# download against it before staging.
entry() { echo "file $(stat -c %s "$install/downloads/update/$1") $(sha256sum < "$install/downloads/update/$1" | cut -d' ' -f1) $1"; }
printf 'rungame-update-manifest 1\nfrom 1.0\nto 1.1\nmarker update.ready\n%s\n%s\n' \
  "$(entry update-arrived.txt)" "$(entry update.ready)" > "$install/downloads/update.manifest"

status=0
(cd "$install" && "$here/../run-in-wine.sh" "$arch" launcher.exe) || status=$?
result=$(cat "$install/result.txt" 2>/dev/null || echo "no result.txt")
echo "launcher exit status $status; the game says: $result"
[ "$status" -eq 0 ] && [ "$result" = installed ] && [ ! -e "$install/game" ]
