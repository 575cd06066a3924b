/* See rungame_download.h. Plain C and the ANSI Windows API beside WinHTTP. */
#include "rungame_download.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sodium.h>

#include "../feed/feed_chunker.h"
#include "../feed/feed_index.h"
#include "../feed/feed_manifest.h"
#include "../feed/feed_store.h"
#include "../format/rungame_format.h"
#include "../rules/rungame_rules.h"
#include "rungame_http.h"
#include "rungame_signed.h"
#include "rungame_update.h"

/* A zlib stream of a chunk is never much larger than the chunk. */
#define STORED_LIMIT(size) ((size) + (size) / 8 + 1024)
#define READ_BLOCK (4u * 1024u * 1024u)

static void Tell(RunGameFeedUpdate* update, const char* format, const char* a, const char* b) {
  _snprintf(update->reason, sizeof update->reason, format, a, b);
  update->reason[sizeof update->reason - 1] = '\0';
}

static void Hex(const unsigned char* bytes, size_t count, char* out) {
  static const char digits[] = "0123456789abcdef";
  size_t i;
  for (i = 0; i < count; ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 15];
  }
  out[2 * count] = '\0';
}

/* A chunk the data folder holds: where, and its hash. */
typedef struct LocalChunk {
  unsigned char sha256[32];
  size_t entry; /* the manifest's file entry whose data-folder file holds it */
  unsigned long long offset;
  size_t size;
} LocalChunk;

/* Everything a call works with. */
typedef struct Job {
  RunGameHttp http;
  RunGameFeedUpdate* update;
  unsigned char key[32];
  char dataFolder[MAX_PATH];
  char downloads[MAX_PATH];
  int hasVersion;
  long haveX, haveY;
  FeedIndex index;
  FeedManifest manifest;
  /* the signed update marker of the step from the data folder's version,
     where the feed has one */
  char* stepText;
  size_t stepSize;
  RunGameManifest step;
  /* the plan */
  unsigned char* changed; /* per entry: a file to stage, a folder to list */
  LocalChunk* local;
  size_t localCount, localCapacity;
  const FeedChunk** missing; /* unique, by hash */
  size_t missingCount;
} Job;

static void EndJob(Job* job) {
  RunGameHttpClose(&job->http);
  FeedFreeIndex(&job->index);
  FeedFreeManifest(&job->manifest);
  free(job->stepText);
  rungame_free_manifest(&job->step);
  free(job->changed);
  free(job->local);
  free(job->missing);
}

static int FeedFailure(Job* job, int httpResult) {
  if (httpResult == RUNGAME_HTTP_CANCELLED) {
    Tell(job->update, "cancelled%s%s", "", "");
    return RUNGAME_FEED_CANCELLED;
  }
  if (httpResult == RUNGAME_HTTP_SINK_FAILED) return RUNGAME_FEED_WRITE_FAILED;
  if (httpResult == RUNGAME_HTTP_TOO_LARGE) return RUNGAME_FEED_REFUSED;
  return RUNGAME_FEED_UNREACHABLE;
}

static int CompareHash(const void* a, const void* b) { return memcmp(a, b, 32); }
static int CompareMissing(const void* a, const void* b) {
  return memcmp((*(const FeedChunk* const*)a)->sha256, (*(const FeedChunk* const*)b)->sha256, 32);
}

/* ---- The feed's signed index and manifest ----------------------------- */

/* The signed update marker of the step from the data folder's version to
 * the newest, which a launcher built with the studio's key requires; a feed
 * without one (404) is served unsigned. */
static int ReadStep(Job* job) {
  char url[FEED_UPGRADE_PATH_BYTES];
  const FeedVersion* newest = &job->index.versions[job->index.count - 1];
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
    return FeedFailure(job, result);
  }
  if (job->stepText == NULL ||
      !rungame_open_signed_manifest(job->stepText, job->stepSize, job->key, &job->step) ||
      job->step.fromX != job->haveX || job->step.fromY != job->haveY || job->step.toX != newest->x ||
      job->step.toY != newest->y) {
    Tell(job->update, "the signed update marker %s is refused%s", url, "");
    return RUNGAME_FEED_REFUSED;
  }
  return RUNGAME_FEED_OK;
}

