/* Where a version's chunks lie in the feed's packs, so that a reader can
 * fetch many chunks with one ranged request rather than one request each:
 *
 *   rungame-feed-packs 1
 *   key 3f1c0a9e5b7d2468
 *   version 1.1
 *   chunk <64 hex: the chunk's name> 1.0 0 70211
 *   chunk <64 hex> 1.1 70211 68002
 *   signature <128 hex digits>
 *
 * packs/<X.Y>.pack holds the chunks first published with version X.Y, each
 * exactly its chunk file's bytes, one after the other; a "chunk" line says
 * which pack holds a chunk of this version, at which byte and how many. The
 * list is signed like every feed file, yet a reader still checks each chunk
 * against its name: a pack is only a faster way to the same bytes, and a
 * chunk a pack does not give is fetched from the chunk store. Lines sorted
 * by pack version, then offset; ranges within a pack never overlap; no pack
 * newer than the version. Plain C over memory, no OS calls. */
#ifndef FEED_PACKS_H
#define FEED_PACKS_H

#include <stddef.h>

#include "feed_store.h"
#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FEED_PACKS_HEADER "rungame-feed-packs 1"
#define FEED_MAX_PACKS (32u * 1024u * 1024u)
/* The most bytes a chunk's zlib stream takes in a pack. */
#define FEED_PACKED_CHUNK_MAX FEED_STORED_LIMIT(262144u)

typedef struct FeedPackedChunk {
  unsigned char sha256[32];
  long packX, packY; /* the version whose pack holds it */
  unsigned long long offset, size;
} FeedPackedChunk;

typedef struct FeedPacks {
  long x, y;
  FeedPackedChunk* chunks; /* owned by a read list */
  size_t count;
} FeedPacks;

/* 1 when `size` bytes are a pack list signed with `key`, into `packs`
 * (freed by FeedFreePacks); 0 with the reason otherwise, `packs` empty. */
RUNGAME_MUST_USE int FeedReadPacks(const char* text, size_t size, const unsigned char key[32], FeedPacks* packs,
                                const char** reason);
void FeedFreePacks(FeedPacks* packs);

/* The list signed with `seed`'s key, appended to `out`; its chunks must be
 * in the reader's order. 0 when they are not, or memory ran out. */
RUNGAME_MUST_USE int FeedWritePacks(const FeedPacks* packs, const unsigned char seed[32], FeedText* out);

#ifdef __cplusplus
}
#endif

#endif /* FEED_PACKS_H */
