/* See rungame_update.h. Plain C and the ANSI Windows API, so any game can
 * compile it in. */
#include "rungame_update.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"
#include "rungame_sha256.h"
#include "rungame_signed.h"
#include "rungame_stage.h"
#include "../format/rungame_format.h"

static int IsDots(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

/* A file named like the launcher's temporary files: never part of an
 * update (the launcher removes one before it checks the update), so neither
 * checked nor staged. */
static int IsLeftover(const WIN32_FIND_DATAA* data) {
  return !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && rungame_is_launcher_temporary_name(data->cFileName);
}

static void CopyBounded(char* out, size_t outSize, const char* text) {
  size_t length;
  if (out == NULL || outSize == 0) return;
  length = strlen(text);
  if (length >= outSize) length = outSize - 1;
  memcpy(out, text, length);
  out[length] = '\0';
}

/* ---- The download against its manifest ------------------------------- */

/* Reads and reads in the manifest: a plain file the format's reader takes,
 * within its limit. */
static int LoadManifest(const char* path, RunGameManifest* manifest) {
  HANDLE file;
  LARGE_INTEGER fileSize;
  DWORD got = 0;
  char* text;
  int ok;
  memset(manifest, 0, sizeof *manifest);
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 0 ||
      fileSize.QuadPart > RUNGAME_MAX_MANIFEST) {
    CloseHandle(file);
    return 0;
  }
  text = (char*)malloc((size_t)fileSize.QuadPart + 1);
  ok = text != NULL && ReadFile(file, text, (DWORD)fileSize.QuadPart, &got, NULL) && got == (DWORD)fileSize.QuadPart;
  CloseHandle(file);
  ok = ok && rungame_read_manifest(text, got, manifest, NULL) == RUNGAME_MANIFEST_OK;
  free(text);
  return ok;
}

/* One staged entry as the check takes it: a file read only when its listed
 * entry has its size, the answer being the same otherwise. */
