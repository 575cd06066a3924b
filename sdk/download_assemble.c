/* Assembling the files that change from the data folder's files and the
 * chunk store into ~download\update-<k>, each whole file hashed once as it
 * is written and checked against the signed manifest, then staging that
 * folder for the data folder's version. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../hash/sha256.h"

#include "../feed/feed_chunker.h"
#include "../rules/rungame_rules.h"
#include "download_job.h"
#include "rungame_stage.h"
#include "rungame_update.h"

/* The file chunks are read from, kept open while the next chunk lies in it
 * too. */
typedef struct Source {
  size_t id; /* a manifest entry, or STORE_SOURCE(k) */
  HANDLE file;
} Source;

/* What reading a chunk came to. */
enum ChunkRead { CHUNK_READ, CHUNK_MISSING, CHUNK_CHANGED };

/* Reads a chunk, and with `check` hashes it against its name. */
static int ReadChunk(const Job* job, Source* source, const LocalChunk* local, unsigned char* out, int check) {
  LARGE_INTEGER at;
  DWORD got = 0;
  unsigned char sha256[32];
  if (source->file == INVALID_HANDLE_VALUE || source->id != local->source) {
    if (source->file != INVALID_HANDLE_VALUE) CloseHandle(source->file);
    source->id = local->source;
    if (IS_STORE_SOURCE(local->source)) {
      char path[MAX_PATH];
      source->file = DownloadStorePath(job, STORE_FILE_OF(local->source), path)
                         ? DownloadOpenOwnFile(path, GENERIC_READ, OPEN_EXISTING)
                         : INVALID_HANDLE_VALUE;
    } else {
      source->file = DownloadOpenDataFile(job, job->manifest.entries[local->source].path);
    }
    if (source->file == INVALID_HANDLE_VALUE) return CHUNK_MISSING;
  }
  at.QuadPart = (LONGLONG)local->offset;
  if (!SetFilePointerEx(source->file, at, NULL, FILE_BEGIN) || !ReadFile(source->file, out, (DWORD)local->size, &got, NULL) ||
      got != local->size) {
    return CHUNK_CHANGED;
  }
  if (!check) return CHUNK_READ;
  FastSha256Digest(out, local->size, sha256);
  return memcmp(sha256, local->sha256, 32) == 0 ? CHUNK_READ : CHUNK_CHANGED;
}

/* Why a chunk of `path` could not be had, named by where it was to come
 * from: a data file, or the download's own chunk store. */
static void TellUnread(const Job* job, const char* path, const LocalChunk* local, int read) {
  if (local == NULL) {
    DownloadTell(job->update, "a chunk of %s was never downloaded; try again%s", path, "");
  } else if (!IS_STORE_SOURCE(local->source)) {
    DownloadTell(job->update,
                 read == CHUNK_MISSING ? "%s went missing or could not be opened while the update was being made; "
                                         "try again%s"
                                       : "%s changed while the update was being made; try again%s",
                 job->manifest.entries[local->source].path, "");
  } else {
    DownloadTell(job->update,
                 read == CHUNK_MISSING ? "a downloaded chunk of %s is missing; try again%s"
                                       : "a downloaded chunk of %s is damaged; try again%s",
                 path, "");
  }
}

/* Why the file of entry `e` did not come out as listed: the first of its
 * chunks that does not read as its name. */
static void TellWhyUnlike(const Job* job, const FeedEntry* entry, Source* source, unsigned char* scratch) {
  size_t c;
  for (c = 0; c < entry->chunkCount; ++c) {
    const LocalChunk* local = DownloadFindLocal(job, job->manifest.chunks[entry->firstChunk + c].sha256);
    const int read = local == NULL ? CHUNK_MISSING : ReadChunk(job, source, local, scratch, 1);
    if (read != CHUNK_READ) {
      TellUnread(job, entry->path, local, read);
      return;
    }
  }
  DownloadTell(job->update, "%s does not match the manifest's SHA-256%s", entry->path, "");
}

/* Writes the file of entry `e` into the update folder from its chunks,
 * hashing it as it goes, and flushes it: the staging takes it as written.
 * The chunks are not hashed one by one; a file that does not hash as
 * listed is read again to name the chunk that failed. */
