/* See feed_text.h. */
#include "feed_text.h"

#include <stdlib.h>
#include <string.h>

void FeedTextAppend(FeedText* text, const char* bytes, size_t size) {
  if (text->failed) return;
  if (size > text->capacity - text->size) {
    size_t capacity = text->capacity < 256 ? 256 : text->capacity;
    char* grown;
    while (capacity - text->size < size) {
      if (capacity > ((size_t)-1) / 2) {
        text->failed = 1;
        return;
      }
      capacity *= 2;
    }
    grown = (char*)realloc(text->data, capacity);
    if (grown == NULL) {
      text->failed = 1;
      return;
    }
    text->data = grown;
    text->capacity = capacity;
  }
  if (size > 0) memcpy(text->data + text->size, bytes, size);
  text->size += size;
}

void FeedTextAppendString(FeedText* text, const char* string) { FeedTextAppend(text, string, strlen(string)); }

void FeedTextAppendNumber(FeedText* text, unsigned long long value) {
  char digits[24];
  size_t at = sizeof digits;
  do {
    digits[--at] = (char)('0' + (int)(value % 10));
    value /= 10;
  } while (value != 0);
  FeedTextAppend(text, digits + at, sizeof digits - at);
}

void FeedTextAppendHex(FeedText* text, const unsigned char* bytes, size_t size) {
  char pair[3];
  size_t i;
  for (i = 0; i < size; ++i) {
    rungame_hex(bytes + i, 1, pair);
    FeedTextAppend(text, pair, 2);
  }
}

void FeedTextFree(FeedText* text) {
  free(text->data);
  memset(text, 0, sizeof *text);
}

static int ParseDecimal(const char* text, size_t length, size_t maxDigits, unsigned long long* value) {
  size_t i;
  unsigned long long result = 0;
  if (length == 0 || length > maxDigits || (length > 1 && text[0] == '0')) return 0;
  for (i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    result = result * 10 + (unsigned long long)(text[i] - '0');
  }
  *value = result;
  return 1;
}

int FeedParseVersion(const char* text, size_t length, long* x, long* y) {
  const char* dot = (const char*)memchr(text, '.', length);
  unsigned long long major;
  unsigned long long minor;
  if (dot == NULL || !ParseDecimal(text, (size_t)(dot - text), 10, &major) ||
      !ParseDecimal(dot + 1, length - (size_t)(dot - text) - 1, 10, &minor) || major > 2147483647ULL ||
      minor > 2147483647ULL) {
    return 0;
  }
  *x = (long)major;
  *y = (long)minor;
  return 1;
}

void FeedTextAppendVersion(FeedText* text, long x, long y) {
  FeedTextAppendNumber(text, (unsigned long long)x);
  FeedTextAppend(text, ".", 1);
  FeedTextAppendNumber(text, (unsigned long long)y);
}

int FeedCompareVersions(long ax, long ay, long bx, long by) {
  if (ax != bx) return ax < bx ? -1 : 1;
  if (ay != by) return ay < by ? -1 : 1;
  return 0;
}

int FeedParseSize(const char* text, size_t length, unsigned long long* value) {
  return ParseDecimal(text, length, 18, value);
}

int FeedIsChannelName(const char* name, size_t length) {
  size_t i;
  if (length == 0 || length > 32) return 0;
  for (i = 0; i < length; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) return 0;
  }
  return 1;
}