static void DescribeEntry(const RunGameManifest* manifest, const char* path, const char* relative,
                          const WIN32_FIND_DATAA* data, RunGameStagedEntry* staged) {
  const RunGameManifestEntry* entry = rungame_find_entry(manifest, relative);
  unsigned long long size = 0;
  memset(staged, 0, sizeof *staged);
  staged->path = relative;
  staged->isFolder = (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  staged->size = ((unsigned long long)data->nFileSizeHigh << 32) | data->nFileSizeLow;
  if (staged->isFolder || entry == NULL || entry->isFolder || entry->size != staged->size) return;
  staged->readable = rungame_sha256_file(path, &size, staged->sha256) && size == staged->size;
}

/* Every entry below `source` against the manifest. `relative`
 * (RUNGAME_PATH_LIMIT bytes) holds the path of `source` below the update
 * folder and, on failure, the failing one. */
static int VerifyTree(const char* source, char* relative, RunGameManifest* manifest) {
  char pattern[MAX_PATH];
  char child[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_STAGED;
  size_t base = strlen(relative);
  if (!rungame_join_path(pattern, source, "*")) return RUNGAME_STAGE_UNSAFE_UPDATE;
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_UNSAFE_UPDATE;
  do {
    RunGameStagedEntry staged;
    const RunGameManifestEntry* listed;
    if (IsDots(data.cFileName)) continue;
    if (!rungame_join_path(child, source, data.cFileName) || !rungame_join_path(relative, relative, data.cFileName)) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
      break;
    }
    DescribeEntry(manifest, child, relative, &data, &staged);
    if (rungame_check_entry(manifest, &staged, NULL, &listed) != 0) {
      result = RUNGAME_STAGE_NOT_AS_LISTED;
    } else if (staged.isFolder) {
      result = VerifyTree(child, relative, manifest);
    }
    if (result == RUNGAME_STAGED) relative[base] = '\0';
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
  if (result == RUNGAME_STAGED && GetLastError() != ERROR_NO_MORE_FILES) result = RUNGAME_STAGE_NOT_AS_LISTED;
  FindClose(search);
  return result;
}

/* The whole update folder against the manifest: nothing missing, nothing
 * damaged, nothing extra. */
static int VerifyUpdate(const char* updateFolder, RunGameManifest* manifest, char* failedEntry, size_t failedEntrySize) {
  char relative[MAX_PATH];
  const RunGameManifestEntry* missing;
  int result;
  relative[0] = '\0';
  rungame_begin_check(manifest);
  result = VerifyTree(updateFolder, relative, manifest);
  if (result != RUNGAME_STAGED) {
    CopyBounded(failedEntry, failedEntrySize, relative);
    return result;
  }
  missing = rungame_next_missing(manifest, NULL);
  if (missing != NULL) {
    CopyBounded(failedEntry, failedEntrySize, missing->path);
    return RUNGAME_STAGE_NOT_AS_LISTED;
  }
  return RUNGAME_STAGED;
}

/* ---- Staging ------------------------------------------------------------- */

static void ClearReadOnly(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

static int FlushFile(const char* path) {
  HANDLE file;
  BOOL flushed;
  ClearReadOnly(path);
  file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  flushed = FlushFileBuffers(file);
  CloseHandle(file);
  return flushed != FALSE;
}

/* ASCII letter case aside, as the launcher compares it: never the locale's. */
static int IsTopLevelMarker(int depth, const char* name, const char* markerName) {
  return depth == 0 && rungame_equals_ascii_case(name, markerName);
}

/* Checks the whole tree before anything moves: no links (they would be moved
 * as links, pointing anywhere), every staged path within the limit. */
static int CheckTree(const char* source, size_t rootLength, size_t stagingLength) {
  char pattern[MAX_PATH];
  char child[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_STAGED;
  if (!rungame_join_path(pattern, source, "*")) return RUNGAME_STAGE_UNSAFE_UPDATE;
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_UNSAFE_UPDATE;
  do {
    if (IsDots(data.cFileName)) continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !rungame_join_path(child, source, data.cFileName)) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
    } else if (stagingLength + (strlen(child) - rootLength) >= MAX_PATH) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      result = CheckTree(child, rootLength, stagingLength);
    }
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
  if (result == RUNGAME_STAGED && GetLastError() != ERROR_NO_MORE_FILES) result = RUNGAME_STAGE_UNSAFE_UPDATE;
  FindClose(search);
  return result;
}

/* Flushes (unless the writer did) and moves every file of `source` into
 * `target`, skipping the top-level marker; folders are made and merged. */
static int MoveTree(const char* source, const char* target, int depth, const char* markerName, int flushed) {
  char pattern[MAX_PATH];
  char from[MAX_PATH];
  char to[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_STAGED;
  DWORD targetAttributes;
  if (!rungame_join_path(pattern, source, "*")) return RUNGAME_STAGE_MOVE_FAILED;
  targetAttributes = GetFileAttributesA(target);
  if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryA(target, NULL)) return RUNGAME_STAGE_MOVE_FAILED;
  } else if (!(targetAttributes & FILE_ATTRIBUTE_DIRECTORY) || (targetAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return RUNGAME_STAGE_MOVE_FAILED;
  }
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_MOVE_FAILED;
  do {
    if (IsDots(data.cFileName) || IsTopLevelMarker(depth, data.cFileName, markerName) || IsLeftover(&data)) continue;
    if (!rungame_join_path(from, source, data.cFileName) || !rungame_join_path(to, target, data.cFileName)) {
      result = RUNGAME_STAGE_MOVE_FAILED;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      result = MoveTree(from, to, depth + 1, markerName, flushed);
      if (result == RUNGAME_STAGED) RemoveDirectoryA(from);
    } else {
      ClearReadOnly(to);
      if ((!flushed && !FlushFile(from)) ||
          !MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        result = RUNGAME_STAGE_MOVE_FAILED;
      }
    }
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
  if (result == RUNGAME_STAGED && GetLastError() != ERROR_NO_MORE_FILES) result = RUNGAME_STAGE_MOVE_FAILED;
  FindClose(search);
  return result;
}

/* Puts the marker in place, last: the update folder's own file, or an empty
 * one, flushed either way. */
static int PlaceMarker(const char* updateMarker, const char* stagedMarker) {
  HANDLE file;
  BOOL flushed;
  DWORD attributes = GetFileAttributesA(updateMarker);
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!FlushFile(updateMarker) ||
        !MoveFileExA(updateMarker, stagedMarker,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
      return RUNGAME_STAGE_MARKER_FAILED;
    }
    return FlushFile(stagedMarker) ? RUNGAME_STAGED : RUNGAME_STAGE_MARKER_FAILED;
  }
  file = CreateFileA(stagedMarker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_MARKER_FAILED;
  flushed = FlushFileBuffers(file);
  CloseHandle(file);
  return flushed ? RUNGAME_STAGED : RUNGAME_STAGE_MARKER_FAILED;
}

/* Where a staging goes: the data folder's staging folder, the marker's
 * two places and the data folder's version file. */
typedef struct Places {
  char staging[MAX_PATH];
  char stagedMarker[MAX_PATH];
  char updateMarker[MAX_PATH];
  char versionFile[MAX_PATH];
} Places;

static int FindPlaces(const char* updateFolder, const char* dataFolder, const char* markerName, Places* places) {
  if (dataFolder[0] == '\0' || !rungame_join_path(places->staging, dataFolder, RUNGAME_STAGING_FOLDER) ||
      !rungame_join_path(places->stagedMarker, places->staging, markerName) ||
      !rungame_join_path(places->updateMarker, updateFolder, markerName) ||
      !rungame_join_path(places->versionFile, dataFolder, RUNGAME_VERSION_FILE) ||
      rungame_equals_ascii_case(updateFolder, places->staging)) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  return RUNGAME_STAGED;
}

/* The update folder is a folder, holds no link and fits the path limit
 * once staged. */
static int CheckUpdateFolder(const char* updateFolder, const Places* places) {
  const DWORD attributes = GetFileAttributesA(updateFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RUNGAME_STAGE_NO_UPDATE;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      CheckTree(updateFolder, strlen(updateFolder), strlen(places->staging)) != RUNGAME_STAGED) {
    return RUNGAME_STAGE_UNSAFE_UPDATE;
  }
  return RUNGAME_STAGED;
}

/* Made from another version, an update would leave that version's files
 * mixed with its own. */
static int CheckFromVersion(const Places* places, long fromX, long fromY) {
  long dataX = 0, dataY = 0;
  if (RunGameReadVersionFile(places->versionFile, &dataX, &dataY) && (dataX != fromX || dataY != fromY)) {
    return RUNGAME_STAGE_WRONG_VERSION;
  }
  return RUNGAME_STAGED;
}

/* The checked update folder into the staging folder, the marker last. */
static int MoveIn(const char* updateFolder, const Places* places, const char* markerName, int flushed) {
  int result;
  /* No marker may stand in the staging folder while it is being filled. */
  if (GetFileAttributesA(places->stagedMarker) != INVALID_FILE_ATTRIBUTES) {
    ClearReadOnly(places->stagedMarker);
    if (!DeleteFileA(places->stagedMarker)) RemoveDirectoryA(places->stagedMarker);
    if (GetFileAttributesA(places->stagedMarker) != INVALID_FILE_ATTRIBUTES) return RUNGAME_STAGE_MOVE_FAILED;
  }
  result = MoveTree(updateFolder, places->staging, 0, markerName, flushed);
  if (result != RUNGAME_STAGED) return result;
  result = PlaceMarker(places->updateMarker, places->stagedMarker);
  if (result == RUNGAME_STAGED) RemoveDirectoryA(updateFolder);
  return result;
}

int RunGameStageUpdate(const char* updateFolder, const char* manifestPath, const char* dataFolder,
                       const char* markerName, char* failedEntry, size_t failedEntrySize) {
  char workingFolder[MAX_PATH];
  char besideManifest[MAX_PATH];
  Places places;
  RunGameManifest manifest;
  size_t length;
  int result;

  CopyBounded(failedEntry, failedEntrySize, "");
  if (updateFolder == NULL || updateFolder[0] == '\0' || markerName == NULL ||
      !rungame_is_plain_marker_name(markerName)) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    if (!RunGameDataFolder(workingFolder, MAX_PATH)) return RUNGAME_STAGE_BAD_ARGUMENT;
    dataFolder = workingFolder;
  }
  if (manifestPath == NULL) {
    /* "<update folder>.manifest", beside it, whatever separators end the name. */
    length = strlen(updateFolder);
    while (length > 1 && (updateFolder[length - 1] == '\\' || updateFolder[length - 1] == '/')) --length;
    if (length + sizeof ".manifest" > MAX_PATH) return RUNGAME_STAGE_BAD_ARGUMENT;
    memcpy(besideManifest, updateFolder, length);
    memcpy(besideManifest + length, ".manifest", sizeof ".manifest");
    manifestPath = besideManifest;
  }
  result = FindPlaces(updateFolder, dataFolder, markerName, &places);
  if (result == RUNGAME_STAGED) result = CheckUpdateFolder(updateFolder, &places);
  if (result != RUNGAME_STAGED) return result;

  /* The whole download checked before anything moves. */
  if (!LoadManifest(manifestPath, &manifest) || !rungame_equals_ascii_case(manifest.marker, markerName)) {
    rungame_free_manifest(&manifest);
    return RUNGAME_STAGE_BAD_MANIFEST;
  }
  result = CheckFromVersion(&places, manifest.fromX, manifest.fromY);
  if (result == RUNGAME_STAGED) result = VerifyUpdate(updateFolder, &manifest, failedEntry, failedEntrySize);
  rungame_free_manifest(&manifest);
  return result == RUNGAME_STAGED ? MoveIn(updateFolder, &places, markerName, 0) : result;
}

int rungame_stage_written_update(const char* updateFolder, const char* dataFolder, const char* markerName,
                                 long fromX, long fromY) {
  Places places;
  int result;
  if (updateFolder == NULL || dataFolder == NULL || markerName == NULL || !rungame_is_plain_marker_name(markerName)) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  result = FindPlaces(updateFolder, dataFolder, markerName, &places);
  if (result == RUNGAME_STAGED) result = CheckUpdateFolder(updateFolder, &places);
  if (result == RUNGAME_STAGED) result = CheckFromVersion(&places, fromX, fromY);
  return result == RUNGAME_STAGED ? MoveIn(updateFolder, &places, markerName, 1) : result;
}

int RunGameLastUpdateStatus(char* detail, size_t detailSize) {
  static const struct {
    const char* word;
    int status;
  } words[] = {{"none", RUNGAME_UPDATE_STATUS_NONE},
               {"installed", RUNGAME_UPDATE_STATUS_INSTALLED},
               {"refused", RUNGAME_UPDATE_STATUS_REFUSED},
               {"blocked", RUNGAME_UPDATE_STATUS_BLOCKED},
               {"damaged", RUNGAME_UPDATE_STATUS_DAMAGED}};
  char text[1024];
  DWORD length = GetEnvironmentVariableA(RUNGAME_UPDATE_STATUS_VARIABLE, text, sizeof text);
  size_t i;
  CopyBounded(detail, detailSize, "");
  if (length == 0 || length >= sizeof text) return RUNGAME_UPDATE_STATUS_UNKNOWN;
  for (i = 0; i < sizeof words / sizeof words[0]; ++i) {
    size_t wordLength = strlen(words[i].word);
    if (strncmp(text, words[i].word, wordLength) != 0) continue;
    if (text[wordLength] == '\0') return words[i].status;
    if (text[wordLength] == ':' && text[wordLength + 1] == ' ') {
      CopyBounded(detail, detailSize, text + wordLength + 2);
      return words[i].status;
    }
  }
  return RUNGAME_UPDATE_STATUS_UNKNOWN;
}
