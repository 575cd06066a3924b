/* The missing chunks batched into requests by where the feed's packs hold
 * them: Wine's WinHTTP spends about a millisecond of processor on every
 * request, as much as on 100 KB of body, so a run of a pack costs one
 * request where its chunks would cost one each. */
#include <stdlib.h>
#include <string.h>

#include "../feed/feed_store.h"
#include "download_job.h"

/* Long enough that a request's cost is small beside its bytes, short enough
 * that the fetchers share the work and a cut costs little; a gap of chunks
 * the player holds is fetched through when short. */
#define BATCH_BYTES (4u * 1024u * 1024u)
#define BATCH_GAP (64u * 1024u)

/* Where the packs hold the newest version's chunks; none when the feed has
 * no list (a feed published before packs) or a list that is refused: the
 * chunks are fetched one by one then, as they always can be. */
static int ReadPacks(Job* job) {
  char url[FEED_PACKS_PATH_BYTES];
  char reason[sizeof job->update->reason];
  char* text = NULL;
  size_t size = 0;
  const char* why = NULL;
  int result;
  FeedPacksPath(job->manifest.x, job->manifest.y, url);
  result = RunGameHttpGetAll(&job->http, url, FEED_MAX_PACKS, &text, &size, reason, sizeof reason);
  if (result == RUNGAME_HTTP_CANCELLED) {
    free(text);
    DownloadTell(job->update, "cancelled%s%s", "", "");
    return RUNGAME_FEED_CANCELLED;
  }
  if (result == RUNGAME_HTTP_OK && FeedReadPacks(text ? text : "", size, job->key, &job->packs, &why) &&
      (job->packs.x != job->manifest.x || job->packs.y != job->manifest.y)) {
    FeedFreePacks(&job->packs);
  }
  free(text);
  return RUNGAME_FEED_OK;
}

typedef struct Missing {
  const FeedChunk* chunk;
  const FeedPackedChunk* at;
} Missing;

static int CompareLocatedByHash(const void* a, const void* b) {
  return memcmp((*(const FeedPackedChunk* const*)a)->sha256, (*(const FeedPackedChunk* const*)b)->sha256, 32);
}

/* The list is in pack order, so its entries' addresses are too; chunks no
 * pack holds go last. */
static int CompareByPlace(const void* a, const void* b) {
  const FeedPackedChunk* x = ((const Missing*)a)->at;
  const FeedPackedChunk* y = ((const Missing*)b)->at;
  if (x == NULL || y == NULL) return (x == NULL) - (y == NULL);
  return x < y ? -1 : x > y;
}

static int Follows(const Batch* batch, const FeedPackedChunk* last, const FeedPackedChunk* next) {
  return next != NULL && next->packX == last->packX && next->packY == last->packY &&
         next->offset - batch->end <= BATCH_GAP && next->offset + next->size - batch->start <= BATCH_BYTES;
}

int DownloadBatch(Job* job) {
  const size_t count = job->missingCount;
  const FeedPackedChunk** byHash = NULL;
  Missing* missing;
  size_t i;
  int result = ReadPacks(job);
  if (result != RUNGAME_FEED_OK) return result;
  missing = (Missing*)calloc(count + 1, sizeof *missing);
  job->located = (const FeedPackedChunk**)calloc(count + 1, sizeof *job->located);
  job->batches = (Batch*)calloc(count + 1, sizeof *job->batches);
  if (job->packs.count > 0) byHash = (const FeedPackedChunk**)calloc(job->packs.count, sizeof *byHash);
  if (missing == NULL || job->located == NULL || job->batches == NULL || (job->packs.count > 0 && byHash == NULL)) {
    free(missing);
    free((void*)byHash);
    DownloadTell(job->update, "out of memory%s%s", "", "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  for (i = 0; i < job->packs.count; ++i) byHash[i] = &job->packs.chunks[i];
  if (byHash != NULL) qsort((void*)byHash, job->packs.count, sizeof *byHash, CompareLocatedByHash);
  for (i = 0; i < count; ++i) {
    FeedPackedChunk key;
    const FeedPackedChunk* wanted = &key;
    const FeedPackedChunk** found = NULL;
    memcpy(key.sha256, job->missing[i]->sha256, 32);
    if (byHash != NULL) found = (const FeedPackedChunk**)bsearch(&wanted, byHash, job->packs.count, sizeof *byHash, CompareLocatedByHash);
    missing[i].chunk = job->missing[i];
    missing[i].at = found ? *found : NULL;
  }
  free((void*)byHash);
  qsort(missing, count, sizeof *missing, CompareByPlace);
  for (i = 0; i < count; ++i) {
    job->missing[i] = missing[i].chunk;
    job->located[i] = missing[i].at;
  }
  free(missing);
  /* Runs of a pack, each within BATCH_BYTES; the rest one by one. */
  for (i = 0; i < count;) {
    Batch* batch = &job->batches[job->batchCount++];
    const FeedPackedChunk* at = job->located[i];
    batch->first = i;
    batch->count = 1;
    if (at != NULL) {
      batch->start = at->offset;
      batch->end = at->offset + at->size;
      while (i + batch->count < count && Follows(batch, job->located[i + batch->count - 1], job->located[i + batch->count])) {
        at = job->located[i + batch->count++];
        batch->end = at->offset + at->size;
      }
    }
    i += batch->count;
  }
  return RUNGAME_FEED_OK;
}

void DownloadFreeBatches(Job* job) {
  FeedFreePacks(&job->packs);
  free((void*)job->located);
  free(job->batches);
  job->located = NULL;
  job->batches = NULL;
  job->batchCount = 0;
}
