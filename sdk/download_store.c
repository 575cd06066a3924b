/* Fetching the missing chunks into the chunk store, one by one or in runs
 * of a pack (download_batch.c). Each chunk is fetched
 * into memory, checked (one zlib stream of its listed size hashing to its
 * name) and appended uncompressed to a store file this call made new: a
 * chunk costs a request and a write, no file of its own. A chunk cut short that cannot be
 * resumed within the call is kept as ~download\<hash>.part, which the next
 * call resumes with a ranged request. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../feed/feed_chunker.h"
#include "../feed/feed_store.h"
#include "../rules/rungame_rules.h"
#include "download_job.h"


static int PartPath(const Job* job, const unsigned char sha256[32], char path[MAX_PATH]) {
  char name[64 + sizeof ".part"];
  rungame_hex(sha256, 32, name);
  memcpy(name + 64, ".part", sizeof ".part");
  return rungame_join_path(path, job->downloads, name);
}

/* What an earlier call kept of the chunk, into `body`; its bytes (the
 * caller frees them), so that the part is removed only once they proved to
 * be the start of the chunk. Whatever else has the part's name, a
 * stranger's file or a link to one, is read, found wanting and left alone:
 * under Wine a unix link to a file cannot be told from the file, and
 * deleting it deletes what it points to. */
static unsigned char* TakePart(const Job* job, const FeedChunk* chunk, RunGameHttpBody* body, size_t* size) {
  char path[MAX_PATH];
  unsigned char* kept;
  *size = 0;
  if (!PartPath(job, chunk->sha256, path)) return NULL;
  kept = DownloadReadOwnFile(path, FEED_STORED_LIMIT((size_t)chunk->size), size);
  if (kept != NULL && *size > 0 && !RunGameHttpAppend(body, kept, *size)) body->size = 0;
  return kept;
}

/* Keeps what arrived of a chunk as its part for the next call: written new
 * under a name of this thread's, then renamed over the part's name, which
 * replaces whatever had it as a name and writes through nothing. */
static void KeepPart(const Job* job, const FeedChunk* chunk, const RunGameHttpBody* body) {
  char path[MAX_PATH], fresh[MAX_PATH];
  HANDLE file;
  DWORD written = 0;
  int ok;
  if (body->size == 0 || !PartPath(job, chunk->sha256, path)) return;
  _snprintf(fresh, sizeof fresh, "%s.%lu", path, (unsigned long)GetCurrentThreadId());
  fresh[sizeof fresh - 1] = '\0';
  file = DownloadOpenOwnFile(fresh, GENERIC_WRITE, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return;
  ok = WriteFile(file, body->bytes, (DWORD)body->size, &written, NULL) && written == body->size;
  CloseHandle(file);
  if (!ok || !MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING)) DeleteFileA(fresh);
}

/* The fetch runs on a few connections at once: Wine's WinHTTP, like any
 * HTTP client, spends a round trip and its own work on every request, and
 * the chunks are many. The caller's thread stays the one that reports
 * progress and watches the caller's cancel flag. */
#define FETCHERS 4

typedef struct Fetch {
  Job* job;
  CRITICAL_SECTION lock; /* guards everything below, the store and job->local */
  HANDLE store;          /* the store file this call made */
  int storeFile;
  unsigned long long storeEnd;
  int parts;
  size_t next;
  unsigned long long done;
  volatile long stop; /* every fetcher's cancel flag */
  int result;
} Fetch;

/* Ends the fetch with `result` unless it has ended already. */
static void Stop(Fetch* fetch, int result, const char* reason) {
  EnterCriticalSection(&fetch->lock);
  if (fetch->result == RUNGAME_FEED_OK) {
    fetch->result = result;
    if (reason != NULL) DownloadTell(fetch->job->update, "%s%s", reason, "");
  }
  InterlockedExchange(&fetch->stop, 1);
  LeaveCriticalSection(&fetch->lock);
}