static int AssembleFile(Job* job, size_t e, Source* source, unsigned char* scratch) {
  const FeedEntry* entry = &job->manifest.entries[e];
  char path[MAX_PATH];
  FastSha256 whole;
  unsigned char sha256[32];
  HANDLE out;
  size_t c;
  int read = CHUNK_READ;
  if (!rungame_join_path(path, job->updateFolder, entry->path)) return RUNGAME_FEED_BAD_ARGUMENT;
  out = DownloadOpenOwnFile(path, GENERIC_WRITE, CREATE_NEW);
  if (out == INVALID_HANDLE_VALUE) {
    DownloadTell(job->update, "cannot write %s%s", path, "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  FastSha256Init(&whole, 1);
  for (c = 0; c < entry->chunkCount; ++c) {
    const FeedChunk* chunk = &job->manifest.chunks[entry->firstChunk + c];
    const LocalChunk* local = DownloadFindLocal(job, chunk->sha256);
    DWORD written = 0;
    read = local == NULL ? CHUNK_MISSING : ReadChunk(job, source, local, scratch, 0);
    if (read != CHUNK_READ) break;
    if (!WriteFile(out, scratch, (DWORD)chunk->size, &written, NULL) || written != chunk->size) {
      DownloadTell(job->update, "cannot write %s (is the disk full?)%s", path, "");
      CloseHandle(out);
      return RUNGAME_FEED_WRITE_FAILED;
    }
    FastSha256Update(&whole, scratch, (size_t)chunk->size);
  }
  FastSha256Final(&whole, sha256);
  if (read != CHUNK_READ || memcmp(sha256, entry->sha256, 32) != 0) {
    CloseHandle(out);
    TellWhyUnlike(job, entry, source, scratch);
    return RUNGAME_FEED_REFUSED;
  }
  if (!FlushFileBuffers(out)) {
    CloseHandle(out);
    DownloadTell(job->update, "cannot write %s (is the disk full?)%s", path, "");
    return RUNGAME_FEED_WRITE_FAILED;
  }
  CloseHandle(out);
  return RUNGAME_FEED_OK;
}

int DownloadTakeRecord(Job* job) {
  const FeedEntry* record = NULL;
  Source source = {0, INVALID_HANDLE_VALUE};
  unsigned char* scratch = (unsigned char*)malloc(FEED_CHUNK_MAX);
  char* text = NULL;
  unsigned char sha256[32];
  size_t e, c, at = 0;
  int made = scratch != NULL;
  for (e = 0; e < job->manifest.count; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    if (!entry->isFolder && rungame_equals_ascii_case(entry->path, RUNGAME_RECORD_PATH)) record = entry;
  }
  if (record == NULL || record->size > RUNGAME_SIGNED_MAX_MARKER) {
    free(scratch);
    DownloadTell(job->update, "version %s has no signed record (%s) in the feed", job->update->version,
                 RUNGAME_RECORD_PATH);
    return RUNGAME_FEED_REFUSED;
  }
  text = (char*)malloc((size_t)record->size + 1);
  made = made && text != NULL;
  for (c = 0; made && c < record->chunkCount; ++c) {
    const FeedChunk* chunk = &job->manifest.chunks[record->firstChunk + c];
    const LocalChunk* local = DownloadFindLocal(job, chunk->sha256);
    made = local != NULL && at + chunk->size <= record->size && ReadChunk(job, &source, local, scratch, 1) == CHUNK_READ;
    if (made) memcpy(text + at, scratch, chunk->size);
    at += chunk->size;
  }
  if (source.file != INVALID_HANDLE_VALUE) CloseHandle(source.file);
  free(scratch);
  if (made) FastSha256Digest((const unsigned char*)text, at, sha256);
  if (!made || at != record->size || memcmp(sha256, record->sha256, 32) != 0 ||
      !rungame_open_signed_manifest(text, at, job->key, &job->step) ||
      !rungame_manifest_repairs(&job->step, job->hasVersion, job->haveX, job->haveY)) {
    free(text);
    DownloadTell(job->update, "the signed record of version %s is missing, damaged or refused%s",
                 job->update->version, "");
    return RUNGAME_FEED_REFUSED;
  }
  job->stepText = text;
  job->stepSize = at;
  return RUNGAME_FEED_OK;
}

/* An update folder of this call's own, made new: names that something
 * else already has are passed over, never removed. */
static int MakeUpdateFolder(Job* job) {
  int k;
  for (k = 0; k < 32; ++k) {
    char name[32];
    _snprintf(name, sizeof name, "update-%d", k);
    name[sizeof name - 1] = '\0';
    if (!rungame_join_path(job->updateFolder, job->downloads, name)) break;
    if (CreateDirectoryA(job->updateFolder, NULL) && DownloadMakeOwnFolder(job->updateFolder)) return 1;
  }
  job->updateFolder[0] = '\0';
  return 0;
}

/* Writes the signed marker into the update folder, as the update's own. */
static int WriteMarker(Job* job, const char* markerName) {
  char markerPath[MAX_PATH];
  HANDLE file = rungame_join_path(markerPath, job->updateFolder, markerName)
                    ? DownloadOpenOwnFile(markerPath, GENERIC_WRITE, CREATE_NEW)
                    : INVALID_HANDLE_VALUE;
  DWORD written = 0;
  const int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, job->stepText, (DWORD)job->stepSize, &written, NULL) &&
                 written == job->stepSize;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok) DownloadTell(job->update, "cannot write the marker in %s%s", job->updateFolder, "");
  return ok;
}

