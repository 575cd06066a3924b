/* See feed_chunker.h. */
#include "feed_chunker.h"

/* The hash's top bits depend on the last 64 bytes (one shift a byte). 18
 * top bits below the average cut one position in 4 x 64 KiB; 14 above it,
 * one in 16 KiB: FastCDC's normalisation level 2 around 2^16. */
#define FEED_MASK_HARD 0xFFFFC00000000000ULL
#define FEED_MASK_EASY 0xFFFC000000000000ULL

void FeedChunkerInit(FeedChunker* chunker) {
  /* splitmix64 from a fixed seed: well-mixed, reproducible values. */
  unsigned long long state = 0x6665656463686e6bULL;
  int i;
  for (i = 0; i < 256; ++i) {
    unsigned long long z;
    state += 0x9E3779B97F4A7C15ULL;
    z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    chunker->gear[i] = z ^ (z >> 31);
  }
}

size_t FeedChunkLength(const FeedChunker* chunker, const unsigned char* data, size_t size) {
  unsigned long long hash = 0;
  size_t limit = size < FEED_CHUNK_MAX ? size : FEED_CHUNK_MAX;
  size_t normal = limit < FEED_CHUNK_AVERAGE ? limit : FEED_CHUNK_AVERAGE;
  size_t i = FEED_CHUNK_MIN;
  if (size <= FEED_CHUNK_MIN) return size;
  for (; i < normal; ++i) {
    hash = (hash << 1) + chunker->gear[data[i]];
    if ((hash & FEED_MASK_HARD) == 0) return i + 1;
  }
  for (; i < limit; ++i) {
    hash = (hash << 1) + chunker->gear[data[i]];
    if ((hash & FEED_MASK_EASY) == 0) return i + 1;
  }
  return limit;
}