/* Fetches one chunk into `record` (its header, then its checked bytes). */
static int FetchChunk(Fetch* fetch, RunGameHttp* http, const FeedChunk* chunk, RunGameHttpBody* body,
                      unsigned char* record, char* reason, size_t reasonSize) {
  char url[FEED_CHUNK_PATH_BYTES];
  const char* why = "";
  int resumed, result;
  size_t keptSize = 0;
  unsigned char* kept = NULL;
  FeedChunkPath(chunk->sha256, url);
  body->size = 0;
  if (fetch->parts) kept = TakePart(fetch->job, chunk, body, &keptSize);
  for (resumed = body->size > 0;; resumed = 0) {
    /* A part kept whole by a call stopped right after it needs no request. */
    if (resumed && FeedOpenChunk(body->bytes, body->size, chunk->sha256, (size_t)chunk->size, record + RECORD_HEADER,
                                 &why)) {
      break;
    }
    result = RunGameHttpGet(http, url, body->size, FEED_STORED_LIMIT(chunk->size), RunGameHttpAppend, RunGameHttpEmpty,
                            body, reason, reasonSize);
    if (result != RUNGAME_HTTP_OK) {
      KeepPart(fetch->job, chunk, body);
      free(kept);
      return result;
    }
    if (FeedOpenChunk(body->bytes, body->size, chunk->sha256, (size_t)chunk->size, record + RECORD_HEADER, &why)) {
      break;
    }
    body->size = 0;
    /* A resumed chunk may have started from a stranger's bytes: once more
       from the start before the server is blamed. */
    if (!resumed) {
      _snprintf(reason, reasonSize, "the chunk %s from the feed does not match its hash: %s", url, why);
      reason[reasonSize - 1] = '\0';
      free(kept);
      return -1;
    }
  }
  /* The part served as the start of the chunk: it has done its work. */
  if (keptSize > 0 && body->size >= keptSize && memcmp(body->bytes, kept, keptSize) == 0) {
    char path[MAX_PATH];
    if (PartPath(fetch->job, chunk->sha256, path)) DeleteFileA(path);
  }
  free(kept);
  return RUNGAME_HTTP_OK;
}

/* Appends a fetched chunk's record (its checked bytes after the header
 * room) to the store. */
static int Keep(Fetch* fetch, const FeedChunk* chunk, unsigned char* record) {
  Job* job = fetch->job;
  DWORD written = 0;
  int ok;
  memcpy(record, chunk->sha256, 32);
  record[32] = (unsigned char)(chunk->size & 0xff);
  record[33] = (unsigned char)(chunk->size >> 8 & 0xff);
  record[34] = (unsigned char)(chunk->size >> 16 & 0xff);
  record[35] = (unsigned char)(chunk->size >> 24 & 0xff);
  EnterCriticalSection(&fetch->lock);
  ok = WriteFile(fetch->store, record, (DWORD)(RECORD_HEADER + chunk->size), &written, NULL) &&
       written == RECORD_HEADER + chunk->size &&
       DownloadAddLocal(job, chunk->sha256, STORE_SOURCE(fetch->storeFile), fetch->storeEnd + RECORD_HEADER,
                        (size_t)chunk->size);
  if (ok) {
    fetch->storeEnd += RECORD_HEADER + chunk->size;
    fetch->done += chunk->size;
  }
  LeaveCriticalSection(&fetch->lock);
  return ok;
}

/* Keeps a checked chunk; 0 when the store cannot take it, the fetch stopped. */
static int KeepOrStop(Fetch* fetch, const FeedChunk* chunk, unsigned char* record) {
  char reason[sizeof fetch->job->update->reason];
  if (Keep(fetch, chunk, record)) return 1;
  _snprintf(reason, sizeof reason, "cannot write the chunk store in %s (is the disk full?)", fetch->job->downloads);
  reason[sizeof reason - 1] = '\0';
  Stop(fetch, RUNGAME_FEED_WRITE_FAILED, reason);
  return 0;
}

/* Fetches one chunk from the chunk store and keeps it; 0 when the fetch
 * stopped. */
static int TakeChunk(Fetch* fetch, RunGameHttp* http, const FeedChunk* chunk, RunGameHttpBody* body,
                     unsigned char* record) {
  char reason[sizeof fetch->job->update->reason];
  const int result = FetchChunk(fetch, http, chunk, body, record, reason, sizeof reason);
  if (result == RUNGAME_HTTP_OK) return KeepOrStop(fetch, chunk, record);
  if (result == -1) {
    Stop(fetch, RUNGAME_FEED_REFUSED, reason);
  } else if (result == RUNGAME_HTTP_CANCELLED) {
    Stop(fetch, RUNGAME_FEED_CANCELLED, NULL);
  } else if (result == RUNGAME_HTTP_SINK_FAILED) {
    Stop(fetch, RUNGAME_FEED_WRITE_FAILED, "out of memory");
  } else {
    Stop(fetch, result == RUNGAME_HTTP_TOO_LARGE ? RUNGAME_FEED_REFUSED : RUNGAME_FEED_UNREACHABLE, reason);
  }
  return 0;
}

