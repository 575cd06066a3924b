/* See rungame_signed_manifest.h. */
#include "rungame_signed_manifest.h"

#include <sodium.h>
#include <stdlib.h>
#include <string.h>

static const char kSignedHeader[] = "rungame-signed-update 1";
static const char kManifestHeader[] = "rungame-update-manifest 1";
static const char kSignatureKeyword[] = "signature ";

static int IsLowerHex(const char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i) {
    char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  }
  return 1;
}

static int StartsWith(const char* line, const char* prefix) { return strncmp(line, prefix, strlen(prefix)) == 0; }

/* A decimal number saturating at 32 bits, as strtol reads it where long has
 * 32 bits; `end` gets the first byte after it. */
static long ParseLong32(const char* text, const char* limit, const char** end) {
  long long value = 0;
  int negative = 0;
  while (text < limit && (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n')) ++text;
  if (text < limit && (*text == '-' || *text == '+')) negative = *text++ == '-';
  while (text < limit && *text >= '0' && *text <= '9') {
    if (value <= 2147483648LL) value = value * 10 + (*text - '0');
    ++text;
  }
  if (end != NULL) *end = text;
  if (negative) return value >= 2147483648LL ? (long)(-2147483647L - 1) : (long)-value;
  return value > 2147483647LL ? 2147483647L : (long)value;
}

/* "X.Y", exactly. */
int RunGameParseVersionLine(const char* text, long* x, long* y) {
  const char* limit = text + strlen(text);
  const char* end;
  if (!((*text >= '0' && *text <= '9') || *text == '-')) return 0;
  *x = ParseLong32(text, limit, &end);
  if (*end != '.') return 0;
  text = end + 1;
  if (!((*text >= '0' && *text <= '9') || *text == '-')) return 0;
  *y = ParseLong32(text, limit, &end);
  return *end == '\0';
}

/* "SIZE SHA256 PATH". */
static int ParseFileLine(char* text, RunGameSignedEntry* entry) {
  unsigned long long size = 0;
  size_t digits = 0;
  size_t hexLength = 0;
  for (; text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (digits >= 19) return 0; /* beyond any real file */
    size = size * 10 + (unsigned long long)(text[digits] - '0');
  }
  if (digits == 0 || text[digits] != ' ') return 0;
  text += digits + 1;
  if (strlen(text) < 66 || text[64] != ' ' || !IsLowerHex(text, 64)) return 0;
  if (sodium_hex2bin(entry->sha256, sizeof entry->sha256, text, 64, NULL, &hexLength, NULL) != 0 || hexLength != 32) {
    return 0;
  }
  entry->size = size;
  entry->path = text + 65;
  return 1;
}

static int ComparePaths(const void* a, const void* b) {
  return strcmp(((const RunGameSignedEntry*)a)->path, ((const RunGameSignedEntry*)b)->path);
}

/* Splits the signed part (a NUL-terminated copy) into its lines and reads
 * them. 1 when well formed. */
static int ParseSignedPart(RunGameSignedManifest* manifest) {
  char* line = manifest->text;
  size_t lines = 0;
  size_t number = 0;
  int hasVersion = 0;
  int hasFrom = 0;
  char* cursor;
  for (cursor = manifest->text; *cursor != '\0'; ++cursor) lines += *cursor == '\n';
  manifest->entries = (RunGameSignedEntry*)calloc(lines + 1, sizeof *manifest->entries);
  if (manifest->entries == NULL) return 0;
  while (*line != '\0') {
    char* next = strchr(line, '\n');
    size_t length;
    if (next == NULL) return 0;
    *next = '\0';
    length = (size_t)(next - line);
    if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
    ++number;
    if (number == 1) {
      if (strcmp(line, kSignedHeader) != 0) return 0;
    } else if (number == 2) {
      if (!StartsWith(line, "key ") || length != 4 + 16 || !IsLowerHex(line + 4, 16)) return 0;
    } else if (number == 3) {
      if (strcmp(line, kManifestHeader) != 0) return 0;
    } else if (length == 0) {
      /* blank */
    } else if (StartsWith(line, "from ")) {
      if (hasFrom || !RunGameParseVersionLine(line + 5, &manifest->fromX, &manifest->fromY)) return 0;
      hasFrom = 1;
    } else if (StartsWith(line, "to ")) {
      if (!RunGameParseVersionLine(line + 3, &manifest->toX, &manifest->toY)) return 0;
      hasVersion = 1;
    } else if (StartsWith(line, "marker ")) {
      manifest->marker = line + 7;
    } else if (StartsWith(line, "folder ")) {
      RunGameSignedEntry* entry = &manifest->entries[manifest->count++];
      entry->isFolder = 1;
      entry->path = line + 7;
    } else if (StartsWith(line, "file ")) {
      if (!ParseFileLine(line + 5, &manifest->entries[manifest->count++])) return 0;
    } else {
      return 0;
    }
    line = next + 1;
  }
  if (!hasVersion || !hasFrom || manifest->marker == NULL || manifest->marker[0] == '\0') return 0;
  qsort(manifest->entries, manifest->count, sizeof *manifest->entries, ComparePaths);
  for (number = 0; number < manifest->count; ++number) {
    if (manifest->entries[number].path[0] == '\0') return 0;
    if (number > 0 && strcmp(manifest->entries[number - 1].path, manifest->entries[number].path) == 0) return 0;
  }
  return 1;
}

int RunGameParsePublicKey(const char* hex, unsigned char key[32]) {
  size_t length = 0;
  if (hex == NULL || strlen(hex) != 64) return 0;
  return sodium_hex2bin(key, 32, hex, 64, NULL, &length, NULL) == 0 && length == 32;
}

int RunGameOpenSignedManifest(const char* text, size_t size, const unsigned char key[32],
                              RunGameSignedManifest* manifest) {
  unsigned char signature[64];
  size_t signatureLength = 0;
  size_t lastLine;
  const size_t keywordLength = sizeof kSignatureKeyword - 1;
  memset(manifest, 0, sizeof *manifest);
  if (text == NULL || size > RUNGAME_SIGNED_MAX_MARKER || size < 2 || text[size - 1] != '\n') return 0;
  if (sodium_init() < 0) return 0;
  lastLine = size - 1;
  while (lastLine > 0 && text[lastLine - 1] != '\n') --lastLine;
  if (size - 1 - lastLine != keywordLength + 128 || memcmp(text + lastLine, kSignatureKeyword, keywordLength) != 0 ||
      !IsLowerHex(text + lastLine + keywordLength, 128) ||
      sodium_hex2bin(signature, sizeof signature, text + lastLine + keywordLength, 128, NULL, &signatureLength,
                     NULL) != 0 ||
      signatureLength != sizeof signature) {
    return 0;
  }
  if (crypto_sign_verify_detached(signature, (const unsigned char*)text, lastLine, key) != 0) return 0;
  /* Signed by the key; still read with care. A NUL would cut a path short. */
  if (memchr(text, '\0', lastLine) != NULL) return 0;
  manifest->text = (char*)malloc(lastLine + 1);
  if (manifest->text == NULL) return 0;
  memcpy(manifest->text, text, lastLine);
  manifest->text[lastLine] = '\0';
  if (!ParseSignedPart(manifest)) {
    RunGameCloseSignedManifest(manifest);
    return 0;
  }
  return 1;
}

void RunGameCloseSignedManifest(RunGameSignedManifest* manifest) {
  free(manifest->entries);
  free(manifest->text);
  memset(manifest, 0, sizeof *manifest);
}

int RunGameSignedAppliesTo(const RunGameSignedManifest* manifest, int hasVersion, long x, long y) {
  int later = manifest->toX != manifest->fromX ? manifest->toX > manifest->fromX : manifest->toY > manifest->fromY;
  if (!later) return 0;
  return !hasVersion || (manifest->fromX == x && manifest->fromY == y);
}

RunGameSignedEntry* RunGameFindSignedEntry(const RunGameSignedManifest* manifest, const char* relative) {
  RunGameSignedEntry probe;
  if (manifest->count == 0) return NULL;
  memset(&probe, 0, sizeof probe);
  probe.path = relative;
  return (RunGameSignedEntry*)bsearch(&probe, manifest->entries, manifest->count, sizeof probe, ComparePaths);
}

int RunGameAllSignedEntriesSeen(const RunGameSignedManifest* manifest) {
  size_t i;
  for (i = 0; i < manifest->count; ++i) {
    if (!manifest->entries[i].seen) return 0;
  }
  return 1;
}

/* XML, just enough for the version file. */

static int IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.';
}

static int IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/* Past the first `terminator` at or after `from`, or `limit`. */
static const char* SkipPast(const char* from, const char* limit, const char* terminator) {
  size_t length = strlen(terminator);
  for (; from + length <= limit; ++from) {
    if (memcmp(from, terminator, length) == 0) return from + length;
  }
  return limit;
}

static int NameIs(const char* name, size_t length, const char* expected) {
  size_t i;
  if (length != strlen(expected)) return 0;
  for (i = 0; i < length; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != expected[i]) return 0;
  }
  return 1;
}

