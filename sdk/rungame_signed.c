/* See rungame_signed.h. Plain C and the ANSI Windows API, so any game can
 * compile it in. */
#include "rungame_signed.h"
#include "rungame_update.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "../format/rungame_format.h"
#include "../hash/sha256.h"
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

/* The SHA-256 of the file at `path`, when it has exactly `size` bytes;
 * reading stops as soon as it runs longer. */
static int DigestFile(const char* path, unsigned long long size, unsigned char digest[32]) {
  enum { kBlock = 65536 };
  unsigned char* block;
  FastSha256 state;
  unsigned long long total = 0;
  DWORD got = 0;
  int ok = 1;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  block = (unsigned char*)malloc(kBlock);
  ok = block != NULL;
  FastSha256Init(&state, 1);
  while (ok) {
    if (!ReadFile(file, block, kBlock, &got, NULL)) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    total += got;
    if (total > size) {
      ok = 0;
      break;
    }
    FastSha256Update(&state, block, got);
  }
  CloseHandle(file);
  free(block);
  if (!ok || total != size) return 0;
  FastSha256Final(&state, digest);
  return 1;
}

/* Matches every entry under `folder` (whose path relative to the update is
 * `relative`, "" at the top) against the manifest, marking what it finds. */
static int MatchTree(const char* folder, const char* relative, const char* markerName, RunGameManifest* manifest,
                     const char* recordText, size_t recordSize) {
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
    RunGameStagedEntry staged;
    const RunGameManifestEntry* entry;
    if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
    if (!rungame_join_path(child, folder, data.cFileName) ||
        (relative[0] == '\0' ? strlen(data.cFileName) >= MAX_PATH
                             : !rungame_join_path(childRelative, relative, data.cFileName))) {
      result = RUNGAME_SIGNED_FILES_DIFFER;
      break;
    }
    if (relative[0] == '\0') memcpy(childRelative, data.cFileName, strlen(data.cFileName) + 1);
    if (recordText != NULL && !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        rungame_equals_ascii_case(childRelative, RUNGAME_RECORD_PATH)) {
      /* A repair may bring the record back: the marker's very bytes. */
      size_t size = 0;
      char* text = ReadSmallFile(child, RUNGAME_SIGNED_MAX_MARKER, &size);
      if (text == NULL || size != recordSize || memcmp(text, recordText, size) != 0) {
        result = RUNGAME_SIGNED_FILES_DIFFER;
      }
      free(text);
      continue;
    }
    memset(&staged, 0, sizeof staged);
    staged.path = childRelative;
    staged.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    staged.size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    entry = rungame_find_entry(manifest, childRelative);
    if (entry != NULL && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      /* A link would be installed as a link, its target free to change
         later; nothing is read through it. */
      result = RUNGAME_SIGNED_FILES_DIFFER;
      break;
    }
    if (!staged.isFolder && entry != NULL && !entry->isFolder && entry->size == staged.size) {
      staged.readable = DigestFile(child, entry->size, staged.sha256);
    }
    if (rungame_check_entry(manifest, &staged, relative[0] == '\0' ? markerName : NULL, &entry) != 0) {
      result = RUNGAME_SIGNED_FILES_DIFFER;
    } else if (entry != NULL && staged.isFolder) {
      result = MatchTree(child, childRelative, markerName, manifest, recordText, recordSize);
    }
  } while (result == RUNGAME_SIGNED_OK && FindNextFileA(search, &data));
  /* A listing that broke off is no proof that nothing else is there. */
  if (result == RUNGAME_SIGNED_OK && GetLastError() != ERROR_NO_MORE_FILES) result = RUNGAME_SIGNED_FILES_DIFFER;
  FindClose(search);
  return result;
}

int RunGameDataFolder(char* folder, size_t size) {
  DWORD length;
  if (folder == NULL || size == 0 || size > 0xffffffffu) return 0;
  length = GetEnvironmentVariableA(RUNGAME_DATA_FOLDER_VARIABLE, folder, (DWORD)size);
  if (length == 0) length = GetCurrentDirectoryA((DWORD)size, folder);
  return length != 0 && length < size;
}

int RunGameReadVersionFile(const char* path, long* x, long* y) {
  size_t size = 0;
  char* text = ReadSmallFile(path, RUNGAME_MAX_VERSION_FILE, &size);
  int found = text != NULL && rungame_read_version_text(text, size, x, y);
  free(text);
  return found;
}

int RunGameCheckSignedUpdate(const char* updateFolder, const char* dataFolder, const char* markerName,
                             const char* publicKeyHex) {
  char workingFolder[MAX_PATH];
  char markerPath[MAX_PATH];
  char versionPath[MAX_PATH];
  unsigned char key[32];
  RunGameManifest manifest;
  char* text;
  size_t size = 0;
  long x = 0, y = 0;
  int hasVersion = 0, repair;
  int result;
  DWORD attributes;

  if (updateFolder == NULL || updateFolder[0] == '\0' || markerName == NULL ||
      !rungame_is_plain_marker_name(markerName) ||
      !rungame_parse_public_key(publicKeyHex, key)) {
    return RUNGAME_SIGNED_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    if (!RunGameDataFolder(workingFolder, MAX_PATH)) return RUNGAME_SIGNED_BAD_ARGUMENT;
    dataFolder = workingFolder;
  }
  if (dataFolder[0] == '\0' || !rungame_join_path(markerPath, updateFolder, markerName) ||
      !rungame_join_path(versionPath, dataFolder, RUNGAME_VERSION_FILE)) {
    return RUNGAME_SIGNED_BAD_ARGUMENT;
  }
  attributes = GetFileAttributesA(updateFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RUNGAME_SIGNED_NO_MARKER;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RUNGAME_SIGNED_FILES_DIFFER;

  text = ReadSmallFile(markerPath, RUNGAME_SIGNED_MAX_MARKER, &size);
  if (text == NULL) return RUNGAME_SIGNED_NO_MARKER;
  result = rungame_open_signed_manifest(text, size, key, &manifest) ? RUNGAME_SIGNED_OK : RUNGAME_SIGNED_NOT_SIGNED;
  if (result != RUNGAME_SIGNED_OK) {
    free(text);
    return result;
  }
  hasVersion = RunGameReadVersionFile(versionPath, &x, &y);
  /* A repair: some of the data folder's own version's files under its record. */
  repair = rungame_manifest_repairs(&manifest, hasVersion, x, y);
  if (!repair && !rungame_equals_ascii_case(manifest.marker, markerName)) {
    result = RUNGAME_SIGNED_NOT_SIGNED;
  } else if (!repair && !rungame_manifest_applies_to(&manifest, hasVersion, x, y)) {
    result = RUNGAME_SIGNED_NOT_NEWER;
  } else {
    rungame_begin_check(&manifest);
    result = MatchTree(updateFolder, "", markerName, &manifest, repair ? text : NULL, size);
    if (result == RUNGAME_SIGNED_OK && !repair && rungame_next_missing(&manifest, NULL) != NULL) {
      result = RUNGAME_SIGNED_FILES_DIFFER;
    }
  }
  rungame_free_manifest(&manifest);
  free(text);
  return result;
}
