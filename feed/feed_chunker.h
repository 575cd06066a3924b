/* Content-defined chunking: where a file is cut into the chunks the feed
 * stores, so that an insertion or a change moves only the cuts near it and
 * every other chunk keeps its bytes, its hash and its place in the store.
 *
 * A gear hash (a rolling hash over the last 64 bytes, one shift and one
 * table look-up a byte) with FastCDC's normalised cut: no cut before
 * FEED_CHUNK_MIN bytes, a harder condition before FEED_CHUNK_AVERAGE and an
 * easier one after, a forced cut at FEED_CHUNK_MAX. Why these:
 *  - a gear hash is the cheapest rolling hash that is content-defined (a
 *    Rabin fingerprint or a Buzhash needs a window of bytes to drop and two
 *    look-ups a byte), so chunking runs near the speed of reading;
 *  - the normalised cut keeps sizes near the average (fewer tiny chunks,
 *    fewer forced cuts, which are not content-defined);
 *  - 64 KiB targeted (about 75 KiB measured): a 1 % change in a few
 *    places costs a few such chunks each, while a 170 MB release stays near
 *    2,300 chunks (manifest lines, files on the server, requests), and each
 *    chunk is large enough for zlib to compress well on its own; 16 KiB to
 *    256 KiB around it.
 * The table is derived from a fixed seed: cuts never depend on the machine.
 * Plain C over memory, no OS calls. */
#ifndef FEED_CHUNKER_H
#define FEED_CHUNKER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FEED_CHUNK_MIN (16u * 1024u)
#define FEED_CHUNK_AVERAGE (64u * 1024u)
#define FEED_CHUNK_MAX (256u * 1024u)

typedef struct FeedChunker {
  unsigned long long gear[256];
} FeedChunker;

void FeedChunkerInit(FeedChunker* chunker);

/* The length of the chunk that starts at `data`: from 1 to `size`. Pass at
 * least FEED_CHUNK_MAX bytes unless they are the rest of the file; the cut
 * depends on those bytes alone, so any buffering gives the same cuts. */
size_t FeedChunkLength(const FeedChunker* chunker, const unsigned char* data, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* FEED_CHUNKER_H */