/* Past this the call stages and is no longer cancelled: a staging cut
 * short by a cancel would be undone by the launcher, the work lost. 0 when
 * the cancel came first. */
static int Commit(Job* job) {
  if (job->phase == NULL) return job->cancel == NULL || !*job->cancel;
  return InterlockedCompareExchange(job->phase, DOWNLOAD_STAGING, DOWNLOAD_WORKING) == DOWNLOAD_WORKING;
}

/* The update folder, as the packer would have written it for the data
 * folder's version, then staged. */
int DownloadAssembleAndStage(Job* job, const char* markerName) {
  unsigned char* scratch = (unsigned char*)malloc(FEED_CHUNK_MAX);
  Source source = {0, INVALID_HANDLE_VALUE};
  size_t e;
  int result = RUNGAME_FEED_OK;
  if (scratch == NULL) {
    result = RUNGAME_FEED_WRITE_FAILED;
    DownloadTell(job->update, "out of memory%s%s", "", "");
  }
  if (result == RUNGAME_FEED_OK && !job->repair && job->step.text != NULL &&
      !rungame_equals_ascii_case(job->step.marker, markerName)) {
    DownloadTell(job->update, "the feed's update marker is named %s, not %s", job->step.marker, markerName);
    result = RUNGAME_FEED_REFUSED;
  }
  if (result == RUNGAME_FEED_OK && !MakeUpdateFolder(job)) {
    DownloadTell(job->update, "cannot make an update folder in %s%s", job->downloads, "");
    result = RUNGAME_FEED_WRITE_FAILED;
  }
  for (e = 0; e < job->manifest.count && result == RUNGAME_FEED_OK; ++e) {
    const FeedEntry* entry = &job->manifest.entries[e];
    char path[MAX_PATH];
    if (!job->changed[e]) continue;
    if (job->cancel != NULL && *job->cancel) {
      DownloadTell(job->update, "cancelled%s%s", "", "");
      result = RUNGAME_FEED_CANCELLED;
    } else if (!entry->isFolder) {
      result = AssembleFile(job, e, &source, scratch);
    } else if (!rungame_join_path(path, job->updateFolder, entry->path) || !DownloadMakeOwnFolder(path)) {
      DownloadTell(job->update, "cannot make %s%s", path, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
  }
  if (source.file != INVALID_HANDLE_VALUE) CloseHandle(source.file);
  free(scratch);
  if (result == RUNGAME_FEED_OK && job->stepText != NULL && !WriteMarker(job, markerName)) {
    result = RUNGAME_FEED_WRITE_FAILED;
  }
  if (result == RUNGAME_FEED_OK && !Commit(job)) {
    DownloadTell(job->update, "cancelled%s%s", "", "");
    result = RUNGAME_FEED_CANCELLED;
  }
  if (result == RUNGAME_FEED_OK) {
    const int staged = rungame_stage_written_update(job->updateFolder, job->dataFolder, markerName,
                                                    job->hasVersion ? job->haveX : 0, job->hasVersion ? job->haveY : 0);
    if (staged != RUNGAME_STAGED) {
      char number[16];
      _snprintf(number, sizeof number, "%d", staged);
      number[15] = '\0';
      DownloadTell(job->update, "staging failed (RunGameStageUpdate %s) in %s", number, job->updateFolder);
      return RUNGAME_FEED_STAGE_FAILED;
    }
  }
  return result;
}

void DownloadClean(Job* job) {
  int k;
  /* Made by this call: staged, its contents are gone. */
  if (job->updateFolder[0]) DownloadRemoveOwnTree(job->updateFolder);
  for (k = 0; k < STORE_FILES; ++k) {
    char path[MAX_PATH];
    if ((job->storeOwned & 1u << k) && DownloadStorePath(job, k, path)) DeleteFileA(path);
  }
  RemoveDirectoryA(job->downloads);
}
