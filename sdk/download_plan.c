/* The plan: which files of the newest version differ from the data
 * folder's, and which of their chunks no file of the data folder and no
 * record of the chunk store holds. */
#include <stdlib.h>
#include <string.h>

#include "../hash/sha256.h"

#include "../feed/feed_chunker.h"
#include "../rules/rungame_rules.h"
#include "download_job.h"

#define READ_BLOCK (4u * 1024u * 1024u)

static int CompareMissing(const void* a, const void* b) {
  return memcmp((*(const FeedChunk* const*)a)->sha256, (*(const FeedChunk* const*)b)->sha256, 32);
}

/* One file of the chunk store: every chunk an earlier call fetched and
 * checked, uncompressed, one record after another. A record counts only
 * while its bytes hash to its name; the first that does not (a call killed
 * while writing it, a stranger's bytes) ends what is taken. */
static int ScanStoreFile(Job* job, int k, unsigned char* buffer) {
  char path[MAX_PATH];
  HANDLE store;
  unsigned long long offset = 0;
  int ok = 1;
  if (!DownloadStorePath(job, k, path)) return 1;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 1;
  job->storeFiles |= 1u << k;
  store = DownloadOpenOwnFile(path, GENERIC_READ, OPEN_EXISTING);
  if (store == INVALID_HANDLE_VALUE) return 1;
  for (;;) {
    unsigned char header[RECORD_HEADER], sha256[32];
    DWORD got = 0;
    size_t size;
    if (!ReadFile(store, header, RECORD_HEADER, &got, NULL) || got != RECORD_HEADER) break;
    size = (size_t)header[32] | (size_t)header[33] << 8 | (size_t)header[34] << 16 | (size_t)header[35] << 24;
    if (size == 0 || size > FEED_CHUNK_MAX || !ReadFile(store, buffer, (DWORD)size, &got, NULL) || got != size) break;
    FastSha256Digest(buffer, size, sha256);
    if (memcmp(sha256, header, 32) != 0) break;
    if (!DownloadAddLocal(job, sha256, STORE_SOURCE(k), offset + RECORD_HEADER, size)) {
      ok = 0;
      break;
    }
    offset += RECORD_HEADER + size;
    job->storeOwned |= 1u << k;
  }
  CloseHandle(store);
  return ok;
}

static int ScanStore(Job* job, unsigned char* buffer) {
  int k;
  for (k = 0; k < STORE_FILES; ++k) {
    if (!ScanStoreFile(job, k, buffer)) return 0;
  }
  return 1;
}

/* Cuts the data folder's file of entry `e` as the feed does; 1 when it
 * holds exactly the listed chunks. Every chunk found is remembered. */
static int ChunkDataFile(Job* job, size_t e, const FeedChunker* chunker, unsigned char* buffer, int* failed) {
  const FeedEntry* entry = &job->manifest.entries[e];
  HANDLE file = DownloadOpenDataFile(job, entry->path);
  unsigned long long offset = 0;
  size_t have = 0, listed = 0;
  int same = 1, end = 0;
  if (file == INVALID_HANDLE_VALUE) return 0;
  while (!end || have > 0) {
    size_t at = 0;
    while (!end && have < READ_BLOCK) {
      DWORD got = 0;
      if (!ReadFile(file, buffer + have, (DWORD)(READ_BLOCK - have), &got, NULL)) got = 0, same = 0;
      if (got == 0) end = 1;
      have += got;
    }
    while (have - at >= FEED_CHUNK_MAX || (end && at < have)) {
      size_t length = FeedChunkLength(chunker, buffer + at, have - at);
      unsigned char sha256[32];
      FastSha256Digest(buffer + at, length, sha256);
      if (!DownloadAddLocal(job, sha256, e, offset + at, length)) *failed = 1;
      if (listed < entry->chunkCount) {
        const FeedChunk* chunk = &job->manifest.chunks[entry->firstChunk + listed];
        if (chunk->size != length || memcmp(chunk->sha256, sha256, 32) != 0) same = 0;
      }
      ++listed;
      at += length;
    }
    memmove(buffer, buffer + at, have - at);
    have -= at;
    offset += at;
  }
  CloseHandle(file);
  return same && listed == entry->chunkCount && offset == entry->size;
}

