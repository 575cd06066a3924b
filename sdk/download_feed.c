/* The feed's signed index, the newest version's signed manifest and the
 * signed update marker of the step from the data folder's version; for a
 * repair, the manifest of the data folder's own version. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../hash/sha256.h"

#include "../feed/feed_store.h"
#include "download_job.h"

/* The signed update marker of the step from the data folder's version to
 * the newest, which a launcher built with the studio's key requires; a feed
 * without one (404) is served unsigned. */
static int ReadStep(Job* job, const FeedVersion* newest) {
  char url[FEED_UPGRADE_PATH_BYTES];
  int result;
  if (!job->hasVersion) return RUNGAME_FEED_OK;
  FeedUpgradeMarkerPath(newest->x, newest->y, job->haveX, job->haveY, url);
  result = RunGameHttpGetAll(&job->http, url, RUNGAME_SIGNED_MAX_MARKER, &job->stepText, &job->stepSize,
                             job->update->reason, sizeof job->update->reason);
  if (result != RUNGAME_HTTP_OK) {
    if (result == RUNGAME_HTTP_FAILED && job->http.lastStatus == 404) {
      job->update->reason[0] = '\0';
      return RUNGAME_FEED_OK;
    }
    return DownloadHttpFailure(job, result);
  }
  if (job->stepText == NULL ||
      !rungame_open_signed_manifest(job->stepText, job->stepSize, job->key, &job->step) ||
      job->step.fromX != job->haveX || job->step.fromY != job->haveY || job->step.toX != newest->x ||
      job->step.toY != newest->y) {
    DownloadTell(job->update, "the signed update marker %s is refused%s", url, "");
    return RUNGAME_FEED_REFUSED;
  }
  return RUNGAME_FEED_OK;
}

int DownloadReadFeed(Job* job, const char* channel) {
  char indexPath[FEED_INDEX_PATH_BYTES];
  char manifestPath[FEED_VERSION_PATH_BYTES];
  char* text = NULL;
  size_t size = 0;
  const char* why = NULL;
  const FeedVersion* newest;
  unsigned char digest[32];
  char version[24];
  int result;
  if (!FeedIndexPath(channel, indexPath)) {
    DownloadTell(job->update, "\"%s\" is no channel name%s", channel, "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  result = RunGameHttpGetAll(&job->http, indexPath, FEED_MAX_INDEX, &text, &size, job->update->reason,
                             sizeof job->update->reason);
  if (result != RUNGAME_HTTP_OK) return DownloadHttpFailure(job, result);
  if (!FeedReadIndex(text ? text : "", size, job->key, &job->index, &why)) {
    free(text);
    DownloadTell(job->update, "the feed's index is refused: %s%s", why, "");
    return RUNGAME_FEED_REFUSED;
  }
  free(text);
  newest = &job->index.versions[job->index.count - 1];
  if (job->repair) {
    /* The data folder's own version, as the channel still lists it. */
    size_t v;
    newest = NULL;
    for (v = 0; job->hasVersion && v < job->index.count; ++v) {
      const FeedVersion* listed = &job->index.versions[v];
      if (listed->x == job->haveX && listed->y == job->haveY) newest = listed;
    }
    if (newest == NULL) {
      DownloadTell(job->update, "the channel %s does not list the data folder's version%s", channel,
                   job->hasVersion ? "" : " (it has none)");
      return RUNGAME_FEED_REFUSED;
    }
  }
  _snprintf(job->update->version, sizeof job->update->version, "%ld.%ld", newest->x, newest->y);
  if (!job->repair && job->hasVersion && !rungame_version_is_later(newest->x, newest->y, job->haveX, job->haveY)) {
    if (newest->x == job->haveX && newest->y == job->haveY) return RUNGAME_FEED_UP_TO_DATE;
    _snprintf(version, sizeof version, "%ld.%ld", job->haveX, job->haveY);
    DownloadTell(job->update, "the feed's newest version %s is older than the installed %s (an old index served again)",
         job->update->version, version);
    return RUNGAME_FEED_REFUSED;
  }
  /* The index pins the manifest's bytes. */
  FeedManifestPath(newest->x, newest->y, manifestPath);
  text = NULL;
  result = RunGameHttpGetAll(&job->http, manifestPath, FEED_MAX_MANIFEST, &text, &size, job->update->reason,
                             sizeof job->update->reason);
  if (result != RUNGAME_HTTP_OK) return DownloadHttpFailure(job, result);
  FastSha256Digest((const unsigned char*)(text ? text : ""), size, digest);
  if (size != newest->manifestSize || memcmp(digest, newest->manifestSha256, 32) != 0) {
    free(text);
    DownloadTell(job->update, "%s is not the manifest the index lists%s", manifestPath, "");
    return RUNGAME_FEED_REFUSED;
  }
  if (!FeedReadManifest(text, size, job->key, &job->manifest, &why) || job->manifest.x != newest->x ||
      job->manifest.y != newest->y) {
    free(text);
    DownloadTell(job->update, "the manifest of %s is refused: %s", job->update->version, why ? why : "another version");
    return RUNGAME_FEED_REFUSED;
  }
  free(text);
  return job->repair ? RUNGAME_FEED_OK : ReadStep(job, newest);
}
