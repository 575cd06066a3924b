/* Checking a signed update before staging it, from inside a game.
 *
 * A launcher built with the studio's public key installs only updates whose
 * marker holds a manifest signed with that key, that bring a version later
 * than the data folder's, and whose every file matches that manifest. A game
 * calls RunGameCheckSignedUpdate on the downloaded update folder before
 * RunGameStageUpdate, with the same public key, so it never stages what the
 * launcher would discard.
 *
 * Compile rungame_signed.c and the update format's sources (format/ beside
 * this folder) into the game (plain C, kernel32), and link libsodium.
 */
#ifndef RUNGAME_SIGNED_H
#define RUNGAME_SIGNED_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum RunGameSignedResult {
  RUNGAME_SIGNED_OK = 0,
  /* an argument is null or empty, the marker is no plain file name, the key
     is not 64 hex digits, or a path is too long */
  RUNGAME_SIGNED_BAD_ARGUMENT = 1,
  /* the update folder or its marker is missing, or the marker is no plain
     file (a folder, a link), larger than 8 MiB, or unreadable */
  RUNGAME_SIGNED_NO_MARKER = 2,
  /* the marker holds no manifest signed with the key: unsigned, signed by
     another key, changed after signing, cut short or damaged, or naming
     another marker */
  RUNGAME_SIGNED_NOT_SIGNED = 3,
  /* the update was not made from the data folder's version (an older or a
     replayed update), or does not bring a later one */
  RUNGAME_SIGNED_NOT_NEWER = 4,
  /* an entry missing, not listed, of another kind, size or SHA-256, a link
     (the update folder itself included), or unreadable */
  RUNGAME_SIGNED_FILES_DIFFER = 5
};

/* Checks the update folder `updateFolder` (as the packer's `pack --sign`
 * wrote it) against the data folder `dataFolder` (NULL: RunGameDataFolder's), its marker `markerName`
 * (update_semaphore) and the studio's public key `publicKeyHex` (64 hex
 * digits, as `packer keygen` prints it). The update must have been made
 * from the version of the data folder's properties\version.xml; a data
 * folder without one takes any later version. A repair
 * (RunGameRepairFromFeed) passes with that version's signed record for its
 * marker: any of the files it lists, and the record itself. Reads every file once, in blocks; changes nothing.
 * Returns a RunGameSignedResult. */
int RunGameCheckSignedUpdate(const char* updateFolder, const char* dataFolder, const char* markerName,
                             const char* publicKeyHex);

/* The version of the properties\version.xml at `path`, read as the launcher
 * reads it (a plain file of at most 64 KiB).
 * 1 when found. */
int RunGameReadVersionFile(const char* path, long* x, long* y);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_SIGNED_H */
