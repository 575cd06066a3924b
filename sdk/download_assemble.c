/* Assembling the files that change from the data folder's files and the
 * chunk store, each chunk checked again as it is read and each whole file
 * against its SHA-256, into ~download\update with its manifest, then
 * staging that as the packer's update for the data folder's version. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../hash/sha256.h"

#include "../feed/feed_chunker.h"
#include "../rules/rungame_rules.h"
#include "download_job.h"
#include "rungame_update.h"

/* The file chunks are read from, kept open while the next chunk lies in it
 * too. */
typedef struct Source {
  size_t id; /* a manifest entry, or STORE_SOURCE(k) */
  HANDLE file;
} Source;

/* What reading a chunk came to. */
enum ChunkRead { CHUNK_READ, CHUNK_MISSING, CHUNK_CHANGED };

static int ReadChunk(const Job* job, Source* source, const LocalChunk* local, unsigned char* out) {
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

/* Writes the file of entry `e` into the update folder from its chunks. */
static int AssembleFile(Job* job, size_t e, const char* updateFolder, Source* source, unsigned char* scratch) {
  const FeedEntry* entry = &job->manifest.entries[e];
  char path[MAX_PATH];
  FastSha256 whole;
  unsigned char sha256[32];
  HANDLE out;
  size_t c;
  if (!rungame_join_path(path, updateFolder, entry->path)) return RUNGAME_FEED_BAD_ARGUMENT;
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
    const int read = local == NULL ? CHUNK_MISSING : ReadChunk(job, source, local, scratch);
    if (read != CHUNK_READ) {
      TellUnread(job, entry->path, local, read);
      CloseHandle(out);
      return RUNGAME_FEED_REFUSED;
    }
    if (!WriteFile(out, scratch, (DWORD)chunk->size, &written, NULL) || written != chunk->size) {
      DownloadTell(job->update, "cannot write %s (is the disk full?)%s", path, "");
      CloseHandle(out);
      return RUNGAME_FEED_WRITE_FAILED;
    }
    FastSha256Update(&whole, scratch, (size_t)chunk->size);
  }
  CloseHandle(out);
  FastSha256Final(&whole, sha256);
  if (memcmp(sha256, entry->sha256, 32) != 0) {
    DownloadTell(job->update, "%s does not match the manifest's SHA-256%s", entry->path, "");
    return RUNGAME_FEED_REFUSED;
  }
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
    made = local != NULL && at + chunk->size <= record->size && ReadChunk(job, &source, local, scratch) == CHUNK_READ;
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

/* An update folder and a manifest name of this call's own, made new: names
 * that something else already has are passed over, never removed. */
static int MakeUpdateFolder(Job* job) {
  int k;
  for (k = 0; k < 32; ++k) {
    char name[32];
    _snprintf(name, sizeof name, "update-%d", k);
    name[sizeof name - 1] = '\0';
    if (!rungame_join_path(job->updateFolder, job->downloads, name) ||
        strlen(job->updateFolder) + sizeof ".manifest" > MAX_PATH) {
      break;
    }
    strcpy(job->updateManifest, job->updateFolder);
    strcat(job->updateManifest, ".manifest");
    if (GetFileAttributesA(job->updateManifest) == INVALID_FILE_ATTRIBUTES &&
        CreateDirectoryA(job->updateFolder, NULL) && DownloadMakeOwnFolder(job->updateFolder)) {
      return 1;
    }
  }
  job->updateFolder[0] = job->updateManifest[0] = '\0';
  return 0;
}

/* The update folder and its manifest, as the packer would have written
 * them for the data folder's version, then staged. */
int DownloadAssembleAndStage(Job* job, const char* markerName) {
  char* updateFolder = job->updateFolder;
  char* manifestPath = job->updateManifest;
  char from[24], failed[MAX_PATH];
  RunGameManifestLine* lines = (RunGameManifestLine*)calloc(job->manifest.count + 1, sizeof *lines);
  char* hex = (char*)malloc(65 * (job->manifest.count + 1));
  unsigned char* scratch = (unsigned char*)malloc(FEED_CHUNK_MAX);
  char* text = NULL;
  Source source = {0, INVALID_HANDLE_VALUE};
  size_t e, count = 0;
  int result = RUNGAME_FEED_OK;
  if (lines == NULL || hex == NULL || scratch == NULL) {
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
    RunGameManifestLine* line = &lines[count];
    char path[MAX_PATH];
    if (!job->changed[e]) continue;
    line->path = entry->path;
    line->isFolder = entry->isFolder;
    if (entry->isFolder) {
      if (!rungame_join_path(path, updateFolder, entry->path) || !DownloadMakeOwnFolder(path)) {
        DownloadTell(job->update, "cannot make %s%s", path, "");
        result = RUNGAME_FEED_WRITE_FAILED;
      }
    } else {
      line->size = entry->size;
      line->sha256Hex = hex + 65 * count;
      FeedHex(entry->sha256, 32, hex + 65 * count);
      result = AssembleFile(job, e, updateFolder, &source, scratch);
    }
    ++count;
  }
  if (result == RUNGAME_FEED_OK && job->stepText != NULL) {
    /* The update's own marker is a file of the update, as the packer lists it. */
    unsigned char sha256[32];
    FastSha256Digest((const unsigned char*)job->stepText, job->stepSize, sha256);
    lines[count].path = markerName;
    lines[count].size = job->stepSize;
    lines[count].sha256Hex = hex + 65 * count;
    FeedHex(sha256, 32, hex + 65 * count);
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
    file = text ? DownloadOpenOwnFile(manifestPath, GENERIC_WRITE, CREATE_NEW) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text, (DWORD)strlen(text), &written, NULL) ||
        written != strlen(text)) {
      DownloadTell(job->update, "cannot write %s%s", manifestPath, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (result == RUNGAME_FEED_OK && job->stepText != NULL) {
    /* The signed marker goes in last, as the update's own. */
    char markerPath[MAX_PATH];
    HANDLE file = rungame_join_path(markerPath, updateFolder, markerName)
                      ? DownloadOpenOwnFile(markerPath, GENERIC_WRITE, CREATE_NEW)
                      : INVALID_HANDLE_VALUE;
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, job->stepText, (DWORD)job->stepSize, &written, NULL) ||
        written != job->stepSize) {
      DownloadTell(job->update, "cannot write the marker in %s%s", updateFolder, "");
      result = RUNGAME_FEED_WRITE_FAILED;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (source.file != INVALID_HANDLE_VALUE) CloseHandle(source.file);
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
      DownloadTell(job->update, "staging failed (RunGameStageUpdate %s) at \"%s\"", number, failed);
      return RUNGAME_FEED_STAGE_FAILED;
    }
  }
  return result;
}

void DownloadClean(Job* job) {
  int k;
  /* Made by this call: staged, its contents are gone. */
  if (job->updateFolder[0]) DownloadRemoveOwnTree(job->updateFolder);
  if (job->updateManifest[0]) DeleteFileA(job->updateManifest);
  for (k = 0; k < STORE_FILES; ++k) {
    char path[MAX_PATH];
    if ((job->storeOwned & 1u << k) && DownloadStorePath(job, k, path)) DeleteFileA(path);
  }
  RemoveDirectoryA(job->downloads);
}
