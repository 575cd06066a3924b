/* See rungame_update.h. Plain C and the ANSI Windows API, so any game can
 * compile it in. */
#include "rungame_update.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"
#include "rungame_sha256.h"
#include "rungame_signed.h"
#include "rungame_signed_manifest.h"

/* A manifest larger than this is not read (it would list millions of files). */
#define RUNGAME_MAX_MANIFEST_BYTES (64u * 1024u * 1024u)

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

/* ---- The manifest, as the packer writes it ----------------------------- */

typedef struct ManifestEntry {
  const char* path; /* into the manifest's text */
  const char* sha256; /* 64 lower-case hex digits, files only */
  unsigned long long size;
  int isFolder;
  int seen;
} ManifestEntry;

typedef struct Manifest {
  char* text;
  ManifestEntry* entries;
  size_t count;
  const char* marker;
  long fromX, fromY; /* the version the update was made from */
} Manifest;

static void FreeManifest(Manifest* manifest) {
  free(manifest->text);
  free(manifest->entries);
  manifest->text = NULL;
  manifest->entries = NULL;
}

static int CompareFolded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = (unsigned char)rungame_ascii_lower(*a);
    unsigned char y = (unsigned char)rungame_ascii_lower(*b);
    if (x != y || x == 0) return (int)x - (int)y;
  }
}

static int CompareEntries(const void* a, const void* b) {
  return CompareFolded(((const ManifestEntry*)a)->path, ((const ManifestEntry*)b)->path);
}

static int StartsWithWord(const char* line, const char* word, const char** rest) {
  size_t length = strlen(word);
  if (strncmp(line, word, length) != 0 || line[length] != ' ') return 0;
  *rest = line + length + 1;
  return 1;
}

static int IsLowerHex(const char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i) {
    if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f'))) return 0;
  }
  return 1;
}

/* One "file <size> <sha256> <path>" line's fields; 0 when malformed. */
static int ParseFileLine(char* rest, ManifestEntry* entry) {
  char* space = strchr(rest, ' ');
  char* digits;
  if (space == NULL || space == rest || space - rest > 19) return 0;
  entry->size = 0;
  for (digits = rest; digits < space; ++digits) {
    if (*digits < '0' || *digits > '9') return 0;
    entry->size = entry->size * 10 + (unsigned long long)(*digits - '0');
  }
  rest = space + 1;
  if (strlen(rest) < 66 || rest[64] != ' ' || !IsLowerHex(rest, 64)) return 0;
  rest[64] = '\0';
  entry->sha256 = rest;
  entry->path = rest + 65;
  return 1;
}

/* Reads and parses the manifest: every path one the launcher installs as it
 * is, none listed twice, one marker line with a plain marker name. */
