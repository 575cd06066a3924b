/* See feed_packs.h. */
#include "feed_packs.h"

#include <stdlib.h>
#include <string.h>

#include "feed_envelope.h"

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

/* The next space-separated field of `line` (`length` bytes left), moved past. */
static int NextField(const char** line, size_t* length, const char** field, size_t* fieldLength) {
  const char* space = (const char*)memchr(*line, ' ', *length);
  *field = *line;
  *fieldLength = space ? (size_t)(space - *line) : *length;
  if (*fieldLength == 0) return 0;
  *line += *fieldLength + (space ? 1 : 0);
  *length -= *fieldLength + (space ? 1 : 0);
  return space != NULL || *length == 0;
}

/* "<hex> X.Y OFFSET SIZE" without its keyword. */
static int ParseChunkLine(const char* line, size_t length, FeedPackedChunk* chunk) {
  const char* field;
  size_t fieldLength;
  return NextField(&line, &length, &field, &fieldLength) && rungame_parse_hex(field, fieldLength, chunk->sha256, 32) &&
         NextField(&line, &length, &field, &fieldLength) &&
         FeedParseVersion(field, fieldLength, &chunk->packX, &chunk->packY) &&
         NextField(&line, &length, &field, &fieldLength) && FeedParseSize(field, fieldLength, &chunk->offset) &&
         NextField(&line, &length, &field, &fieldLength) && FeedParseSize(field, fieldLength, &chunk->size) &&
         length == 0;
}

/* Whether `chunk` may follow `before` in a list of version (x, y). */
static int InOrder(const FeedPacks* packs, const FeedPackedChunk* before, const FeedPackedChunk* chunk) {
  int order;
  if (chunk->size == 0 || chunk->size > FEED_PACKED_CHUNK_MAX) return 0;
  if (FeedCompareVersions(chunk->packX, chunk->packY, packs->x, packs->y) > 0) return 0;
  if (before == NULL) return 1;
  order = FeedCompareVersions(before->packX, before->packY, chunk->packX, chunk->packY);
  return order < 0 || (order == 0 && chunk->offset >= before->offset + before->size);
}

static int ReadBody(const char* body, size_t size, FeedPacks* packs, const char** reason) {
  size_t lines = 0;
  size_t at;
  int number = 0;
  for (at = 0; at < size; ++at) lines += body[at] == '\n';
  packs->chunks = (FeedPackedChunk*)calloc(lines + 1, sizeof *packs->chunks);
  if (packs->chunks == NULL) return Fail(reason, "out of memory");
  at = 0;
  while (at < size) {
    const char* line = body + at;
    const size_t length = (size_t)((const char*)memchr(line, '\n', size - at) - line);
    at += length + 1;
    ++number;
    if (number == 1) {
      if (length < 8 || memcmp(line, "version ", 8) != 0 || !FeedParseVersion(line + 8, length - 8, &packs->x, &packs->y)) {
        return Fail(reason, "its first line is no \"version\" line");
      }
    } else if (length > 6 && memcmp(line, "chunk ", 6) == 0) {
      FeedPackedChunk* chunk = &packs->chunks[packs->count];
      if (!ParseChunkLine(line + 6, length - 6, chunk)) return Fail(reason, "a malformed chunk line");
      if (!InOrder(packs, packs->count ? chunk - 1 : NULL, chunk)) {
        return Fail(reason, "its chunks are out of order, overlap, or lie in a pack newer than the version");
      }
      ++packs->count;
    } else {
      return Fail(reason, "an unknown line");
    }
  }
  if (number == 0) return Fail(reason, "no version line");
  return 1;
}

int FeedReadPacks(const char* text, size_t size, const unsigned char key[32], FeedPacks* packs, const char** reason) {
  size_t start, end;
  memset(packs, 0, sizeof *packs);
  if (!rungame_open_signed(text, size, FEED_MAX_PACKS, FEED_PACKS_HEADER, key, &start, &end, reason)) return 0;
  if (!ReadBody(text + start, end - start, packs, reason)) {
    FeedFreePacks(packs);
    return 0;
  }
  return 1;
}

void FeedFreePacks(FeedPacks* packs) {
  free(packs->chunks);
  memset(packs, 0, sizeof *packs);
}

int FeedWritePacks(const FeedPacks* packs, const unsigned char seed[32], FeedText* out) {
  size_t i;
  if (packs->x < 0 || packs->y < 0) return 0;
  FeedBeginSigned(out, FEED_PACKS_HEADER, seed);
  FeedTextAppendString(out, "version ");
  FeedTextAppendVersion(out, packs->x, packs->y);
  FeedTextAppend(out, "\n", 1);
  for (i = 0; i < packs->count; ++i) {
    const FeedPackedChunk* chunk = &packs->chunks[i];
    if (chunk->packX < 0 || chunk->packY < 0 || !InOrder(packs, i ? chunk - 1 : NULL, chunk)) return 0;
    FeedTextAppendString(out, "chunk ");
    FeedTextAppendHex(out, chunk->sha256, 32);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendVersion(out, chunk->packX, chunk->packY);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendNumber(out, chunk->offset);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendNumber(out, chunk->size);
    FeedTextAppend(out, "\n", 1);
  }
  return FeedEndSigned(out, seed);
}
