/* The signed index of one channel: every version published to it, oldest
 * first, each with the size and SHA-256 of its manifest, so the index pins
 * the exact manifest a reader fetches next:
 *
 *   rungame-feed-index 1
 *   key 3f1c0a9e5b7d2468
 *   channel stable
 *   version 1.0 5121 <64 hex digits: the manifest's SHA-256>
 *   version 1.1 5388 <64 hex digits>
 *   signature <128 hex digits>
 *
 * (The envelope: feed_envelope.h.) At least one version; versions strictly
 * newer line by line. Plain C over memory, no OS calls. */
#ifndef FEED_INDEX_H
#define FEED_INDEX_H

#include <stddef.h>

#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FEED_INDEX_HEADER "rungame-feed-index 1"
#define FEED_MAX_INDEX (1024u * 1024u)

typedef struct FeedVersion {
  long x, y;
  unsigned long long manifestSize;
  unsigned char manifestSha256[32];
} FeedVersion;

typedef struct FeedIndex {
  char channel[33];
  FeedVersion* versions; /* owned by a read index */
  size_t count;
} FeedIndex;

/* 1 when `size` bytes are an index signed with `key`, into `index` (freed by
 * FeedFreeIndex); 0 with the reason otherwise, `index` left empty. */
RUNGAME_MUST_USE int FeedReadIndex(const char* text, size_t size, const unsigned char key[32], FeedIndex* index, const char** reason);
void FeedFreeIndex(FeedIndex* index);

/* The index signed with `seed`'s key, appended to `out`. 0 when the index is
 * not one the reader takes (a bad channel name, no version, versions out of
 * order) or memory ran out. */
RUNGAME_MUST_USE int FeedWriteIndex(const FeedIndex* index, const unsigned char seed[32], FeedText* out);

#ifdef __cplusplus
}
#endif

#endif /* FEED_INDEX_H */