static int LoadManifest(const char* path, Manifest* manifest) {
  HANDLE file;
  LARGE_INTEGER fileSize;
  DWORD got = 0;
  char* line;
  char* next;
  size_t lines = 1;
  size_t i;
  int number = 0;
  int hasFrom = 0;
  memset(manifest, 0, sizeof *manifest);
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 0 ||
      fileSize.QuadPart > RUNGAME_MAX_MANIFEST_BYTES) {
    CloseHandle(file);
    return 0;
  }
  manifest->text = (char*)malloc((size_t)fileSize.QuadPart + 1);
  if (manifest->text == NULL || !ReadFile(file, manifest->text, (DWORD)fileSize.QuadPart, &got, NULL) ||
      got != (DWORD)fileSize.QuadPart) {
    CloseHandle(file);
    return 0;
  }
  CloseHandle(file);
  manifest->text[got] = '\0';
  if (strlen(manifest->text) != got) return 0; /* a NUL byte inside */
  for (i = 0; i < got; ++i) lines += manifest->text[i] == '\n';
  manifest->entries = (ManifestEntry*)calloc(lines, sizeof(ManifestEntry));
  if (manifest->entries == NULL) return 0;

  for (line = manifest->text; line != NULL; line = next) {
    const char* rest = NULL;
    size_t length;
    next = strchr(line, '\n');
    if (next != NULL) *next++ = '\0';
    length = strlen(line);
    if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
    if (++number == 1) {
      if (strcmp(line, "rungame-update-manifest 1") != 0) return 0;
      continue;
    }
    if (StartsWithWord(line, "from", &rest)) {
      if (hasFrom || !RunGameParseVersionLine(rest, &manifest->fromX, &manifest->fromY)) return 0;
      hasFrom = 1;
      continue;
    }
    if (length == 0 || StartsWithWord(line, "to", &rest)) continue;
    if (StartsWithWord(line, "marker", &rest)) {
      if (manifest->marker != NULL || !rungame_is_plain_marker_name(rest)) return 0;
      manifest->marker = rest;
    } else if (StartsWithWord(line, "folder", &rest)) {
      manifest->entries[manifest->count].isFolder = 1;
      manifest->entries[manifest->count].path = rest;
      if (!rungame_is_installable_path(rest, 1)) return 0;
      ++manifest->count;
    } else if (StartsWithWord(line, "file", &rest)) {
      if (!ParseFileLine((char*)rest, &manifest->entries[manifest->count])) return 0;
      if (!rungame_is_installable_path(manifest->entries[manifest->count].path, 0)) return 0;
      ++manifest->count;
    } else {
      return 0;
    }
  }
  if (manifest->marker == NULL || !hasFrom) return 0;
  qsort(manifest->entries, manifest->count, sizeof(ManifestEntry), CompareEntries);
  for (i = 1; i < manifest->count; ++i) {
    if (CompareEntries(&manifest->entries[i - 1], &manifest->entries[i]) == 0) return 0;
  }
  return 1;
}

static ManifestEntry* FindEntry(Manifest* manifest, const char* relative) {
  ManifestEntry key;
  memset(&key, 0, sizeof key);
  key.path = relative;
  return (ManifestEntry*)bsearch(&key, manifest->entries, manifest->count, sizeof(ManifestEntry), CompareEntries);
}

/* Whether the file at `path` has the entry's size and SHA-256. */
static int MatchesEntry(const char* path, const ManifestEntry* entry, unsigned long long listedSize) {
  static const char digits[] = "0123456789abcdef";
  unsigned char digest[32];
  char hex[65];
  unsigned long long size = 0;
  int i;
  if (listedSize != entry->size) return 0; /* told by the folder listing: no need to read */
  if (!rungame_sha256_file(path, &size, digest) || size != entry->size) return 0;
  for (i = 0; i < 32; ++i) {
    hex[2 * i] = digits[digest[i] >> 4];
    hex[2 * i + 1] = digits[digest[i] & 15];
  }
  hex[64] = '\0';
  return strcmp(hex, entry->sha256) == 0;
}

/* Every entry below `source` listed, of the listed kind, files with the
 * listed size and SHA-256. `relative` (RUNGAME_PATH_LIMIT bytes) holds the
 * path of `source` below the update folder and, on failure, the failing one. */
static int VerifyTree(const char* source, char* relative, Manifest* manifest) {
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
    ManifestEntry* entry;
    int isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (IsDots(data.cFileName) || IsLeftover(&data)) continue;
    if (!rungame_join_path(child, source, data.cFileName) || !rungame_join_path(relative, relative, data.cFileName)) {
      result = RUNGAME_STAGE_UNSAFE_UPDATE;
      break;
    }
    entry = FindEntry(manifest, relative);
    if (entry == NULL || entry->isFolder != isFolder) {
      result = RUNGAME_STAGE_NOT_AS_LISTED;
    } else if (isFolder) {
      entry->seen = 1;
      result = VerifyTree(child, relative, manifest);
    } else {
      entry->seen = 1;
      if (!MatchesEntry(child, entry, ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow)) {
        result = RUNGAME_STAGE_NOT_AS_LISTED;
      }
    }
    if (result == RUNGAME_STAGED) relative[base] = '\0';
  } while (result == RUNGAME_STAGED && FindNextFileA(search, &data));
  FindClose(search);
  return result;
}