/* A run of a pack as it arrives: each chunk is checked and kept as soon as
 * its last byte is in, so progress moves and a cancel keeps what came. */
typedef struct Run {
  Fetch* fetch;
  const Batch* batch;
  /* What arrived and is not settled yet: the run's bytes from `dropped` on.
     Settled chunks are dropped as they go, so it never holds more than a
     chunk and a block, and costs no growing copy of the whole run. */
  RunGameHttpBody* bytes;
  unsigned long long dropped;
  unsigned char* record;
  unsigned char* refused; /* per chunk of the run: its bytes did not check out */
  size_t settled;         /* chunks kept or refused */
  int stopped;            /* the store could not take one */
} Run;

static int TakeFromRun(void* context, const void* bytes, size_t size) {
  Run* run = (Run*)context;
  const Job* job = run->fetch->job;
  size_t settledEnd = 0;
  if (!RunGameHttpAppend(run->bytes, bytes, size)) return 0;
  while (run->settled < run->batch->count) {
    const size_t i = run->batch->first + run->settled;
    const FeedPackedChunk* at = job->located[i];
    const size_t from = (size_t)(at->offset - run->batch->start - run->dropped);
    const char* why = NULL;
    if (from + at->size > run->bytes->size) break;
    settledEnd = from + (size_t)at->size;
    if (!FeedOpenChunk(run->bytes->bytes + from, (size_t)at->size, job->missing[i]->sha256,
                       (size_t)job->missing[i]->size, run->record + RECORD_HEADER, &why)) {
      run->refused[run->settled] = 1;
    } else if (!KeepOrStop(run->fetch, job->missing[i], run->record)) {
      run->stopped = 1;
      return 0;
    }
    ++run->settled;
  }
  if (settledEnd > 0) {
    memmove(run->bytes->bytes, run->bytes->bytes + settledEnd, run->bytes->size - settledEnd);
    run->bytes->size -= settledEnd;
    run->dropped += settledEnd;
  }
  return 1;
}

/* Fetches a run of a pack with one ranged request; each chunk it did not
 * give whole and sound (a pack missing or changed, a server that ignores
 * ranges, a cut past retrying) is fetched from the chunk store, which
 * decides. 0 when the fetch stopped. */
static int TakeRun(Fetch* fetch, RunGameHttp* http, const Batch* batch, RunGameHttpBody* body, unsigned char* record) {
  const Job* job = fetch->job;
  char url[FEED_PACK_PATH_BYTES];
  char reason[sizeof job->update->reason];
  Run run;
  int result;
  size_t i;
  memset(&run, 0, sizeof run);
  run.fetch = fetch;
  run.batch = batch;
  run.bytes = body;
  body->size = 0;
  run.record = record;
  run.refused = (unsigned char*)calloc(batch->count, 1);
  if (run.refused == NULL) {
    Stop(fetch, RUNGAME_FEED_WRITE_FAILED, "out of memory");
    return 0;
  }
  FeedPackPath(job->located[batch->first]->packX, job->located[batch->first]->packY, url);
  result = RunGameHttpGetRange(http, url, batch->start, batch->end, TakeFromRun, &run, reason, sizeof reason);
  if (result == RUNGAME_HTTP_CANCELLED) Stop(fetch, RUNGAME_FEED_CANCELLED, NULL);
  for (i = 0; i < batch->count && !run.stopped && result != RUNGAME_HTTP_CANCELLED; ++i) {
    if ((i >= run.settled || run.refused[i]) && !TakeChunk(fetch, http, job->missing[batch->first + i], body, record)) {
      run.stopped = 1;
    }
  }
  free(run.refused);
  return !run.stopped && result != RUNGAME_HTTP_CANCELLED;
}

