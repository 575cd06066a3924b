/* See rungame_update.h. Plain C and the ANSI Windows API, so any game can
 * compile it in. */
#include "rungame_update.h"

#include <windows.h>
#include <string.h>

/* Joins `base` and `name` into `out` (MAX_PATH bytes); 0 when it would not fit. */
static int JoinInto(char* out, const char* base, const char* name) {
  size_t baseLength = strlen(base);
  size_t nameLength = strlen(name);
  int needsSeparator = baseLength > 0 && base[baseLength - 1] != '\\' && base[baseLength - 1] != '/';
  if (baseLength + (needsSeparator ? 1 : 0) + nameLength >= MAX_PATH) return 0;
  memmove(out, base, baseLength);
  if (needsSeparator) out[baseLength++] = '\\';
  memcpy(out + baseLength, name, nameLength + 1);
  return 1;
}

static int IsDots(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

/* A plain file name: no separator, drive, wildcard or dots-only name. */
static int IsPlainName(const char* name) {
  if (name == NULL || name[0] == '\0' || IsDots(name)) return 0;
  return strpbrk(name, "\\/:*?\"<>|") == NULL;
}

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

static int IsTopLevelMarker(int depth, const char* name, const char* markerName) {
  return depth == 0 && lstrcmpiA(name, markerName) == 0;
}

/* Checks the whole tree before anything moves: no links (they would be moved
 * as links, pointing anywhere), every staged path within the limit. */
static int CheckTree(const char* source, size_t rootLength, size_t stagingLength) {
  char pattern[MAX_PATH];
  char child[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_STAGED;
  if (!JoinInto(pattern, source, "*")) return RUNGAME_STAGE_UNSAFE_UPDATE;
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_UNSAFE_UPDATE;
  do {
    if (IsDots(data.cFileName)) continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !JoinInto(child, source, data.cFileName)) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
    } else if (stagingLength + (strlen(child) - rootLength) >= MAX_PATH) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      result = CheckTree(child, rootLength, stagingLength);
    }
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
  FindClose(search);
  return result;
}

/* Flushes and moves every file of `source` into `target`, skipping the
 * top-level marker; folders are made and merged. */
static int MoveTree(const char* source, const char* target, int depth, const char* markerName) {
  char pattern[MAX_PATH];
  char from[MAX_PATH];
  char to[MAX_PATH];
  WIN32_FIND_DATAA data;
  HANDLE search;
  int result = RUNGAME_STAGED;
  DWORD targetAttributes;
  if (!JoinInto(pattern, source, "*")) return RUNGAME_STAGE_MOVE_FAILED;
  targetAttributes = GetFileAttributesA(target);
  if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryA(target, NULL)) return RUNGAME_STAGE_MOVE_FAILED;
  } else if (!(targetAttributes & FILE_ATTRIBUTE_DIRECTORY) || (targetAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return RUNGAME_STAGE_MOVE_FAILED;
  }
  search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return RUNGAME_STAGE_MOVE_FAILED;
  do {
    if (IsDots(data.cFileName) || IsTopLevelMarker(depth, data.cFileName, markerName)) continue;
    if (!JoinInto(from, source, data.cFileName) || !JoinInto(to, target, data.cFileName)) {
      result = RUNGAME_STAGE_MOVE_FAILED;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      result = MoveTree(from, to, depth + 1, markerName);
      if (result == RUNGAME_STAGED) RemoveDirectoryA(from);
    } else {
      ClearReadOnly(to);
      if (!FlushFile(from) ||
          !MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        result = RUNGAME_STAGE_MOVE_FAILED;
      }
    }
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
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

int RunGameStageUpdate(const char* updateFolder, const char* dataFolder, const char* markerName) {
  char workingFolder[MAX_PATH];
  char staging[MAX_PATH];
  char stagedMarker[MAX_PATH];
  char updateMarker[MAX_PATH];
  DWORD attributes;
  DWORD markerAttributes;
  int result;

  if (updateFolder == NULL || updateFolder[0] == '\0' || !IsPlainName(markerName)) return RUNGAME_STAGE_BAD_ARGUMENT;
  if (dataFolder == NULL) {
    DWORD length = GetCurrentDirectoryA(MAX_PATH, workingFolder);
    if (length == 0 || length >= MAX_PATH) return RUNGAME_STAGE_BAD_ARGUMENT;
    dataFolder = workingFolder;
  }
  if (dataFolder[0] == '\0' || !JoinInto(staging, dataFolder, "game") ||
      !JoinInto(stagedMarker, staging, markerName) || !JoinInto(updateMarker, updateFolder, markerName)) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  if (lstrcmpiA(updateFolder, staging) == 0) return RUNGAME_STAGE_BAD_ARGUMENT;

  attributes = GetFileAttributesA(updateFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RUNGAME_STAGE_NO_UPDATE;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || CheckTree(updateFolder, strlen(updateFolder), strlen(staging)) != RUNGAME_STAGED) {
    return RUNGAME_STAGE_UNSAFE_UPDATE;
  }

  /* No marker may stand in the staging folder while it is being filled. */
  markerAttributes = GetFileAttributesA(stagedMarker);
  if (markerAttributes != INVALID_FILE_ATTRIBUTES) {
    ClearReadOnly(stagedMarker);
    if (!DeleteFileA(stagedMarker)) RemoveDirectoryA(stagedMarker);
    if (GetFileAttributesA(stagedMarker) != INVALID_FILE_ATTRIBUTES) return RUNGAME_STAGE_MOVE_FAILED;
  }

  result = MoveTree(updateFolder, staging, 0, markerName);
  if (result != RUNGAME_STAGED) return result;
  result = PlaceMarker(updateMarker, stagedMarker);
  if (result == RUNGAME_STAGED) RemoveDirectoryA(updateFolder);
  return result;
}
