/* See rungame_download.h: the two calls, each a run of the steps in
 * download_job.h. Plain C and the ANSI Windows API beside WinHTTP. */
#include "rungame_download.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <sodium.h>

#include "../rules/rungame_rules.h"
#include "download_job.h"
#include "rungame_signed.h"
#include "rungame_update.h"

static void EndJob(Job* job) {
  RunGameHttpClose(&job->http);
  FeedFreeIndex(&job->index);
  FeedFreeManifest(&job->manifest);
  free(job->stepText);
  rungame_free_manifest(&job->step);
  free(job->changed);
  free(job->local);
  free((void*)job->missing);
  DownloadFreeBatches(job);
}

static int Begin(Job* job, RunGameFeedUpdate* update, const char* feedUrl, const char* channel, const char* dataFolder,
                 const char* publicKeyHex, const volatile long* cancel, int repair) {
  char versionFile[MAX_PATH];
  memset(job, 0, sizeof *job);
  job->update = update;
  job->repair = repair;
  job->feedUrl = feedUrl;
  job->cancel = cancel;
  memset(update, 0, sizeof *update);
  if (feedUrl == NULL || feedUrl[0] == '\0' || publicKeyHex == NULL || !rungame_parse_public_key(publicKeyHex, job->key)) {
    DownloadTell(update, "no feed URL or no valid public key%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    if (!RunGameDataFolder(job->dataFolder, MAX_PATH)) return RUNGAME_FEED_BAD_ARGUMENT;
  } else if (dataFolder[0] == '\0' || strlen(dataFolder) >= MAX_PATH) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  } else {
    strcpy(job->dataFolder, dataFolder);
  }
  if (!rungame_join_path(job->downloads, job->dataFolder, RUNGAME_DOWNLOAD_FOLDER) ||
      !rungame_join_path(versionFile, job->dataFolder, "properties\\version.xml")) {
    DownloadTell(update, "the data folder's path is too long%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (sodium_init() < 0) return RUNGAME_FEED_WRITE_FAILED;
  job->hasVersion = RunGameReadVersionFile(versionFile, &job->haveX, &job->haveY);
  if (!RunGameHttpOpen(&job->http, feedUrl, cancel, update->reason, sizeof update->reason)) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  return DownloadReadFeed(job, channel ? channel : "stable");
}

/* What is still to fetch: the chunks neither the data folder nor the store
 * holds. */
static void Count(Job* job) {
  size_t c;
  for (c = 0; c < job->missingCount; ++c) {
    job->update->downloadBytes += job->missing[c]->size;
    ++job->update->chunkCount;
  }
}

int RunGameCheckForUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          RunGameFeedUpdate* update) {
  Job job;
  int result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, NULL, 0);
  if (result == RUNGAME_FEED_OK) result = DownloadPlan(&job);
  if (result == RUNGAME_FEED_OK) Count(&job);
  EndJob(&job);
  return result;
}

/* Fetches what the plan lacks, then assembles and stages it. */
static int FetchAndStage(Job* job, const char* markerName, RunGameFeedProgress progress, void* progressContext) {
  int result = RUNGAME_FEED_OK;
  Count(job);
  if (!DownloadMakeOwnFolder(job->downloads)) {
    DownloadTell(job->update, "cannot make %s (a file or link there?)%s", job->downloads, "");
    result = RUNGAME_FEED_WRITE_FAILED;
  }
  if (result == RUNGAME_FEED_OK) result = DownloadBatch(job);
  if (result == RUNGAME_FEED_OK) result = DownloadFetch(job, progress, progressContext);
  if (result == RUNGAME_FEED_OK && job->repair) result = DownloadTakeRecord(job);
  if (result == RUNGAME_FEED_OK) result = DownloadAssembleAndStage(job, markerName);
  /* Staged, the downloads have served; refused by the staging, the update
     folder made of them goes, and the next call makes it anew. */
  if (result == RUNGAME_FEED_OK) {
    DownloadClean(job);
  } else if (job->updateFolder[0]) {
    DownloadRemoveOwnTree(job->updateFolder);
    DeleteFileA(job->updateManifest);
  }
  return result;
}

static int Download(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                    const char* markerName, RunGameFeedProgress progress, void* progressContext,
                    const volatile long* cancel, RunGameFeedUpdate* update, int repair) {
  Job job;
  int result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  if (markerName == NULL || !rungame_is_plain_marker_name(markerName)) {
    memset(update, 0, sizeof *update);
    DownloadTell(update, "the marker is no plain file name%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, cancel, repair);
  if (result == RUNGAME_FEED_OK) result = DownloadPlan(&job);
  if (result == RUNGAME_FEED_OK && repair && !DownloadAnyChanged(&job)) result = RUNGAME_FEED_UP_TO_DATE;
  if (result == RUNGAME_FEED_OK) result = FetchAndStage(&job, markerName, progress, progressContext);
  EndJob(&job);
  return result;
}

int RunGameDownloadUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update) {
  return Download(feedUrl, channel, dataFolder, publicKeyHex, markerName, progress, progressContext, cancel, update, 0);
}

int RunGameRepairFromFeed(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update) {
  return Download(feedUrl, channel, dataFolder, publicKeyHex, markerName, progress, progressContext, cancel, update, 1);
}
