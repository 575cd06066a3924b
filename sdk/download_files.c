/* What the download's steps share: reasons, the files it reads and writes,
 * and the chunks on disk the update can be made of. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"
#include "download_job.h"

void DownloadTell(RunGameFeedUpdate* update, const char* format, const char* a, const char* b) {
  _snprintf(update->reason, sizeof update->reason, format, a, b);
  update->reason[sizeof update->reason - 1] = '\0';
}

int DownloadHttpFailure(Job* job, int httpResult) {
  if (httpResult == RUNGAME_HTTP_CANCELLED) {
    DownloadTell(job->update, "cancelled%s%s", "", "");
    return RUNGAME_FEED_CANCELLED;
  }
  if (httpResult == RUNGAME_HTTP_SINK_FAILED) return RUNGAME_FEED_WRITE_FAILED;
  if (httpResult == RUNGAME_HTTP_TOO_LARGE) return RUNGAME_FEED_REFUSED;
  return RUNGAME_FEED_UNREACHABLE;
}

static int CompareHash(const void* a, const void* b) { return memcmp(a, b, 32); }

int DownloadAddLocal(Job* job, const unsigned char sha256[32], size_t source, unsigned long long offset, size_t size) {
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
  chunk->source = source;
  chunk->offset = offset;
  chunk->size = size;
  return 1;
}

/* A plain file of the data folder, for reading: no folder, no link. */
HANDLE DownloadOpenDataFile(const Job* job, const char* relative) {
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

void DownloadSortLocal(Job* job) { qsort(job->local, job->localCount, sizeof *job->local, CompareHash); }

const LocalChunk* DownloadFindLocal(const Job* job, const unsigned char sha256[32]) {
  return (const LocalChunk*)bsearch(sha256, job->local, job->localCount, sizeof *job->local, CompareHash);
}

/* A plain file of the download folder, opened without following a link:
 * what a stranger may have put there is refused, not used. */
HANDLE DownloadOpenOwnFile(const char* path, DWORD access, DWORD disposition) {
  BY_HANDLE_FILE_INFORMATION information;
  /* Read, a file may have a writer: a call left behind by a cancel still
     appending to its store. What is read of it is checked anyway. */
  const DWORD share = access == GENERIC_READ ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  HANDLE file = CreateFileA(path, access, share, NULL, disposition,
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
unsigned char* DownloadReadOwnFile(const char* path, size_t limit, size_t* size) {
  HANDLE file = DownloadOpenOwnFile(path, GENERIC_READ, OPEN_EXISTING);
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

int DownloadMakeOwnFolder(const char* path) {
  DWORD attributes;
  CreateDirectoryA(path, NULL);
  attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* Removes the tree at `path`; a link in it is removed as a link, never
 * followed. */
int DownloadRemoveOwnTree(const char* path) {
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
        ok = rungame_join_path(child, path, found.cFileName) && DownloadRemoveOwnTree(child) && ok;
      } while (FindNextFileA(search, &found));
      ok = ok && GetLastError() == ERROR_NO_MORE_FILES;
      FindClose(search);
    }
  }
  return RemoveDirectoryA(path) != 0 && ok;
}

int DownloadStorePath(const Job* job, int k, char path[MAX_PATH]) {
  char name[32];
  _snprintf(name, sizeof name, "chunks-%d.bin", k);
  name[sizeof name - 1] = '\0';
  return rungame_join_path(path, job->downloads, name);
}
