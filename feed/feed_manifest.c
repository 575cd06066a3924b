/* See feed_manifest.h. */
#include "feed_manifest.h"

#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"
#include "feed_chunker.h"
#include "feed_envelope.h"

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

/* "SIZE SHA256" of a chunk line, and its sizes' rule. */
static int ParseChunkLine(const char* line, size_t length, FeedChunk* chunk) {
  const char* space = (const char*)memchr(line, ' ', length);
  return space != NULL && FeedParseSize(line, (size_t)(space - line), &chunk->size) && chunk->size > 0 &&
         chunk->size <= FEED_CHUNK_MAX && rungame_parse_hex(space + 1, length - (size_t)(space - line) - 1, chunk->sha256, 32);
}

/* "SIZE SHA256 COUNT PATH" of a file line; the path stays in place. */
static int ParseFileLine(char* line, size_t length, FeedEntry* entry) {
  char* space = (char*)memchr(line, ' ', length);
  char* second;
  char* third;
  unsigned long long count;
  if (space == NULL || !FeedParseSize(line, (size_t)(space - line), &entry->size)) return 0;
  if (length - (size_t)(space - line) <= 66) return 0; /* " <64 hex> " and more */
  second = space + 65;
  if (*second != ' ' || !rungame_parse_hex(space + 1, 64, entry->sha256, 32)) return 0;
  third = (char*)memchr(second + 1, ' ', length - (size_t)(second + 1 - line));
  if (third == NULL || !FeedParseSize(second + 1, (size_t)(third - second - 1), &count)) return 0;
  entry->chunkCount = (size_t)count;
  if ((unsigned long long)entry->chunkCount != count) return 0;
  entry->path = third + 1;
  return 1;
}

/* The folder `path` lies in is listed among the first `count` entries
 * (sorted), or `path` lies at the top. */
static int ParentListed(const FeedEntry* entries, size_t count, const char* path) {
  const char* separator = strrchr(path, '\\');
  size_t low = 0;
  size_t high = count;
  size_t length;
  if (separator == NULL) return 1;
  length = (size_t)(separator - path);
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const char* other = entries[middle].path;
    int order = strncmp(other, path, length);
    if (order == 0) order = other[length] == '\0' ? 0 : 1;
    if (order == 0) return entries[middle].isFolder;
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return 0;
}

static int CheckEntry(const FeedManifest* manifest, const FeedEntry* entry, const char** reason) {
  size_t i;
  unsigned long long total = 0;
  if (!rungame_is_installable_path(entry->path, entry->isFolder)) {
    return Fail(reason, "a path the launcher would not install as it is");
  }
  if (manifest->count > 0 && strcmp(manifest->entries[manifest->count - 1].path, entry->path) >= 0) {
    return Fail(reason, "its paths are not sorted, each once");
  }
  if (!ParentListed(manifest->entries, manifest->count, entry->path)) {
    return Fail(reason, "a path whose folder is not listed before it");
  }
  if (entry->isFolder) return 1;
  for (i = 0; i < entry->chunkCount; ++i) {
    const FeedChunk* chunk = &manifest->chunks[entry->firstChunk + i];
    if (i + 1 < entry->chunkCount && chunk->size < FEED_CHUNK_MIN) {
      return Fail(reason, "a chunk shorter than the chunker cuts, before a file's last");
    }
    total += chunk->size;
  }
  if (total != entry->size) return Fail(reason, "a file whose chunks do not add up to its size");
  return 1;
}