/* The whole update folder against the manifest: nothing missing, nothing
 * damaged, nothing extra. */
static int VerifyUpdate(const char* updateFolder, Manifest* manifest, char* failedEntry, size_t failedEntrySize) {
  char relative[MAX_PATH];
  size_t i;
  int result;
  relative[0] = '\0';
  result = VerifyTree(updateFolder, relative, manifest);
  if (result != RUNGAME_STAGED) {
    CopyBounded(failedEntry, failedEntrySize, relative);
    return result;
  }
  for (i = 0; i < manifest->count; ++i) {
    if (!manifest->entries[i].seen) {
      CopyBounded(failedEntry, failedEntrySize, manifest->entries[i].path);
      return RUNGAME_STAGE_NOT_AS_LISTED;
    }
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

int RunGameStageUpdate(const char* updateFolder, const char* manifestPath, const char* dataFolder,
                       const char* markerName, char* failedEntry, size_t failedEntrySize) {
  char workingFolder[MAX_PATH];
  char staging[MAX_PATH];
  char stagedMarker[MAX_PATH];
  char updateMarker[MAX_PATH];
  char besideManifest[MAX_PATH];
  char versionFile[MAX_PATH];
  long dataX = 0, dataY = 0;
  Manifest manifest;
  DWORD attributes;
  DWORD markerAttributes;
  size_t length;
  int result;

  CopyBounded(failedEntry, failedEntrySize, "");
  if (updateFolder == NULL || updateFolder[0] == '\0' || markerName == NULL ||
      !rungame_is_plain_marker_name(markerName)) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  if (dataFolder == NULL) {
    DWORD workingLength = GetCurrentDirectoryA(MAX_PATH, workingFolder);
    if (workingLength == 0 || workingLength >= MAX_PATH) return RUNGAME_STAGE_BAD_ARGUMENT;
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
  if (dataFolder[0] == '\0' || !rungame_join_path(staging, dataFolder, RUNGAME_STAGING_FOLDER) ||
      !rungame_join_path(stagedMarker, staging, markerName) || !rungame_join_path(updateMarker, updateFolder, markerName) ||
      !rungame_join_path(versionFile, dataFolder, "properties\\version.xml")) {
    return RUNGAME_STAGE_BAD_ARGUMENT;
  }
  if (rungame_equals_ascii_case(updateFolder, staging)) return RUNGAME_STAGE_BAD_ARGUMENT;

  attributes = GetFileAttributesA(updateFolder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RUNGAME_STAGE_NO_UPDATE;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || CheckTree(updateFolder, strlen(updateFolder), strlen(staging)) != RUNGAME_STAGED) {
    return RUNGAME_STAGE_UNSAFE_UPDATE;
  }

  /* The whole download checked before anything moves. */
  if (!LoadManifest(manifestPath, &manifest) || !rungame_equals_ascii_case(manifest.marker, markerName)) {
    FreeManifest(&manifest);
    return RUNGAME_STAGE_BAD_MANIFEST;
  }
  /* Made from another version, it would leave that version's files mixed
     with its own. */
  if (RunGameReadVersionFile(versionFile, &dataX, &dataY) && (dataX != manifest.fromX || dataY != manifest.fromY)) {
    FreeManifest(&manifest);
    return RUNGAME_STAGE_WRONG_VERSION;
  }
  result = VerifyUpdate(updateFolder, &manifest, failedEntry, failedEntrySize);
  FreeManifest(&manifest);
  if (result != RUNGAME_STAGED) return result;

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

int RunGameLastUpdateStatus(char* detail, size_t detailSize) {
  static const struct {
    const char* word;
    int status;
  } words[] = {{"none", RUNGAME_UPDATE_STATUS_NONE},
               {"installed", RUNGAME_UPDATE_STATUS_INSTALLED},
               {"refused", RUNGAME_UPDATE_STATUS_REFUSED},
               {"blocked", RUNGAME_UPDATE_STATUS_BLOCKED}};
  char text[1024];
  DWORD length = GetEnvironmentVariableA("RUNGAME_UPDATE_STATUS", text, sizeof text);
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