/* The data-folder entry at `relative` is a folder (no link). */
static int IsDataFolder(const Job* job, const char* relative) {
  char path[MAX_PATH];
  DWORD attributes;
  if (!rungame_join_path(path, job->dataFolder, relative)) return 0;
  attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* The entry whose path is the first `length` bytes of `path`, or NULL; the
 * manifest lists its paths sorted by their bytes. */
static const FeedEntry* FindEntry(const Job* job, const char* path, size_t length) {
  size_t low = 0, high = job->manifest.count;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const char* listed = job->manifest.entries[middle].path;
    int order = strncmp(listed, path, length);
    if (order == 0) order = listed[length] != '\0';
    if (order == 0) return &job->manifest.entries[middle];
    if (order < 0) low = middle + 1;
    else high = middle;
  }
  return NULL;
}

/* Marks the folders above a changed file, which the staged update lists. */
static void MarkFoldersAbove(Job* job, const char* path) {
  const char* slash;
  for (slash = strchr(path, '\\'); slash != NULL; slash = strchr(slash + 1, '\\')) {
    const FeedEntry* folder = FindEntry(job, path, (size_t)(slash - path));
    if (folder != NULL && folder->isFolder) job->changed[folder - job->manifest.entries] = 1;
  }
}

/* With a signed step, the files and folders it lists are staged, each as
 * the manifest has it, and nothing else. 0 when the two disagree. */
static int TakeStep(Job* job) {
  size_t e, listed = 0;
  for (e = 0; e < job->manifest.count; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    const RunGameManifestEntry* step = rungame_find_entry(&job->step, entry->path);
    job->changed[e] = step != NULL;
    if (step == NULL) continue;
    ++listed;
    if (step->isFolder != entry->isFolder ||
        (!entry->isFolder && (step->size != entry->size || memcmp(step->sha256, entry->sha256, 32) != 0))) {
      return 0;
    }
  }
  return listed == job->step.count;
}

/* Which files change, and which chunks neither the data folder nor an
 * earlier call holds. */
int DownloadPlan(Job* job) {
  FeedChunker chunker;
  unsigned char* buffer = (unsigned char*)malloc(READ_BLOCK);
  size_t e, c, unique = 0;
  int failed = 0;
  job->changed = (unsigned char*)calloc(job->manifest.count + 1, 1);
  job->missing = (const FeedChunk**)calloc(job->manifest.chunkCount + 1, sizeof *job->missing);
  if (buffer == NULL || job->changed == NULL || job->missing == NULL) {
    free(buffer);
    DownloadTell(job->update, "out of memory%s%s", "", "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  FeedChunkerInit(&chunker);
  for (e = 0; e < job->manifest.count; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    if (entry->isFolder) {
      job->changed[e] = !IsDataFolder(job, entry->path);
    } else {
      job->changed[e] = !ChunkDataFile(job, e, &chunker, buffer, &failed);
    }
  }
  if (!ScanStore(job, buffer)) failed = 1;
  free(buffer);
  if (failed) {
    DownloadTell(job->update, "out of memory%s%s", "", "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  DownloadSortLocal(job);
  if (job->step.text != NULL && !TakeStep(job)) {
    DownloadTell(job->update, "the signed update marker does not list what the manifest does%s%s", "", "");
    return RUNGAME_FEED_REFUSED;
  }
  for (e = 0; e < job->manifest.count; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    if (entry->isFolder || !job->changed[e]) continue;
    if (job->step.text == NULL) MarkFoldersAbove(job, entry->path);
    for (c = 0; c < entry->chunkCount; ++c) {
      const FeedChunk* chunk = &job->manifest.chunks[entry->firstChunk + c];
      if (DownloadFindLocal(job, chunk->sha256) == NULL) job->missing[job->missingCount++] = chunk;
    }
  }
  qsort((void*)job->missing, job->missingCount, sizeof *job->missing, CompareMissing);
  for (c = 0; c < job->missingCount; ++c) {
    if (unique == 0 || memcmp(job->missing[unique - 1]->sha256, job->missing[c]->sha256, 32) != 0) {
      job->missing[unique++] = job->missing[c];
    }
  }
  job->missingCount = unique;
  return RUNGAME_FEED_OK;
}

int DownloadAnyChanged(const Job* job) {
  size_t e;
  for (e = 0; e < job->manifest.count; ++e) {
    if (job->changed[e]) return 1;
  }
  return 0;
}