static int ReadBody(char* body, FeedManifest* manifest, const char** reason) {
  size_t lines = 0;
  size_t pending = 0; /* chunk lines still owed to the last file */
  int number = 0;
  char* line = body;
  char* cursor;
  FeedEntry* open = NULL;
  for (cursor = body; *cursor != '\0'; ++cursor) lines += *cursor == '\n';
  manifest->entries = (FeedEntry*)calloc(lines + 1, sizeof *manifest->entries);
  manifest->chunks = (FeedChunk*)calloc(lines + 1, sizeof *manifest->chunks);
  if (manifest->entries == NULL || manifest->chunks == NULL) return Fail(reason, "out of memory");
  while (*line != '\0') {
    char* end = strchr(line, '\n');
    const size_t length = (size_t)(end - line);
    *end = '\0';
    ++number;
    if (number == 1) {
      if (length < 8 || memcmp(line, "version ", 8) != 0 ||
          !FeedParseVersion(line + 8, length - 8, &manifest->x, &manifest->y)) {
        return Fail(reason, "its first line is no \"version X.Y\" line");
      }
    } else if (number == 2) {
      if (strcmp(line, FEED_CHUNKING_LINE) != 0) return Fail(reason, "chunked by another rule than this reader's");
    } else if (pending > 0) {
      if (length < 6 || memcmp(line, "chunk ", 6) != 0) return Fail(reason, "a file with fewer chunks than it says");
      if (!ParseChunkLine(line + 6, length - 6, &manifest->chunks[manifest->chunkCount])) {
        return Fail(reason, "a malformed chunk line");
      }
      ++manifest->chunkCount;
      if (--pending == 0 && !CheckEntry(manifest, open, reason)) return 0;
      if (pending == 0) ++manifest->count;
    } else if (length > 7 && memcmp(line, "folder ", 7) == 0) {
      FeedEntry* entry = &manifest->entries[manifest->count];
      entry->isFolder = 1;
      entry->path = line + 7;
      if (!CheckEntry(manifest, entry, reason)) return 0;
      ++manifest->count;
    } else if (length > 5 && memcmp(line, "file ", 5) == 0) {
      FeedEntry* entry = &manifest->entries[manifest->count];
      if (!ParseFileLine(line + 5, length - 5, entry)) return Fail(reason, "a malformed file line");
      if (entry->chunkCount > lines) return Fail(reason, "a file with fewer chunks than it says");
      entry->firstChunk = manifest->chunkCount;
      pending = entry->chunkCount;
      open = entry;
      if (pending == 0) {
        if (!CheckEntry(manifest, entry, reason)) return 0;
        ++manifest->count;
      }
    } else if (length > 6 && memcmp(line, "chunk ", 6) == 0) {
      return Fail(reason, "a file with more chunks than it says");
    } else {
      return Fail(reason, "an unknown line");
    }
    line = end + 1;
  }
  if (number < 2) return Fail(reason, "no version or chunking line");
  if (pending > 0) return Fail(reason, "a file with fewer chunks than it says");
  return 1;
}

int FeedReadManifest(const char* text, size_t size, const unsigned char key[32], FeedManifest* manifest,
                     const char** reason) {
  size_t start;
  size_t end;
  memset(manifest, 0, sizeof *manifest);
  if (!rungame_open_signed(text, size, FEED_MAX_MANIFEST, FEED_MANIFEST_HEADER, key, &start, &end, reason)) return 0;
  manifest->text = (char*)malloc(end - start + 1);
  if (manifest->text == NULL) return Fail(reason, "out of memory");
  memcpy(manifest->text, text + start, end - start);
  manifest->text[end - start] = '\0';
  if (!ReadBody(manifest->text, manifest, reason)) {
    FeedFreeManifest(manifest);
    return 0;
  }
  return 1;
}

void FeedFreeManifest(FeedManifest* manifest) {
  free(manifest->chunks);
  free(manifest->entries);
  free(manifest->text);
  memset(manifest, 0, sizeof *manifest);
}

int FeedWriteManifest(const FeedManifest* manifest, const unsigned char seed[32], FeedText* out,
                      const char** reason) {
  FeedManifest seen;
  size_t i;
  size_t j;
  if (manifest->x < 0 || manifest->y < 0) return Fail(reason, "a negative version");
  /* The reader's checks, entry by entry over what is already written. */
  memset(&seen, 0, sizeof seen);
  seen.entries = manifest->entries;
  seen.chunks = manifest->chunks;
  FeedBeginSigned(out, FEED_MANIFEST_HEADER, seed);
  FeedTextAppendString(out, "version ");
  FeedTextAppendVersion(out, manifest->x, manifest->y);
  FeedTextAppendString(out, "\n" FEED_CHUNKING_LINE "\n");
  for (i = 0; i < manifest->count; ++i) {
    const FeedEntry* entry = &manifest->entries[i];
    if (strchr(entry->path, '\n') != NULL || strchr(entry->path, '\r') != NULL) {
      return Fail(reason, "a path with a line end");
    }
    if (!entry->isFolder && entry->firstChunk + entry->chunkCount > manifest->chunkCount) {
      return Fail(reason, "a file whose chunks are not all listed");
    }
    if (!CheckEntry(&seen, entry, reason)) return 0;
    ++seen.count;
    if (entry->isFolder) {
      FeedTextAppendString(out, "folder ");
      FeedTextAppendString(out, entry->path);
      FeedTextAppend(out, "\n", 1);
      continue;
    }
    FeedTextAppendString(out, "file ");
    FeedTextAppendNumber(out, entry->size);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendHex(out, entry->sha256, 32);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendNumber(out, entry->chunkCount);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendString(out, entry->path);
    FeedTextAppend(out, "\n", 1);
    for (j = 0; j < entry->chunkCount; ++j) {
      const FeedChunk* chunk = &manifest->chunks[entry->firstChunk + j];
      if (chunk->size == 0 || chunk->size > FEED_CHUNK_MAX) return Fail(reason, "a chunk size out of bounds");
      FeedTextAppendString(out, "chunk ");
      FeedTextAppendNumber(out, chunk->size);
      FeedTextAppend(out, " ", 1);
      FeedTextAppendHex(out, chunk->sha256, 32);
      FeedTextAppend(out, "\n", 1);
    }
  }
  if (!FeedEndSigned(out, seed)) return Fail(reason, "out of memory");
  return 1;
}