static DWORD WINAPI Fetcher(void* context) {
  Fetch* fetch = (Fetch*)context;
  Job* job = fetch->job;
  RunGameHttp http;
  RunGameHttpBody body = {NULL, 0, 0};
  unsigned char* record = (unsigned char*)malloc(RECORD_HEADER + FEED_CHUNK_MAX);
  char reason[sizeof job->update->reason];
  if (record == NULL || !RunGameHttpOpen(&http, job->feedUrl, &fetch->stop, reason, sizeof reason)) {
    Stop(fetch, RUNGAME_FEED_UNREACHABLE, record == NULL ? "out of memory" : reason);
    free(record);
    return 0;
  }
  while (!fetch->stop) {
    const Batch* batch;
    EnterCriticalSection(&fetch->lock);
    batch = fetch->next < job->batchCount ? &job->batches[fetch->next++] : NULL;
    LeaveCriticalSection(&fetch->lock);
    if (batch == NULL) break;
    if (batch->count == 1 ? !TakeChunk(fetch, &http, job->missing[batch->first], &body, record)
                          : !TakeRun(fetch, &http, batch, &body, record)) {
      break;
    }
  }
  RunGameHttpClose(&http);
  free(body.bytes);
  free(record);
  return 0;
}

/* Whether any .part is there: one listing rather than a look a chunk. */
static int HasParts(const Job* job) {
  char pattern[MAX_PATH];
  WIN32_FIND_DATAA found;
  HANDLE search;
  if (!rungame_join_path(pattern, job->downloads, "*.part")) return 0;
  search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return 1;
}

int DownloadFetch(Job* job, RunGameFeedProgress progress, void* progressContext) {
  Fetch fetch;
  HANDLE threads[FETCHERS];
  DWORD count = 0, i;
  unsigned long long total = 0, told = (unsigned long long)-1;
  size_t c;
  for (c = 0; c < job->missingCount; ++c) total += job->missing[c]->size;
  memset(&fetch, 0, sizeof fetch);
  fetch.job = job;
  fetch.parts = HasParts(job);
  /* A store file of this call's own, made new. */
  fetch.store = INVALID_HANDLE_VALUE;
  for (fetch.storeFile = 0; fetch.storeFile < STORE_FILES && fetch.store == INVALID_HANDLE_VALUE; ++fetch.storeFile) {
    char path[MAX_PATH];
    if (!(job->storeFiles & 1u << fetch.storeFile) && DownloadStorePath(job, fetch.storeFile, path)) {
      fetch.store = DownloadOpenOwnFile(path, GENERIC_WRITE, CREATE_NEW);
    }
  }
  --fetch.storeFile;
  if (fetch.store != INVALID_HANDLE_VALUE) job->storeOwned |= 1u << fetch.storeFile;
  if (fetch.store == INVALID_HANDLE_VALUE) {
    DownloadTell(job->update, "cannot write the chunk store in %s (is the disk full, or %s full of others' files?)",
                 job->downloads, RUNGAME_DOWNLOAD_FOLDER);
    return RUNGAME_FEED_WRITE_FAILED;
  }
  InitializeCriticalSection(&fetch.lock);
  for (i = 0; i < FETCHERS && i < job->batchCount; ++i) {
    threads[count] = CreateThread(NULL, 0, Fetcher, &fetch, 0, NULL);
    if (threads[count] != NULL) ++count;
  }
  if (count == 0 && job->batchCount > 0) Stop(&fetch, RUNGAME_FEED_WRITE_FAILED, "cannot start a thread");
  /* Progress and the caller's cancel flag, here on the caller's thread. */
  for (;;) {
    unsigned long long done;
    DWORD waited = count ? WaitForMultipleObjects(count, threads, TRUE, 50) : WAIT_OBJECT_0;
    EnterCriticalSection(&fetch.lock);
    done = fetch.done;
    LeaveCriticalSection(&fetch.lock);
    if (job->cancel != NULL && *job->cancel) Stop(&fetch, RUNGAME_FEED_CANCELLED, NULL);
    if (progress != NULL && done != told) {
      told = done;
      if (!progress(progressContext, done, total)) Stop(&fetch, RUNGAME_FEED_CANCELLED, NULL);
    }
    if (waited != WAIT_TIMEOUT) break;
  }
  /* A wait that failed outright: the fetchers are stopped and each is
     waited for, since they use what is freed below. */
  for (i = 0; i < count; ++i) {
    if (WaitForSingleObject(threads[i], 0) != WAIT_OBJECT_0) {
      Stop(&fetch, RUNGAME_FEED_WRITE_FAILED, "cannot wait for the download's threads");
      WaitForSingleObject(threads[i], INFINITE);
    }
  }
  for (i = 0; i < count; ++i) CloseHandle(threads[i]);
  DeleteCriticalSection(&fetch.lock);
  CloseHandle(fetch.store);
  if (fetch.result == RUNGAME_FEED_CANCELLED) DownloadTell(job->update, "cancelled%s%s", "", "");
  DownloadSortLocal(job);
  return fetch.result;
}