static int ReadFeed(Job* job, const char* channel) {
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
    Tell(job->update, "\"%s\" is no channel name%s", channel, "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  result = RunGameHttpGetAll(&job->http, indexPath, FEED_MAX_INDEX, &text, &size, job->update->reason,
                             sizeof job->update->reason);
  if (result != RUNGAME_HTTP_OK) return FeedFailure(job, result);
  if (!FeedReadIndex(text ? text : "", size, job->key, &job->index, &why)) {
    free(text);
    Tell(job->update, "the feed's index is refused: %s%s", why, "");
    return RUNGAME_FEED_REFUSED;
  }
  free(text);
  newest = &job->index.versions[job->index.count - 1];
  _snprintf(job->update->version, sizeof job->update->version, "%ld.%ld", newest->x, newest->y);
  if (job->hasVersion && !rungame_version_is_later(newest->x, newest->y, job->haveX, job->haveY)) {
    if (newest->x == job->haveX && newest->y == job->haveY) return RUNGAME_FEED_UP_TO_DATE;
    _snprintf(version, sizeof version, "%ld.%ld", job->haveX, job->haveY);
    Tell(job->update, "the feed's newest version %s is older than the installed %s (an old index served again)",
         job->update->version, version);
    return RUNGAME_FEED_REFUSED;
  }
  /* The index pins the manifest's bytes. */
  FeedManifestPath(newest->x, newest->y, manifestPath);
  text = NULL;
  result = RunGameHttpGetAll(&job->http, manifestPath, FEED_MAX_MANIFEST, &text, &size, job->update->reason,
                             sizeof job->update->reason);
  if (result != RUNGAME_HTTP_OK) return FeedFailure(job, result);
  crypto_hash_sha256(digest, (const unsigned char*)(text ? text : ""), size);
  if (size != newest->manifestSize || memcmp(digest, newest->manifestSha256, 32) != 0) {
    free(text);
    Tell(job->update, "%s is not the manifest the index lists%s", manifestPath, "");
    return RUNGAME_FEED_REFUSED;
  }
  if (!FeedReadManifest(text, size, job->key, &job->manifest, &why) || job->manifest.x != newest->x ||
      job->manifest.y != newest->y) {
    free(text);
    Tell(job->update, "the manifest of %s is refused: %s", job->update->version, why ? why : "another version");
    return RUNGAME_FEED_REFUSED;
  }
  free(text);
  return ReadStep(job);
}

/* ---- What the data folder already holds ------------------------------- */

static int AddLocal(Job* job, const unsigned char sha256[32], size_t entry, unsigned long long offset, size_t size) {
  LocalChunk* chunk;
  if (job->localCount == job->localCapacity) {
    size_t capacity = job->localCapacity ? job->localCapacity * 2 : 1024;
    LocalChunk* grown = (LocalChunk*)realloc(job->local, capacity * sizeof *grown);
    if (grown == NULL) return 0;
    job->local = grown;
    job->localCapacity = capacity;
  }
  chunk = &job->local[job->localCount++];
  memcpy(chunk->sha256, sha256, 32);
  chunk->entry = entry;
  chunk->offset = offset;
  chunk->size = size;
  return 1;
}

