/* Staging a downloaded update for the launcher, from inside a game.
 *
 * A game downloads an update folder and its manifest (as the packer wrote
 * them), then calls RunGameStageUpdate from RunGame and returns nonzero: the
 * launcher installs the update before it loads the game again. The helper
 * first checks the download against the manifest, then keeps the one order
 * the launcher relies on: every file is on disk and in the staging folder
 * before the marker appears there.
 *
 * Compile rungame_update.c, rungame_sha256.c and the update format's sources
 * (format/ beside this folder) into the game and link libsodium (plain C,
 * system DLLs only, 32- and 64-bit); they include ../rules/rungame_rules.h,
 * the launcher's own name rules.
 */
#ifndef RUNGAME_UPDATE_H
#define RUNGAME_UPDATE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum RunGameStageResult {
  RUNGAME_STAGED = 0,
  /* an argument is null or empty, the marker is no plain file name, a path
     is too long, or the update folder is the staging folder itself */
  RUNGAME_STAGE_BAD_ARGUMENT = 1,
  /* the update folder is missing or not a folder */
  RUNGAME_STAGE_NO_UPDATE = 2,
  /* the update folder holds a link, or an entry whose staged path would
     exceed the path limit; nothing was moved */
  RUNGAME_STAGE_UNSAFE_UPDATE = 3,
  /* an entry could not be flushed or moved; the staging folder holds no
     marker, so the launcher discards it unused */
  RUNGAME_STAGE_MOVE_FAILED = 4,
  /* everything else moved, but the marker could not be written and flushed */
  RUNGAME_STAGE_MARKER_FAILED = 5,
  /* the manifest cannot be read, is not one the packer writes, or names
     another marker; nothing was moved */
  RUNGAME_STAGE_BAD_MANIFEST = 6,
  /* the update folder is not as its manifest lists it: a file missing, of
     another size or SHA-256, or an entry the manifest does not list (named
     in `failedEntry`); nothing was moved */
  RUNGAME_STAGE_NOT_AS_LISTED = 7,
  /* the update was made from another version than the data folder's
     properties\version.xml names; nothing was moved */
  RUNGAME_STAGE_WRONG_VERSION = 8
};

/* Checks `updateFolder` against its manifest, then moves its contents into
 * the staging folder "game" of `dataFolder` (NULL: RunGameDataFolder's),
 * creating it when missing and
 * merging into what is there.
 *
 * - `manifestPath` NULL: "<updateFolder>.manifest", beside the folder. Every
 *   file must be there with the listed size and SHA-256, every listed folder
 *   too, and nothing else; its marker line must be `markerName` (ASCII
 *   letter case aside), and its "from" line the data folder's version when
 *   it has a version file. Nothing moves before the whole folder passed.
 * - A marker already in the staging folder is removed first, so a staging
 *   folder never counts as complete while it is being filled.
 * - Each file is flushed to disk, then moved (replacing a file of that name,
 *   read-only or not; across drives it is copied through).
 * - The marker `markerName` (the update_semaphore of game.xml) comes last:
 *   the update folder's own marker file when it has one, else an empty file;
 *   it is flushed before the call returns.
 *
 * Emptied folders of the update folder are removed. `failedEntry` (may be
 * NULL) receives the path, relative to the update folder, of the entry that
 * failed the check, cut to `failedEntrySize` bytes with its terminator.
 * Returns a RunGameStageResult. */
int RunGameStageUpdate(const char* updateFolder, const char* manifestPath, const char* dataFolder,
                       const char* markerName, char* failedEntry, size_t failedEntrySize);

enum RunGameUpdateStatus {
  /* no word from the launcher (one older than this helper) */
  RUNGAME_UPDATE_STATUS_UNKNOWN = 0,
  /* no complete staged update was there */
  RUNGAME_UPDATE_STATUS_NONE = 1,
  RUNGAME_UPDATE_STATUS_INSTALLED = 2,
  /* the staged update was not installed, and was discarded: `detail` says why */
  RUNGAME_UPDATE_STATUS_REFUSED = 3,
  /* nothing was installed or discarded: an entry of the data folder, named
     in `detail` relative to it, is not as the launcher left it (someone
     else put it there); every start keeps everything as it is until it is
     removed */
  RUNGAME_UPDATE_STATUS_BLOCKED = 4,
  /* a module of the data folder (game.dll, a DLL beside it) or its signed
     record, named in `detail`, is not as the studio signed it, and the
     installation could not put it right: the game runs from the install
     folder, without updates (a launcher built with the studio's key only) */
  RUNGAME_UPDATE_STATUS_DAMAGED = 5
};

/* The data folder: where the launcher installs updates and the game keeps
 * what it writes, as the launcher names it in the environment variable
 * RUNGAME_DATA_FOLDER, also while the game runs from the install folder
 * (told "damaged"); else, from a launcher older than this helper, the
 * working folder. Every call here given a NULL data folder takes this one.
 * 1 when it fits `size` bytes with its terminator. */
int RunGameDataFolder(char* folder, size_t size);

/* What the launcher did with the staged update right before this run of
 * RunGame, as it tells the game in the environment variable
 * RUNGAME_UPDATE_STATUS ("none", "installed", "refused: <why>",
 * "blocked: <entry>", "damaged: <file>"). `detail` (may be NULL) receives the text after the
 * colon, cut to `detailSize` bytes with its terminator. Returns a
 * RunGameUpdateStatus. */
int RunGameLastUpdateStatus(char* detail, size_t detailSize);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_UPDATE_H */