int RunGameParseVersionText(const char* text, size_t size, long* x, long* y) {
  const char* cursor = text;
  const char* limit = text + size;
  int depth = 0;
  if (text == NULL || size > RUNGAME_SIGNED_MAX_VERSION_FILE) return 0;
  while (cursor < limit) {
    const char* name;
    size_t nameLength;
    int hasX = 0, hasY = 0, closed = 0;
    long valueX = 0, valueY = 0;
    if (*cursor != '<') {
      ++cursor;
      continue;
    }
    if (limit - cursor >= 2 && cursor[1] == '?') {
      cursor = SkipPast(cursor, limit, "?>");
      continue;
    }
    if (limit - cursor >= 4 && memcmp(cursor, "<!--", 4) == 0) {
      cursor = SkipPast(cursor, limit, "-->");
      continue;
    }
    if (limit - cursor >= 2 && (cursor[1] == '!' || cursor[1] == '/')) {
      if (cursor[1] == '/') --depth;
      cursor = SkipPast(cursor, limit, ">");
      continue;
    }
    name = ++cursor;
    while (cursor < limit && IsNameByte(*cursor)) ++cursor;
    nameLength = (size_t)(cursor - name);
    if (nameLength == 0) return 0; /* not XML */
    for (;;) {
      const char* attribute;
      size_t attributeLength;
      const char* value;
      char quote;
      while (cursor < limit && IsSpace(*cursor)) ++cursor;
      if (cursor >= limit) return 0;
      if (*cursor == '>') break;
      if (*cursor == '/') {
        closed = 1;
        cursor = SkipPast(cursor, limit, ">");
        break;
      }
      attribute = cursor;
      while (cursor < limit && IsNameByte(*cursor)) ++cursor;
      attributeLength = (size_t)(cursor - attribute);
      while (cursor < limit && IsSpace(*cursor)) ++cursor;
      if (attributeLength == 0 || cursor >= limit || *cursor != '=') return 0;
      ++cursor;
      while (cursor < limit && IsSpace(*cursor)) ++cursor;
      if (cursor >= limit || (*cursor != '"' && *cursor != '\'')) return 0;
      quote = *cursor++;
      value = cursor;
      while (cursor < limit && *cursor != quote) ++cursor;
      if (cursor >= limit) return 0;
      if (attributeLength == 1 && *attribute == 'x' && !hasX) {
        valueX = ParseLong32(value, cursor, NULL);
        hasX = 1;
      } else if (attributeLength == 1 && *attribute == 'y' && !hasY) {
        valueY = ParseLong32(value, cursor, NULL);
        hasY = 1;
      }
      ++cursor;
    }
    if (cursor < limit && *cursor == '>') ++cursor;
    if (depth == 0 && hasX && hasY && NameIs(name, nameLength, "version")) {
      *x = valueX;
      *y = valueY;
      return 1;
    }
    if (!closed) ++depth;
  }
  return 0;
}
