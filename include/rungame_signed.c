/* See rungame_signed.h. Plain C and the ANSI Windows API, so any game can
 * compile it in. */
#include "rungame_signed.h"

#include <windows.h>
#include <sodium.h>
#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"


/* The whole of a plain file of at most `limit` bytes, NUL-terminated, in a
 * buffer the caller frees; NULL when it is missing, no plain file, larger,
 * or unreadable. */
static char* ReadSmallFile(const char* path, size_t limit, size_t* size) {
  DWORD attributes = GetFileAttributesA(path);
  DWORD high = 0;
  DWORD low;
  HANDLE file;
  char* buffer = NULL;
  size_t total = 0;
  size_t capacity = 0;
  DWORD got = 0;
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return NULL;
  }
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  low = GetFileSize(file, &high);
  if (!(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0 && low <= limit) {
    /* One byte more than the size tells a file that grew meanwhile. */
    capacity = (size_t)low + 1;
    buffer = (char*)malloc(capacity + 1);
  }
  while (buffer != NULL && total < capacity) {
    DWORD want = (DWORD)(capacity - total < 65536 ? capacity - total : 65536);
    if (!ReadFile(file, buffer + total, want, &got, NULL)) {
      total = capacity;
      break;
    }
    if (got == 0) break;
    total += got;
  }
  CloseHandle(file);
  if (buffer == NULL || total >= capacity) {
    free(buffer);
    return NULL;
  }
  buffer[total] = '\0';
  *size = total;
  return buffer;
}

/* 1 when the file at `path` has exactly the entry's size and SHA-256. */
static int FileMatches(const char* path, const RunGameSignedEntry* entry) {
  enum { kBlock = 65536 };
  unsigned char* block;
  crypto_hash_sha256_state state;
  unsigned char digest[32];
  unsigned long long total = 0;
  DWORD got = 0;
  int ok = 1;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  block = (unsigned char*)malloc(kBlock);
  ok = block != NULL;
  crypto_hash_sha256_init(&state);
  while (ok) {
    if (!ReadFile(file, block, kBlock, &got, NULL)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    total += got;
    if (total > entry->size) {
      ok = 0; /* longer than signed: no need to read on */
      break;
    }
    crypto_hash_sha256_update(&state, block, got);
  }
  CloseHandle(file);
  free(block);
  if (!ok || total != entry->size) return 0;
  crypto_hash_sha256_final(&state, digest);
  return sodium_memcmp(digest, entry->sha256, sizeof digest) == 0;
}

/* Matches every entry under `folder` (whose path relative to the update is
 * `relative`, "" at the top) against the manifest, marking what it finds. */
static int MatchTree(const char* folder, const char* relative, const char* markerName,
                     const RunGameSignedManifest* manifest) {
  char pattern[MAX_PATH];
  char child[MAX_PATH];
  char childRelative[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_SIGNED_OK;
  if (!rungame_join_path(pattern, folder, "*")) return RUNGAME_SIGNED_FILES_DIFFER;
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_SIGNED_FILES_DIFFER;
  do {
    RunGameSignedEntry* entry;
    int isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
    if (relative[0] == '\0' && rungame_equals_ascii_case(data.cFileName, markerName)) continue;
    /* The launcher's temporary files are never part of an update: it
       removes them before it checks one. */
    if (!isFolder && rungame_is_launcher_temporary_name(data.cFileName)) continue;
    if (!rungame_join_path(child, folder, data.cFileName) ||
        (relative[0] == '\0' ? strlen(data.cFileName) >= MAX_PATH
                             : !rungame_join_path(childRelative, relative, data.cFileName))) {
      result = RUNGAME_SIGNED_FILES_DIFFER;
      break;
    }
    if (relative[0] == '\0') memcpy(childRelative, data.cFileName, strlen(data.cFileName) + 1);
    entry = RunGameFindSignedEntry(manifest, childRelative);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || entry == NULL || entry->seen ||
        entry->isFolder != isFolder) {
      result = RUNGAME_SIGNED_FILES_DIFFER;
    } else {
      entry->seen = 1;
      if (isFolder) {
        result = MatchTree(child, childRelative, markerName, manifest);
      } else if (!FileMatches(child, entry)) {
        result = RUNGAME_SIGNED_FILES_DIFFER;
      }
    }
  } while (result == RUNGAME_SIGNED_OK && FindNextFileA(search, &data));
  FindClose(search);
  return result;
}

int RunGameReadVersionFile(const char* path, long* x, long* y) {
  size_t size = 0;
  char* text = ReadSmallFile(path, RUNGAME_SIGNED_MAX_VERSION_FILE, &size);
  int found = text != NULL && RunGameParseVersionText(text, size, x, y);
  free(text);
  return found;
}

int RunGameCheckSignedUpdate(const char* updateFolder, const char* dataFolder, const char* markerName,
                             const char* publicKeyHex) {
  char workingFolder[MAX_PATH];
  char markerPath[MAX_PATH];
  char versionPath[MAX_PATH];
  unsigned char key[32];
  RunGameSignedManifest manifest;
  char* text;
  size_t size = 0;
  long x = 0, y = 0;
  int hasVersion = 0;
  int result;
  DWORD attributes;

  if (updateFolder == NULL || updateFolder[0] == '\0' || markerName == NULL ||
      !rungame_is_plain_marker_name(markerName) ||
      !RunGameParsePublicKey(publicKeyHex, key)) {
    return RUNGAME_SIGNED_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    DWORD length = GetCurrentDirectoryA(MAX_PATH, workingFolder);
    if (length == 0 || length >= MAX_PATH) return RUNGAME_SIGNED_BAD_ARGUMENT;
    dataFolder = workingFolder;
  }
  if (dataFolder[0] == '\0' || !rungame_join_path(markerPath, updateFolder, markerName) ||
      !rungame_join_path(versionPath, dataFolder, "properties\\version.xml")) {
    return RUNGAME_SIGNED_BAD_ARGUMENT;
  }
  attributes = GetFileAttributesA(updateFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RUNGAME_SIGNED_NO_MARKER;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RUNGAME_SIGNED_FILES_DIFFER;

  text = ReadSmallFile(markerPath, RUNGAME_SIGNED_MAX_MARKER, &size);
  if (text == NULL) return RUNGAME_SIGNED_NO_MARKER;
  result = RunGameOpenSignedManifest(text, size, key, &manifest) ? RUNGAME_SIGNED_OK : RUNGAME_SIGNED_NOT_SIGNED;
  free(text);
  if (result != RUNGAME_SIGNED_OK) return result;

  if (!rungame_equals_ascii_case(manifest.marker, markerName)) {
    result = RUNGAME_SIGNED_NOT_SIGNED;
  } else {
    hasVersion = RunGameReadVersionFile(versionPath, &x, &y);
    if (!RunGameSignedAppliesTo(&manifest, hasVersion, x, y)) {
      result = RUNGAME_SIGNED_NOT_NEWER;
    } else {
      result = MatchTree(updateFolder, "", markerName, &manifest);
      if (result == RUNGAME_SIGNED_OK && !RunGameAllSignedEntriesSeen(&manifest)) result = RUNGAME_SIGNED_FILES_DIFFER;
    }
  }
  RunGameCloseSignedManifest(&manifest);
  return result;
}
