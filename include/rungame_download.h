/* Downloading an update from the studio's feed, from inside a game.
 *
 * The studio publishes every release into a feed folder (`packer publish`)
 * that any static web server serves. A game asks RunGameCheckForUpdate
 * whether its channel holds a newer version, then RunGameDownloadUpdate
 * fetches only the chunks its data folder lacks, checks every chunk and
 * file against the signed manifest, stages the changed files as
 * RunGameStageUpdate does (marker last) and returns; the game then returns
 * nonzero from RunGame and the launcher installs the update.
 *
 * Downloads are kept between calls in "~download" of the data folder: a
 * call cancelled, cut off or killed resumes where it stopped, a chunk cut
 * short by a ranged request. Nothing else of the data folder changes until
 * the update is whole and checked. The data folder is open to every
 * account: what lies in "~download" is checked before use, never trusted.
 *
 * From CMake, link the helper package's rungame::download, which compiles
 * rungame_download.c, rungame_http.c and download_*.c with the helper and
 * the feed's formats and links winhttp, a static zlib and libsodium. Needs
 * WinHTTP: Windows 2000 SP3, XP and later, Wine. The download runs on a few threads of its own;
 * the caller's thread reports progress.
 */
#ifndef RUNGAME_DOWNLOAD_H
#define RUNGAME_DOWNLOAD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RUNGAME_DOWNLOAD_FOLDER "~download"

enum RunGameFeedResult {
  /* a newer version is there (check); it is staged (download) */
  RUNGAME_FEED_OK = 0,
  /* the channel's newest version is the data folder's */
  RUNGAME_FEED_UP_TO_DATE = 1,
  /* an argument is null or empty, the key is not 64 hex digits, the marker
     no plain file name, a path too long */
  RUNGAME_FEED_BAD_ARGUMENT = 2,
  /* the server could not be reached or kept failing (404, 500, 503 too
     long, the connection cut again and again, too many redirects) */
  RUNGAME_FEED_UNREACHABLE = 3,
  /* the feed is not to be trusted: an index or manifest not signed with the
     key, changed or malformed, an index older than the data folder's
     version (an old index served again), bytes that do not match their
     hash; nothing was staged */
  RUNGAME_FEED_REFUSED = 4,
  /* the download folder cannot be written (a full disk, a locked file, a
     link where it must be a folder); what was downloaded is kept */
  RUNGAME_FEED_WRITE_FAILED = 5,
  RUNGAME_FEED_CANCELLED = 6,
  /* everything was downloaded and checked, but staging failed */
  RUNGAME_FEED_STAGE_FAILED = 7
};

typedef struct RunGameFeedUpdate {
  /* the channel's newest version, "X.Y"; empty when the index was not read */
  char version[24];
  /* what is still to download: the chunks the data folder and earlier
     calls do not hold, counted uncompressed (what travels is compressed) */
  unsigned long long downloadBytes;
  unsigned long chunkCount;
  /* why, for a result other than RUNGAME_FEED_OK, in words a game can show */
  char reason[512];
} RunGameFeedUpdate;

/* Told of the download's progress in bytes of chunks (uncompressed), on the
 * caller's thread, whenever it moved (looked at every 50 ms); returns 0 to
 * cancel. */
typedef int (*RunGameFeedProgress)(void* context, unsigned long long doneBytes, unsigned long long totalBytes);

/* Reads the signed index of `channel` (NULL: "stable") of the feed at
 * `feedUrl` (http or https, the folder `packer publish` wrote), and, when
 * its newest version is later than the data folder's (NULL: the folder the
 * launcher names in RUNGAME_DATA_FOLDER, else the working folder), that
 * version's signed manifest, and tells in `update` what a download would
 * fetch. `publicKeyHex`: the studio's public key, 64 hex
 * digits, as `packer keygen` prints it. Changes nothing on disk. Returns a
 * RunGameFeedResult. */
int RunGameCheckForUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          RunGameFeedUpdate* update);

/* As RunGameCheckForUpdate, then downloads what is missing, assembles and
 * checks the changed files and stages them with the marker `markerName`
 * (game.xml's update_semaphore) last: with the feed's signed marker of the
 * step from the data folder's version where it has one, so that a launcher
 * built with the studio's key installs it. `progress` (may be NULL) is
 * told as chunks arrive; `cancel` (may be NULL) is watched throughout:
 * nonzero stops the call with RUNGAME_FEED_CANCELLED within a second,
 * keeping what was downloaded; once the staging began it is finished, and
 * the call returns when it is (a staging cut short would be lost work). */
int RunGameDownloadUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update);

/* Puts the data folder's files back as the studio shipped its version, for
 * a game told "damaged: <file>" (RunGameLastUpdateStatus): reads the signed
 * manifest of the data folder's own version (the channel must still list
 * it), downloads the chunks of exactly the files that differ from it, and
 * stages them with that version's signed record (properties\release.signed,
 * which `packer record` writes into every release) as the marker's content,
 * so that a launcher built with the studio's key installs them as a repair
 * of the same version. RUNGAME_FEED_UP_TO_DATE when every file is as
 * listed; RUNGAME_FEED_REFUSED when the feed has no sound record of the
 * version. Arguments and the rest as RunGameDownloadUpdate. */
int RunGameRepairFromFeed(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_DOWNLOAD_H */
