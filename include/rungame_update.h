/* Staging a downloaded update for the launcher, from inside a game.
 *
 * A game downloads an update folder (as the packer wrote it), checks it
 * against its manifest, then calls RunGameStageUpdate from RunGame and
 * returns nonzero: the launcher installs the update before it loads the game
 * again. The helper keeps the one order the launcher relies on: every file
 * is on disk and in the staging folder before the marker appears there.
 *
 * Compile rungame_update.c into the game (plain C, kernel32 only).
 */
#ifndef RUNGAME_UPDATE_H
#define RUNGAME_UPDATE_H

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
  RUNGAME_STAGE_MARKER_FAILED = 5
};

/* Moves the contents of `updateFolder` into the staging folder "game" of
 * `dataFolder` (NULL: the working folder, which is the data folder while
 * RunGame runs), creating it when missing and merging into what is there.
 *
 * - A marker already in the staging folder is removed first, so a staging
 *   folder never counts as complete while it is being filled.
 * - Each file is flushed to disk, then moved (replacing a file of that name,
 *   read-only or not; across drives it is copied through).
 * - The marker `markerName` (the update_semaphore of game.xml) comes last:
 *   the update folder's own marker file when it has one, else an empty file;
 *   it is flushed before the call returns.
 *
 * Emptied folders of the update folder are removed. Returns a
 * RunGameStageResult. */
int RunGameStageUpdate(const char* updateFolder, const char* dataFolder, const char* markerName);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_UPDATE_H */
