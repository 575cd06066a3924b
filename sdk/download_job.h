/* The download's own parts (rungame_download.h is its face): one call's
 * state, and the pieces that read the feed, plan against the data folder,
 * fetch into the chunk store and assemble the update. */
#ifndef RUNGAME_DOWNLOAD_JOB_H
#define RUNGAME_DOWNLOAD_JOB_H

#include <windows.h>

#include "../feed/feed_index.h"
#include "../feed/feed_manifest.h"
#include "../feed/feed_packs.h"
#include "../format/rungame_format.h"
#include "rungame_download.h"
#include "rungame_http.h"

/* A chunk on disk the update can be made of: in a data-folder file or in
 * one of the chunk store's files, ~download\chunks-<k>.bin, k from 0 to
 * STORE_FILES - 1. A store file is written only by the call that made it
 * new, never opened for writing again: a name a stranger put there (a link
 * to some file elsewhere) is never written through. */
#define STORE_FILES 32
/* A store record: the chunk's SHA-256, its size (4 bytes, little-endian),
 * its bytes. */
#define RECORD_HEADER 36
#define STORE_SOURCE(k) ((size_t)-1 - (size_t)(k))
#define IS_STORE_SOURCE(source) ((source) > (size_t)-1 - STORE_FILES)
#define STORE_FILE_OF(source) ((int)((size_t)-1 - (source)))
typedef struct LocalChunk {
  unsigned char sha256[32];
  size_t source; /* the manifest entry whose data-folder file holds it, or STORE_SOURCE(k) */
  unsigned long long offset;
  size_t size;
} LocalChunk;

enum DownloadPhase { DOWNLOAD_WORKING, DOWNLOAD_STAGING, DOWNLOAD_CANCELLED };

typedef struct Job {
  const char* feedUrl;
  const volatile long* cancel; /* the caller's, may be NULL */
  /* The call's phase, DOWNLOAD_WORKING until the staging begins, which a
     cancel (DOWNLOAD_CANCELLED) no longer ends; NULL: not watched. */
  volatile long* phase;
  RunGameHttp http;
  RunGameFeedUpdate* update;
  unsigned char key[32];
  char dataFolder[MAX_PATH];
  char downloads[MAX_PATH]; /* <data folder>\~download */

  int hasVersion;
  long haveX, haveY;
  /* a repair: the data folder's own version is the one to stage, with its
     signed record as the marker */
  int repair;
  FeedIndex index;
  FeedManifest manifest;
  /* the signed update marker of the step from the data folder's version,
     where the feed has one */
  char* stepText;
  size_t stepSize;
  RunGameManifest step;
  /* the plan */
  unsigned char* changed; /* per entry: a file to stage, a folder to list */
  LocalChunk* local;      /* sorted by hash once planned */
  size_t localCount, localCapacity;
  unsigned storeFiles;  /* bit k: chunks-<k>.bin is there */
  unsigned storeOwned;  /* bit k: it held sound records, or this call made it */
  char updateFolder[MAX_PATH]; /* made new by this call, or empty */
  const FeedChunk** missing;   /* unique; in batch order once batched */
  size_t missingCount;
  /* the fetch's work: runs of missing chunks, each one request */
  FeedPacks packs;
  const FeedPackedChunk** located; /* per missing chunk: where a pack holds it, or NULL */
  struct Batch* batches;
  size_t batchCount;
} Job;

/* Missing chunks fetched with one request: job->missing[first] on, `count`
 * of them. One is fetched from the chunk store; more, as the bytes `start`
 * to `end` of the pack their job->located entries name. */
typedef struct Batch {
  size_t first, count;
  unsigned long long start, end;
} Batch;

/* Sets the reason: `format` with two strings. */
void DownloadTell(RunGameFeedUpdate* update, const char* format, const char* a, const char* b);
/* The result for an HTTP failure, the reason told already. */
int DownloadHttpFailure(Job* job, int httpResult);

/* The path of store file `k`. */
int DownloadStorePath(const Job* job, int k, char path[MAX_PATH]);

/* Files: the data folder's for reading, the download folder's own. */
HANDLE DownloadOpenDataFile(const Job* job, const char* relative);
HANDLE DownloadOpenOwnFile(const char* path, DWORD access, DWORD disposition);
unsigned char* DownloadReadOwnFile(const char* path, size_t limit, size_t* size);
int DownloadMakeOwnFolder(const char* path);
int DownloadRemoveOwnTree(const char* path);

int DownloadAddLocal(Job* job, const unsigned char sha256[32], size_t source, unsigned long long offset, size_t size);
void DownloadSortLocal(Job* job);
const LocalChunk* DownloadFindLocal(const Job* job, const unsigned char sha256[32]);

/* The steps of a call, each a RunGameFeedResult. */
int DownloadReadFeed(Job* job, const char* channel);
int DownloadPlan(Job* job);
/* Whether the plan stages anything. */
int DownloadAnyChanged(const Job* job);
/* Reads where the packs hold the newest version's chunks, and batches the
 * missing chunks into requests: runs of a pack, the rest one by one. A feed
 * without packs, or whose list is refused, is fetched chunk by chunk. */
int DownloadBatch(Job* job);
void DownloadFreeBatches(Job* job);
int DownloadFetch(Job* job, RunGameFeedProgress progress, void* progressContext);
/* For a repair: the version's signed record, made of its chunks (fetched
 * by now) and checked, becomes the marker to stage with. */
int DownloadTakeRecord(Job* job);
int DownloadAssembleAndStage(Job* job, const char* markerName);
/* Removes what this call made or used in the download folder, and the
 * folder when nothing else is left in it. */
void DownloadClean(Job* job);

#endif /* RUNGAME_DOWNLOAD_JOB_H */
