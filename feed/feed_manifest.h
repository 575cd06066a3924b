/* The signed manifest of one version: every folder and file of the release,
 * each file as its whole size and SHA-256 and then its chunks in order (the
 * chunker's cuts, feed_chunker.h), each chunk's size and the SHA-256 of its
 * bytes, which is also its name in the chunk store:
 *
 *   rungame-feed-manifest 1
 *   key 3f1c0a9e5b7d2468
 *   version 1.1
 *   chunking gear 16384 65536 262144
 *   folder levels
 *   file 300000 <sha256 of the file> 2 levels\level1.dat
 *   chunk 180113 <sha256 of the chunk>
 *   chunk 119887 <sha256>
 *   signature <128 hex digits>
 *
 * (The envelope: feed_envelope.h.) Paths are release-relative with '\'
 * separators, each one the launcher installs as it is, sorted by their
 * bytes, each once, each folder listed before what it holds. A file's
 * chunks follow its line, as many as it says, their sizes adding up to the
 * file's, every one but the last at least FEED_CHUNK_MIN bytes, none over
 * FEED_CHUNK_MAX. The "chunking" line names the cutting rule; a reader
 * refuses another. Plain C over memory, no OS calls. */
#ifndef FEED_MANIFEST_H
#define FEED_MANIFEST_H

#include <stddef.h>

#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FEED_MANIFEST_HEADER "rungame-feed-manifest 1"
#define FEED_CHUNKING_LINE "chunking gear 16384 65536 262144"
/* About 300,000 chunks: 20 GB of game. */
#define FEED_MAX_MANIFEST (32u * 1024u * 1024u)

typedef struct FeedChunk {
  unsigned long long size;
  unsigned char sha256[32];
} FeedChunk;

typedef struct FeedEntry {
  const char* path;
  int isFolder;
  unsigned long long size;  /* files */
  unsigned char sha256[32]; /* files */
  size_t firstChunk;        /* files: into the manifest's chunks */
  size_t chunkCount;
} FeedEntry;

typedef struct FeedManifest {
  char* text; /* owned by a read manifest: the paths point into it */
  long x, y;
  FeedEntry* entries; /* owned by a read manifest */
  size_t count;
  FeedChunk* chunks; /* owned by a read manifest */
  size_t chunkCount;
} FeedManifest;

/* 1 when `size` bytes are a manifest signed with `key`, into `manifest`
 * (freed by FeedFreeManifest); 0 with the reason otherwise, `manifest` left
 * empty. */
RUNGAME_MUST_USE int FeedReadManifest(const char* text, size_t size, const unsigned char key[32], FeedManifest* manifest,
                     const char** reason);
void FeedFreeManifest(FeedManifest* manifest);

/* The manifest signed with `seed`'s key, appended to `out`. 0 when it is not
 * one the reader takes, with the reason, or memory ran out. */
RUNGAME_MUST_USE int FeedWriteManifest(const FeedManifest* manifest, const unsigned char seed[32], FeedText* out,
                      const char** reason);

#ifdef __cplusplus
}
#endif

#endif /* FEED_MANIFEST_H */