/* A plain file of the data folder, for reading: no folder, no link. */
static HANDLE OpenDataFile(const Job* job, const char* relative) {
  char path[MAX_PATH];
  HANDLE file;
  BY_HANDLE_FILE_INFORMATION information;
  if (!rungame_join_path(path, job->dataFolder, relative)) return INVALID_HANDLE_VALUE;
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

/* Cuts the data folder's file of entry `e` as the feed does; 1 when it
 * holds exactly the listed chunks. Every chunk found is remembered. */
static int ChunkDataFile(Job* job, size_t e, const FeedChunker* chunker, unsigned char* buffer, int* failed) {
  const FeedEntry* entry = &job->manifest.entries[e];
  HANDLE file = OpenDataFile(job, entry->path);
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
      crypto_hash_sha256(sha256, buffer + at, length);
      if (!AddLocal(job, sha256, e, offset + at, length)) *failed = 1;
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

static const LocalChunk* FindLocal(const Job* job, const unsigned char sha256[32]) {
  return (const LocalChunk*)bsearch(sha256, job->local, job->localCount, sizeof *job->local, CompareHash);
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

/* Marks the folders above a changed file, which the staged update lists. */
static void MarkFoldersAbove(Job* job, const char* path) {
  size_t i;
  for (i = 0; i < job->manifest.count; ++i) {
    const FeedEntry* folder = &job->manifest.entries[i];
    size_t length = strlen(folder->path);
    if (folder->isFolder && strncmp(folder->path, path, length) == 0 && path[length] == '\\') job->changed[i] = 1;
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
static int Plan(Job* job) {
  FeedChunker chunker;
  unsigned char* buffer = (unsigned char*)malloc(READ_BLOCK);
  size_t e, c, unique = 0;
  int failed = 0;
  job->changed = (unsigned char*)calloc(job->manifest.count + 1, 1);
  job->missing = (const FeedChunk**)calloc(job->manifest.chunkCount + 1, sizeof *job->missing);
  if (buffer == NULL || job->changed == NULL || job->missing == NULL) {
    free(buffer);
    Tell(job->update, "out of memory%s%s", "", "");
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
  free(buffer);
  if (failed) {
    Tell(job->update, "out of memory%s%s", "", "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  qsort(job->local, job->localCount, sizeof *job->local, CompareHash);
  if (job->step.text != NULL && !TakeStep(job)) {
    Tell(job->update, "the signed update marker does not list what the manifest does%s%s", "", "");
    return RUNGAME_FEED_REFUSED;
  }
  for (e = 0; e < job->manifest.count; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    if (entry->isFolder || !job->changed[e]) continue;
    if (job->step.text == NULL) MarkFoldersAbove(job, entry->path);
    for (c = 0; c < entry->chunkCount; ++c) {
      const FeedChunk* chunk = &job->manifest.chunks[entry->firstChunk + c];
      if (FindLocal(job, chunk->sha256) == NULL) job->missing[job->missingCount++] = chunk;
    }
  }
  qsort(job->missing, job->missingCount, sizeof *job->missing, CompareMissing);
  for (c = 0; c < job->missingCount; ++c) {
    if (unique == 0 || memcmp(job->missing[unique - 1]->sha256, job->missing[c]->sha256, 32) != 0) {
      job->missing[unique++] = job->missing[c];
    }
  }
  job->missingCount = unique;
  return RUNGAME_FEED_OK;
}

/* ---- The download folder ---------------------------------------------- */

/* "<downloads>\<64 hex>" and its partial "<...>.part". */
static int ChunkFile(const Job* job, const unsigned char sha256[32], const char* suffix, char path[MAX_PATH]) {
  char name[64 + 8];
  Hex(sha256, 32, name);
  strcat(name, suffix);
  return rungame_join_path(path, job->downloads, name);
}

/* A plain file of the download folder, opened without following a link:
 * what a stranger may have put there is refused, not used. */
static HANDLE OpenOwnFile(const char* path, DWORD access, DWORD disposition) {
  BY_HANDLE_FILE_INFORMATION information;
  HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, NULL, disposition,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!GetFileInformationByHandle(file, &information) || information.nNumberOfLinks != 1 ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

/* Reads a whole file of at most `limit` bytes. */
static unsigned char* ReadOwnFile(const char* path, size_t limit, size_t* size) {
  HANDLE file = OpenOwnFile(path, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER length;
  unsigned char* bytes = NULL;
  DWORD got = 0;
  if (file == INVALID_HANDLE_VALUE) return NULL;
  if (GetFileSizeEx(file, &length) && length.QuadPart >= 0 && (unsigned long long)length.QuadPart <= limit) {
    bytes = (unsigned char*)malloc((size_t)length.QuadPart + 1);
    if (bytes != NULL && (!ReadFile(file, bytes, (DWORD)length.QuadPart, &got, NULL) || got != length.QuadPart)) {
      free(bytes);
      bytes = NULL;
    }
  }
  CloseHandle(file);
  *size = (size_t)got;
  return bytes;
}

/* 1 when the stored chunk at `path` opens to the chunk's bytes, into `out`. */
static int OpenStoredChunk(const char* path, const FeedChunk* chunk, unsigned char* out, const char** why) {
  size_t size = 0;
  unsigned char* stored = ReadOwnFile(path, STORED_LIMIT((size_t)chunk->size), &size);
  int ok;
  *why = "unreadable";
  if (stored == NULL) return 0;
  ok = FeedOpenChunk(stored, size, chunk->sha256, (size_t)chunk->size, out, why);
  free(stored);
  return ok;
}

static int MakeOwnFolder(const char* path) {
  DWORD attributes;
  CreateDirectoryA(path, NULL);
  attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* Removes the tree at `path`; a link in it is removed as a link, never
 * followed. */
static int RemoveOwnTree(const char* path) {
  char pattern[MAX_PATH];
  WIN32_FIND_DATAA found;
  HANDLE search;
  DWORD attributes = GetFileAttributesA(path);
  int ok = 1;
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) != 0;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && rungame_join_path(pattern, path, "*")) {
    search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        char child[MAX_PATH];
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        ok = rungame_join_path(child, path, found.cFileName) && RemoveOwnTree(child) && ok;
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
  }
  return RemoveDirectoryA(path) != 0 && ok;
}

typedef struct PartSink {
  HANDLE file;
} PartSink;

static int WritePart(void* context, const void* bytes, size_t size) {
  DWORD written = 0;
  return WriteFile(((PartSink*)context)->file, bytes, (DWORD)size, &written, NULL) && written == size;
}

static int RestartPart(void* context) {
  HANDLE file = ((PartSink*)context)->file;
  return SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 && SetEndOfFile(file);
}

/* Fetches one chunk into "<hash>.part", resuming what an earlier call left,
 * and keeps it as "<hash>" once its bytes are the chunk's. */
static int FetchChunk(Job* job, const FeedChunk* chunk, unsigned char* scratch) {
  char path[MAX_PATH], part[MAX_PATH], url[FEED_CHUNK_PATH_BYTES];
  const char* why = NULL;
  int fresh;
  if (!ChunkFile(job, chunk->sha256, "", path) || !ChunkFile(job, chunk->sha256, ".part", part)) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (OpenStoredChunk(path, chunk, scratch, &why)) return RUNGAME_FEED_OK;
  RemoveOwnTree(path);
  FeedChunkPath(chunk->sha256, url);
  for (fresh = 0; fresh < 2; ++fresh) {
    PartSink sink;
    LARGE_INTEGER kept;
    int result;
    sink.file = OpenOwnFile(part, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (sink.file == INVALID_HANDLE_VALUE) {
      /* a stranger's entry by that name: out of the way, then ours */
      RemoveOwnTree(part);
      sink.file = OpenOwnFile(part, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    }
    if (sink.file == INVALID_HANDLE_VALUE) {
      Tell(job->update, "cannot write %s%s", part, "");
      return RUNGAME_FEED_WRITE_FAILED;
    }
    kept.QuadPart = 0;
    if (fresh || !GetFileSizeEx(sink.file, &kept) || kept.QuadPart > (LONGLONG)STORED_LIMIT(chunk->size)) {
      kept.QuadPart = 0;
    }
    if (!SetFilePointerEx(sink.file, kept, NULL, FILE_BEGIN) || !SetEndOfFile(sink.file)) {
      CloseHandle(sink.file);
      Tell(job->update, "cannot write %s%s", part, "");
      return RUNGAME_FEED_WRITE_FAILED;
    }
    result = RunGameHttpGet(&job->http, url, (unsigned long long)kept.QuadPart, STORED_LIMIT(chunk->size), WritePart,
                            RestartPart, &sink, job->update->reason, sizeof job->update->reason);
    CloseHandle(sink.file);
    if (result == RUNGAME_HTTP_SINK_FAILED) Tell(job->update, "cannot write %s (is the disk full?)%s", part, "");
    if (result != RUNGAME_HTTP_OK) return FeedFailure(job, result);
    if (OpenStoredChunk(part, chunk, scratch, &why)) {
      if (!MoveFileExA(part, path, MOVEFILE_REPLACE_EXISTING)) {
        Tell(job->update, "cannot write %s%s", path, "");
        return RUNGAME_FEED_WRITE_FAILED;
      }
      return RUNGAME_FEED_OK;
    }
    RemoveOwnTree(part);
    /* A resumed chunk may have started from a stranger's bytes: once more
       from the start before the server is blamed. */
    if (kept.QuadPart == 0) break;
  }
  Tell(job->update, "the chunk %s from the feed does not match its hash: %s", url, why);
  return RUNGAME_FEED_REFUSED;
}

static int FetchMissing(Job* job, RunGameFeedProgress progress, void* progressContext) {
  unsigned char* scratch = (unsigned char*)malloc(FEED_CHUNK_MAX);
  unsigned long long done = 0, total = 0;
  size_t c;
  int result = RUNGAME_FEED_OK;
  if (scratch == NULL) return RUNGAME_FEED_WRITE_FAILED;
  for (c = 0; c < job->missingCount; ++c) total += job->missing[c]->size;
  if (progress != NULL && !progress(progressContext, 0, total)) result = RUNGAME_FEED_CANCELLED;
  for (c = 0; c < job->missingCount && result == RUNGAME_FEED_OK; ++c) {
    result = FetchChunk(job, job->missing[c], scratch);
    done += job->missing[c]->size;
    if (result == RUNGAME_FEED_OK && progress != NULL && !progress(progressContext, done, total)) {
      result = RUNGAME_FEED_CANCELLED;
    }
  }
  if (result == RUNGAME_FEED_CANCELLED) Tell(job->update, "cancelled%s%s", "", "");
  free(scratch);
  return result;
}

/* ---- Assembling and staging ------------------------------------------- */

/* Writes the file of entry `e` into the update folder from its chunks, each
 * checked again as it is copied, and the whole against its SHA-256. */
static int AssembleFile(Job* job, size_t e, const char* updateFolder, unsigned char* scratch) {
  const FeedEntry* entry = &job->manifest.entries[e];
  char path[MAX_PATH];
  crypto_hash_sha256_state whole;
  unsigned char sha256[32];
  HANDLE out;
  size_t c;
  int ok = 1;
  if (!rungame_join_path(path, updateFolder, entry->path)) return RUNGAME_FEED_BAD_ARGUMENT;
  out = OpenOwnFile(path, GENERIC_WRITE, CREATE_NEW);
  if (out == INVALID_HANDLE_VALUE) {
    Tell(job->update, "cannot write %s%s", path, "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  crypto_hash_sha256_init(&whole);
  for (c = 0; c < entry->chunkCount && ok; ++c) {
    const FeedChunk* chunk = &job->manifest.chunks[entry->firstChunk + c];
    const LocalChunk* local = FindLocal(job, chunk->sha256);
    DWORD written = 0;
    ok = 0;
    if (local != NULL) {
      HANDLE source = OpenDataFile(job, job->manifest.entries[local->entry].path);
      LARGE_INTEGER at;
      DWORD got = 0;
      at.QuadPart = (LONGLONG)local->offset;
      if (source != INVALID_HANDLE_VALUE) {
        ok = SetFilePointerEx(source, at, NULL, FILE_BEGIN) && ReadFile(source, scratch, (DWORD)chunk->size, &got, NULL) &&
             got == chunk->size;
        CloseHandle(source);
      }
      crypto_hash_sha256(sha256, scratch, (size_t)chunk->size);
      ok = ok && memcmp(sha256, chunk->sha256, 32) == 0;
      if (!ok) Tell(job->update, "%s changed while the update was being made; try again%s", entry->path, "");
    } else {
      char stored[MAX_PATH];
      const char* why = NULL;
      ok = ChunkFile(job, chunk->sha256, "", stored) && OpenStoredChunk(stored, chunk, scratch, &why);
      if (!ok) Tell(job->update, "a downloaded chunk of %s is gone or damaged: %s", entry->path, why);
    }
    if (ok && !(WriteFile(out, scratch, (DWORD)chunk->size, &written, NULL) && written == chunk->size)) {
      Tell(job->update, "cannot write %s (is the disk full?)%s", path, "");
      CloseHandle(out);
      return RUNGAME_FEED_WRITE_FAILED;
    }
    crypto_hash_sha256_update(&whole, scratch, (size_t)chunk->size);
  }
  CloseHandle(out);
  if (!ok) return RUNGAME_FEED_REFUSED;
  crypto_hash_sha256_final(&whole, sha256);
  if (memcmp(sha256, entry->sha256, 32) != 0) {
    Tell(job->update, "%s does not match the manifest's SHA-256%s", entry->path, "");
    return RUNGAME_FEED_REFUSED;
  }
  return RUNGAME_FEED_OK;
}

/* The update folder and its manifest, as the packer would have written
 * them for the data folder's version, then staged. */
static int AssembleAndStage(Job* job, const char* markerName) {
  char updateFolder[MAX_PATH], manifestPath[MAX_PATH], from[24], failed[MAX_PATH];
  RunGameManifestLine* lines = (RunGameManifestLine*)calloc(job->manifest.count + 1, sizeof *lines);
  char* hex = (char*)malloc(65 * (job->manifest.count + 1));
  unsigned char* scratch = (unsigned char*)malloc(FEED_CHUNK_MAX);
  char* text = NULL;
  size_t e, count = 0;
  int result = RUNGAME_FEED_OK;
  if (lines == NULL || hex == NULL || scratch == NULL || !rungame_join_path(updateFolder, job->downloads, "update") ||
      !rungame_join_path(manifestPath, job->downloads, "update.manifest")) {
    result = RUNGAME_FEED_WRITE_FAILED;
    Tell(job->update, "out of memory%s%s", "", "");
  }
  if (result == RUNGAME_FEED_OK && job->step.text != NULL && !rungame_equals_ascii_case(job->step.marker, markerName)) {
    Tell(job->update, "the feed's update marker is named %s, not %s", job->step.marker, markerName);
    result = RUNGAME_FEED_REFUSED;
  }
  if (result == RUNGAME_FEED_OK && (!RemoveOwnTree(updateFolder) || !MakeOwnFolder(updateFolder))) {
    Tell(job->update, "cannot make %s%s", updateFolder, "");
    result = RUNGAME_FEED_WRITE_FAILED;
  }
  for (e = 0; e < job->manifest.count && result == RUNGAME_FEED_OK; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    RunGameManifestLine* line = &lines[count];
    char path[MAX_PATH];
    if (!job->changed[e]) continue;
    line->path = entry->path;
    line->isFolder = entry->isFolder;
    if (entry->isFolder) {
      if (!rungame_join_path(path, updateFolder, entry->path) || !MakeOwnFolder(path)) {
        Tell(job->update, "cannot make %s%s", path, "");
        result = RUNGAME_FEED_WRITE_FAILED;
      }
    } else {
      line->size = entry->size;
      line->sha256Hex = hex + 65 * count;
      Hex(entry->sha256, 32, hex + 65 * count);
      result = AssembleFile(job, e, updateFolder, scratch);
    }
    ++count;
  }
  if (result == RUNGAME_FEED_OK && job->stepText != NULL) {
    /* The update's own marker is a file of the update, as the packer lists it. */
    unsigned char sha256[32];
    crypto_hash_sha256(sha256, (const unsigned char*)job->stepText, job->stepSize);
    lines[count].path = markerName;
    lines[count].size = job->stepSize;
    lines[count].sha256Hex = hex + 65 * count;
    Hex(sha256, 32, hex + 65 * count);
    ++count;
  }
  if (result == RUNGAME_FEED_OK) {
    HANDLE file;
    DWORD written = 0;
    if (job->hasVersion) {
      _snprintf(from, sizeof from, "%ld.%ld", job->haveX, job->haveY);
    } else {
      strcpy(from, "0.0");
    }
    from[sizeof from - 1] = '\0';
    text = rungame_write_manifest(from, job->update->version, markerName, lines, count);
    RemoveOwnTree(manifestPath);
    file = text ? OpenOwnFile(manifestPath, GENERIC_WRITE, CREATE_NEW) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text, (DWORD)strlen(text), &written, NULL) ||
        written != strlen(text)) {
      Tell(job->update, "cannot write %s%s", manifestPath, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (result == RUNGAME_FEED_OK && job->stepText != NULL) {
    /* The signed marker goes in last, as the update's own. */
    char markerPath[MAX_PATH];
    HANDLE file = rungame_join_path(markerPath, updateFolder, markerName)
                      ? OpenOwnFile(markerPath, GENERIC_WRITE, CREATE_NEW)
                      : INVALID_HANDLE_VALUE;
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, job->stepText, (DWORD)job->stepSize, &written, NULL) ||
        written != job->stepSize) {
      Tell(job->update, "cannot write the marker in %s%s", updateFolder, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  free(text);
  free(lines);
  free(hex);
  free(scratch);
  if (result == RUNGAME_FEED_OK) {
    int staged = RunGameStageUpdate(updateFolder, manifestPath, job->dataFolder, markerName, failed, sizeof failed);
    if (staged != RUNGAME_STAGED) {
      char number[16];
      _snprintf(number, sizeof number, "%d", staged);
      number[15] = '\0';
      Tell(job->update, "staging failed (RunGameStageUpdate %s) at \"%s\"", number, failed);
      return RUNGAME_FEED_STAGE_FAILED;
    }
  }
  return result;
}

/* ---- The calls -------------------------------------------------------- */

static int Begin(Job* job, RunGameFeedUpdate* update, const char* feedUrl, const char* channel, const char* dataFolder,
                 const char* publicKeyHex, const volatile long* cancel) {
  char versionFile[MAX_PATH];
  memset(job, 0, sizeof *job);
  job->update = update;
  memset(update, 0, sizeof *update);
  if (feedUrl == NULL || feedUrl[0] == '\0' || publicKeyHex == NULL || !rungame_parse_public_key(publicKeyHex, job->key)) {
    Tell(update, "no feed URL or no valid public key%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    DWORD length = GetCurrentDirectoryA(MAX_PATH, job->dataFolder);
    if (length == 0 || length >= MAX_PATH) return RUNGAME_FEED_BAD_ARGUMENT;
  } else if (dataFolder[0] == '\0' || strlen(dataFolder) >= MAX_PATH) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  } else {
    strcpy(job->dataFolder, dataFolder);
  }
  if (!rungame_join_path(job->downloads, job->dataFolder, RUNGAME_DOWNLOAD_FOLDER) ||
      !rungame_join_path(versionFile, job->dataFolder, "properties\\version.xml")) {
    Tell(update, "the data folder's path is too long%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  if (sodium_init() < 0) return RUNGAME_FEED_WRITE_FAILED;
  job->hasVersion = RunGameReadVersionFile(versionFile, &job->haveX, &job->haveY);
  if (!RunGameHttpOpen(&job->http, feedUrl, cancel, update->reason, sizeof update->reason)) {
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  return ReadFeed(job, channel ? channel : "stable");
}

/* What is still to fetch: the missing chunks no earlier call kept whole. */
static void Count(Job* job) {
  size_t c;
  for (c = 0; c < job->missingCount; ++c) {
    char path[MAX_PATH];
    if (ChunkFile(job, job->missing[c]->sha256, "", path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    job->update->downloadBytes += job->missing[c]->size;
    ++job->update->chunkCount;
  }
}

int RunGameCheckForUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          RunGameFeedUpdate* update) {
  Job job;
  int result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, NULL);
  if (result == RUNGAME_FEED_OK) result = Plan(&job);
  if (result == RUNGAME_FEED_OK) Count(&job);
  EndJob(&job);
  return result;
}

int RunGameDownloadUpdate(const char* feedUrl, const char* channel, const char* dataFolder, const char* publicKeyHex,
                          const char* markerName, RunGameFeedProgress progress, void* progressContext,
                          const volatile long* cancel, RunGameFeedUpdate* update) {
  Job job;
  int result;
  if (update == NULL) return RUNGAME_FEED_BAD_ARGUMENT;
  if (markerName == NULL || !rungame_is_plain_marker_name(markerName)) {
    memset(update, 0, sizeof *update);
    Tell(update, "the marker is no plain file name%s%s", "", "");
    return RUNGAME_FEED_BAD_ARGUMENT;
  }
  result = Begin(&job, update, feedUrl, channel, dataFolder, publicKeyHex, cancel);
  if (result == RUNGAME_FEED_OK) result = Plan(&job);
  if (result == RUNGAME_FEED_OK) {
    Count(&job);
    if (!MakeOwnFolder(job.downloads)) {
      Tell(update, "cannot make %s (a file or link there?)%s", job.downloads, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
  }
  if (result == RUNGAME_FEED_OK) result = FetchMissing(&job, progress, progressContext);
  if (result == RUNGAME_FEED_OK) result = AssembleAndStage(&job, markerName);
  /* Staged: the downloads have served. */
  if (result == RUNGAME_FEED_OK) RemoveOwnTree(job.downloads);
  EndJob(&job);
  return result;
}
