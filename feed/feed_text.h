/* Text pieces the feed's formats share: a growable output buffer for the
 * writers, and the strict field readers the readers use. Plain C over
 * memory, no OS calls. */
#ifndef FEED_TEXT_H
#define FEED_TEXT_H

#include <stddef.h>

#include "../format/rungame_format.h" /* RUNGAME_MUST_USE */

#ifdef __cplusplus
extern "C" {
#endif

/* Owned output text. `failed` sticks once memory ran out; the text is then
 * incomplete and must not be used. */
typedef struct FeedText {
  char* data;
  size_t size;
  size_t capacity;
  int failed;
} FeedText;

void FeedTextAppend(FeedText* text, const char* bytes, size_t size);
void FeedTextAppendString(FeedText* text, const char* string);
void FeedTextAppendNumber(FeedText* text, unsigned long long value);
void FeedTextAppendHex(FeedText* text, const unsigned char* bytes, size_t size);
void FeedTextFree(FeedText* text);

/* "X.Y", each a decimal number from 0 to 2147483647 without leading zeros
 * (one spelling per version, so equal versions are equal text). 1 when so. */
RUNGAME_MUST_USE int FeedParseVersion(const char* text, size_t length, long* x, long* y);
void FeedTextAppendVersion(FeedText* text, long x, long y);
/* -1, 0 or 1 as (ax, ay) is older, equal or newer than (bx, by). */
int FeedCompareVersions(long ax, long ay, long bx, long by);

/* A decimal number below 10^18 without leading zeros. 1 when so. */
RUNGAME_MUST_USE int FeedParseSize(const char* text, size_t length, unsigned long long* value);

/* A channel name: 1 to 32 of a-z, 0-9, '-' and '_'. */
RUNGAME_MUST_USE int FeedIsChannelName(const char* name, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* FEED_TEXT_H */
