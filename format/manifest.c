/* The manifest's one reader and one writer. See rungame_format.h. */
#include "rungame_format.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"

static int IsLowerHex(const char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i) {
    char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  }
  return 1;
}

static int HexValue(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

/* `a` (its first `length` bytes) against `b`, ASCII letters folded. */
static int CompareFoldedN(const char* a, size_t length, const char* b) {
  size_t i;
  for (i = 0;; ++i) {
    unsigned char x = i < length ? (unsigned char)rungame_ascii_lower(a[i]) : 0;
    unsigned char y = (unsigned char)rungame_ascii_lower(b[i]);
    if (x != y || x == 0) return (int)x - (int)y;
  }
}

static int CompareEntries(const void* a, const void* b) {
  const char* x = ((const RunGameManifestEntry*)a)->path;
  return CompareFoldedN(x, strlen(x), ((const RunGameManifestEntry*)b)->path);
}

/* The entry whose path is `path` (its first `length` bytes) in any ASCII
 * letter case; none is listed twice so. */
static RunGameManifestEntry* FindFolded(const RunGameManifest* manifest, const char* path, size_t length) {
  size_t low = 0;
  size_t high = manifest->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = CompareFoldedN(path, length, manifest->entries[middle].path);
    if (order == 0) return &manifest->entries[middle];
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return NULL;
}

RunGameManifestEntry* rungame_find_entry(const RunGameManifest* manifest, const char* path) {
  RunGameManifestEntry* entry = FindFolded(manifest, path, strlen(path));
  return entry != NULL && strcmp(entry->path, path) == 0 ? entry : NULL;
}

/* A decimal number saturating at 32 bits, as strtol reads it where long has
 * 32 bits; `end` gets the first byte after it. */
static long ParseLong32(const char* text, const char** end) {
  long long value = 0;
  int negative = 0;
  if (*text == '-') negative = *text++ == '-';
  while (*text >= '0' && *text <= '9') {
    if (value <= 2147483648LL) value = value * 10 + (*text - '0');
    ++text;
  }
  *end = text;
  if (negative) return value >= 2147483648LL ? (long)(-2147483647L - 1) : (long)-value;
  return value > 2147483647LL ? 2147483647L : (long)value;
}

int rungame_parse_version_line(const char* text, long* x, long* y) {
  const char* end;
  if (!((*text >= '0' && *text <= '9') || *text == '-')) return 0;
  *x = ParseLong32(text, &end);
  if (*end != '.') return 0;
  text = end + 1;
  if (!((*text >= '0' && *text <= '9') || *text == '-')) return 0;
  *y = ParseLong32(text, &end);
  return *end == '\0';
}

int rungame_version_is_later(long x, long y, long thanX, long thanY) { return x != thanX ? x > thanX : y > thanY; }

int rungame_manifest_applies_to(const RunGameManifest* manifest, int hasVersion, long x, long y) {
  if (!rungame_version_is_later(manifest->toX, manifest->toY, manifest->fromX, manifest->fromY)) return 0;
  return !hasVersion || (manifest->fromX == x && manifest->fromY == y);
}

int rungame_manifest_repairs(const RunGameManifest* manifest, int hasVersion, long x, long y) {
  return hasVersion && manifest->fromX == x && manifest->fromY == y && manifest->toX == x && manifest->toY == y &&
         manifest->marker != NULL && rungame_equals_ascii_case(manifest->marker, RUNGAME_RECORD_NAME);
}

/* "SIZE SHA256 PATH". */
static int ReadFileLine(char* text, RunGameManifestEntry* entry) {
  size_t digits = 0;
  size_t i;
  entry->size = 0;
  for (; text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (digits >= 19) return RUNGAME_MANIFEST_BAD_SIZE; /* beyond any real file */
    entry->size = entry->size * 10 + (unsigned long long)(text[digits] - '0');
  }
  if (digits == 0 || text[digits] != ' ') return RUNGAME_MANIFEST_BAD_SIZE;
  text += digits + 1;
  if (strlen(text) < 66 || text[64] != ' ' || !IsLowerHex(text, 64)) return RUNGAME_MANIFEST_BAD_DIGEST;
  for (i = 0; i < 32; ++i) entry->sha256[i] = (unsigned char)(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
  entry->path = text + 65;
  return rungame_is_installable_path(entry->path, 0) ? RUNGAME_MANIFEST_OK : RUNGAME_MANIFEST_BAD_PATH;
}

/* Whether `line` is `word`, a space and the rest (into `rest`). */
static int IsLine(char* line, const char* word, char** rest) {
  size_t length = strlen(word);
  if (strncmp(line, word, length) != 0 || line[length] != ' ') return 0;
  *rest = line + length + 1;
  return 1;
}

/* One line after the header. */
static int ReadLine(char* line, size_t number, RunGameManifest* manifest, int* seen) {
  char* rest;
  if (line[0] == '\0') return RUNGAME_MANIFEST_OK;
  if (IsLine(line, "from", &rest) || IsLine(line, "to", &rest)) {
    int isFrom = line[0] == 'f';
    if (seen[isFrom]) return RUNGAME_MANIFEST_TWICE;
    seen[isFrom] = 1;
    if (!rungame_parse_version_line(rest, isFrom ? &manifest->fromX : &manifest->toX,
                                    isFrom ? &manifest->fromY : &manifest->toY)) {
      return RUNGAME_MANIFEST_BAD_VERSION;
    }
  } else if (IsLine(line, "marker", &rest)) {
    if (manifest->marker != NULL) return RUNGAME_MANIFEST_TWICE;
    if (!rungame_is_plain_marker_name(rest)) return RUNGAME_MANIFEST_BAD_MARKER;
    manifest->marker = rest;
  } else if (IsLine(line, "folder", &rest)) {
    RunGameManifestEntry* entry = &manifest->entries[manifest->count++];
    entry->isFolder = 1;
    entry->path = rest;
    entry->line = number;
    if (!rungame_is_installable_path(rest, 1)) return RUNGAME_MANIFEST_BAD_PATH;
  } else if (IsLine(line, "file", &rest)) {
    RunGameManifestEntry* entry = &manifest->entries[manifest->count++];
    entry->line = number;
    return ReadFileLine(rest, entry);
  } else if (IsLine(line, "remove", &rest)) {
    RunGameManifestEntry* entry = &manifest->removals[manifest->removalCount++];
    entry->line = number;
    return ReadFileLine(rest, entry);
  } else if (IsLine(line, "remove-folder", &rest)) {
    RunGameManifestEntry* entry = &manifest->removals[manifest->removalCount++];
    entry->isFolder = 1;
    entry->path = rest;
    entry->line = number;
    if (!rungame_is_installable_path(rest, 1)) return RUNGAME_MANIFEST_BAD_PATH;
  } else {
    return RUNGAME_MANIFEST_UNKNOWN_LINE;
  }
  return RUNGAME_MANIFEST_OK;
}

/* Sorted: no removal twice nor listed as an entry, in any case. */
static int CheckRemovals(RunGameManifest* manifest, size_t* line) {
  size_t i;
  qsort(manifest->removals, manifest->removalCount, sizeof *manifest->removals, CompareEntries);
  for (i = 0; i < manifest->removalCount; ++i) {
    const RunGameManifestEntry* removal = &manifest->removals[i];
    *line = removal->line;
    if ((i > 0 && CompareEntries(&manifest->removals[i - 1], removal) == 0) ||
        FindFolded(manifest, removal->path, strlen(removal->path)) != NULL ||
        rungame_equals_ascii_case(removal->path, manifest->marker)) {
      return RUNGAME_MANIFEST_REMOVED_ENTRY;
    }
  }
  *line = 0;
  return RUNGAME_MANIFEST_OK;
}

/* Sorted: no path twice in any case, each below a folder listed before it. */
static int CheckPaths(RunGameManifest* manifest, size_t* line) {
  size_t i;
  qsort(manifest->entries, manifest->count, sizeof *manifest->entries, CompareEntries);
  for (i = 0; i < manifest->count; ++i) {
    const RunGameManifestEntry* entry = &manifest->entries[i];
    const char* separator = strrchr(entry->path, '\\');
    *line = entry->line;
    if (i > 0 && CompareEntries(&manifest->entries[i - 1], entry) == 0) {
      if (manifest->entries[i - 1].line > entry->line) *line = manifest->entries[i - 1].line;
      return RUNGAME_MANIFEST_LISTED_TWICE;
    }
    if (separator != NULL) {
      const RunGameManifestEntry* folder = FindFolded(manifest, entry->path, (size_t)(separator - entry->path));
      if (folder == NULL || !folder->isFolder || folder->line > entry->line) return RUNGAME_MANIFEST_NO_FOLDER;
    }
  }
  return CheckRemovals(manifest, line);
}

int rungame_read_manifest(const char* text, size_t size, RunGameManifest* manifest, size_t* line) {
  size_t lines = 1;
  size_t number = 0;
  size_t ignored;
  int seen[2] = {0, 0};
  int problem = RUNGAME_MANIFEST_OK;
  char* cursor;
  size_t i;
  memset(manifest, 0, sizeof *manifest);
  if (line == NULL) line = &ignored;
  *line = 0;
  if (size == 0) return RUNGAME_MANIFEST_NO_HEADER;
  if (memchr(text, '\0', size) != NULL) return RUNGAME_MANIFEST_NUL;
  for (i = 0; i < size; ++i) lines += text[i] == '\n';
  manifest->text = (char*)malloc(size + 1);
  manifest->entries = (RunGameManifestEntry*)calloc(lines, sizeof *manifest->entries);
  manifest->removals = (RunGameManifestEntry*)calloc(lines, sizeof *manifest->removals);
  if (manifest->text == NULL || manifest->entries == NULL || manifest->removals == NULL) {
    return RUNGAME_MANIFEST_NO_MEMORY;
  }
  memcpy(manifest->text, text, size);
  manifest->text[size] = '\0';
  for (cursor = manifest->text; cursor != NULL && problem == RUNGAME_MANIFEST_OK;) {
    char* next = strchr(cursor, '\n');
    size_t length;
    if (next != NULL) *next++ = '\0';
    length = strlen(cursor);
    if (length > 0 && cursor[length - 1] == '\r') cursor[length - 1] = '\0';
    *line = ++number;
    if (number == 1) {
      if (strcmp(cursor, RUNGAME_MANIFEST_HEADER) != 0) problem = RUNGAME_MANIFEST_NO_HEADER;
    } else {
      problem = ReadLine(cursor, number, manifest, seen);
    }
    cursor = next;
  }
  if (problem != RUNGAME_MANIFEST_OK) return problem;
  *line = 0;
  if (!seen[0] || !seen[1]) return RUNGAME_MANIFEST_NO_VERSION;
  if (manifest->marker == NULL) return RUNGAME_MANIFEST_NO_MARKER;
  return CheckPaths(manifest, line);
}

void rungame_free_manifest(RunGameManifest* manifest) {
  free(manifest->removals);
  free(manifest->entries);
  free(manifest->text);
  memset(manifest, 0, sizeof *manifest);
}

/* One entry's line: "<word> PATH" for a folder, "<word> SIZE SHA256 PATH"
 * for a file. Returns the bytes written. */
static size_t WriteLine(char* text, const char* word, const RunGameManifestLine* line) {
  /* Its digits by hand: "%llu" is not in every C runtime a game links. */
  char digits[24];
  size_t at = sizeof digits - 1;
  unsigned long long size = line->size;
  if (line->isFolder) return (size_t)sprintf(text, "%s %s\n", word, line->path);
  digits[at] = '\0';
  do {
    digits[--at] = (char)('0' + size % 10);
    size /= 10;
  } while (size > 0);
  return (size_t)sprintf(text, "%s %s %.64s %s\n", word, digits + at, line->sha256Hex, line->path);
}

char* rungame_write_manifest_removing(const char* from, const char* to, const char* marker,
                                      const RunGameManifestLine* lines, size_t count,
                                      const RunGameManifestLine* removed, size_t removedCount) {
  size_t capacity = sizeof RUNGAME_MANIFEST_HEADER + strlen(from) + strlen(to) + strlen(marker) + 32;
  size_t used = 0;
  size_t i;
  char* text;
  for (i = 0; i < count; ++i) capacity += strlen(lines[i].path) + 100;
  for (i = 0; i < removedCount; ++i) capacity += strlen(removed[i].path) + 110;
  text = (char*)malloc(capacity);
  if (text == NULL) return NULL;
  used += (size_t)sprintf(text, "%s\nfrom %s\nto %s\nmarker %s\n", RUNGAME_MANIFEST_HEADER, from, to, marker);
  for (i = 0; i < count; ++i) used += WriteLine(text + used, lines[i].isFolder ? "folder" : "file", &lines[i]);
  for (i = 0; i < removedCount; ++i) {
    used += WriteLine(text + used, removed[i].isFolder ? "remove-folder" : "remove", &removed[i]);
  }
  return text;
}

char* rungame_write_manifest(const char* from, const char* to, const char* marker, const RunGameManifestLine* lines,
                             size_t count) {
  return rungame_write_manifest_removing(from, to, marker, lines, count, NULL, 0);
}
