/* See feed_index.h. */
#include "feed_index.h"

#include <stdlib.h>
#include <string.h>

#include "feed_envelope.h"

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

/* "version X.Y SIZE SHA256" without its keyword. */
static int ParseVersionLine(const char* line, size_t length, FeedVersion* version) {
  const char* space = (const char*)memchr(line, ' ', length);
  const char* second;
  if (space == NULL || !FeedParseVersion(line, (size_t)(space - line), &version->x, &version->y)) return 0;
  length -= (size_t)(space - line) + 1;
  line = space + 1;
  second = (const char*)memchr(line, ' ', length);
  return second != NULL && FeedParseSize(line, (size_t)(second - line), &version->manifestSize) &&
         rungame_parse_hex(second + 1, length - (size_t)(second - line) - 1, version->manifestSha256, 32);
}

static int ReadBody(const char* body, size_t size, FeedIndex* index, const char** reason) {
  size_t lines = 0;
  size_t at;
  int number = 0;
  for (at = 0; at < size; ++at) lines += body[at] == '\n';
  index->versions = (FeedVersion*)calloc(lines + 1, sizeof *index->versions);
  if (index->versions == NULL) return Fail(reason, "out of memory");
  at = 0;
  while (at < size) {
    const char* line = body + at;
    const size_t length = (size_t)((const char*)memchr(line, '\n', size - at) - line);
    at += length + 1;
    ++number;
    if (number == 1) {
      if (length < 8 || memcmp(line, "channel ", 8) != 0 || !FeedIsChannelName(line + 8, length - 8)) {
        return Fail(reason, "its first line is no \"channel\" line with a valid name");
      }
      memcpy(index->channel, line + 8, length - 8);
      index->channel[length - 8] = '\0';
    } else if (length > 8 && memcmp(line, "version ", 8) == 0) {
      FeedVersion* version = &index->versions[index->count];
      if (!ParseVersionLine(line + 8, length - 8, version)) return Fail(reason, "a malformed version line");
      if (index->count > 0) {
        const FeedVersion* before = &index->versions[index->count - 1];
        if (FeedCompareVersions(before->x, before->y, version->x, version->y) >= 0) {
          return Fail(reason, "its versions are not in order, oldest first, each once");
        }
      }
      ++index->count;
    } else {
      return Fail(reason, "an unknown line");
    }
  }
  if (number == 0) return Fail(reason, "no channel line");
  if (index->count == 0) return Fail(reason, "no version");
  return 1;
}

int FeedReadIndex(const char* text, size_t size, const unsigned char key[32], FeedIndex* index, const char** reason) {
  size_t start;
  size_t end;
  memset(index, 0, sizeof *index);
  if (!rungame_open_signed(text, size, FEED_MAX_INDEX, FEED_INDEX_HEADER, key, &start, &end, reason)) return 0;
  if (!ReadBody(text + start, end - start, index, reason)) {
    FeedFreeIndex(index);
    return 0;
  }
  return 1;
}

void FeedFreeIndex(FeedIndex* index) {
  free(index->versions);
  memset(index, 0, sizeof *index);
}

int FeedWriteIndex(const FeedIndex* index, const unsigned char seed[32], FeedText* out) {
  size_t i;
  if (!FeedIsChannelName(index->channel, strlen(index->channel)) || index->count == 0) return 0;
  FeedBeginSigned(out, FEED_INDEX_HEADER, seed);
  FeedTextAppendString(out, "channel ");
  FeedTextAppendString(out, index->channel);
  FeedTextAppend(out, "\n", 1);
  for (i = 0; i < index->count; ++i) {
    const FeedVersion* version = &index->versions[i];
    if (version->x < 0 || version->y < 0) return 0;
    if (i > 0 && FeedCompareVersions(index->versions[i - 1].x, index->versions[i - 1].y, version->x, version->y) >= 0) {
      return 0;
    }
    FeedTextAppendString(out, "version ");
    FeedTextAppendVersion(out, version->x, version->y);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendNumber(out, version->manifestSize);
    FeedTextAppend(out, " ", 1);
    FeedTextAppendHex(out, version->manifestSha256, 32);
    FeedTextAppend(out, "\n", 1);
  }
  return FeedEndSigned(out, seed);
}
