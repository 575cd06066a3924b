/* Where things lie in a feed folder, as relative URLs ('/'-separated), and
 * the check of a stored chunk:
 *
 *   channels/<channel>.index      signed index (feed_index.h)
 *   versions/<X.Y>.manifest       signed manifest (feed_manifest.h)
 *   versions/<X.Y>.from-<U.V>.marker  signed update marker, U.V to X.Y
 *   versions/<X.Y>.packs          signed list of where its chunks lie in
 *                                 the packs (feed_packs.h)
 *   packs/<X.Y>.pack              the chunks first published with X.Y
 *   chunks/<2 hex>/<64 hex>       a chunk, zlib-compressed, named by the
 *                                 SHA-256 of its uncompressed bytes
 *
 * Chunks fan out over 256 folders by their first byte so no folder grows
 * past what a web server or object store lists comfortably. Plain C over
 * memory (zlib and libsodium), no OS calls. */
#ifndef FEED_STORE_H
#define FEED_STORE_H

#include <stddef.h>

#include "feed_text.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FEED_CHUNK_PATH_BYTES (7 + 3 + 64 + 1)
#define FEED_VERSION_PATH_BYTES (9 + 23 + 9 + 1)
#define FEED_INDEX_PATH_BYTES (9 + 32 + 6 + 1)
#define FEED_UPGRADE_PATH_BYTES (9 + 23 + 6 + 23 + 7 + 1)
#define FEED_PACKS_PATH_BYTES (9 + 23 + 6 + 1)
#define FEED_PACK_PATH_BYTES (6 + 23 + 5 + 1)

void FeedChunkPath(const unsigned char sha256[32], char path[FEED_CHUNK_PATH_BYTES]);
void FeedManifestPath(long x, long y, char path[FEED_VERSION_PATH_BYTES]);
/* versions/<to>.from-<from>.marker: the signed update marker of the step
 * from one published version to a later one (the launcher's own signed
 * update manifest, listing the files that step changes), which a launcher
 * built with the studio's key requires as the staged update's marker. */
void FeedUpgradeMarkerPath(long toX, long toY, long fromX, long fromY, char path[FEED_UPGRADE_PATH_BYTES]);
void FeedPacksPath(long x, long y, char path[FEED_PACKS_PATH_BYTES]);
void FeedPackPath(long x, long y, char path[FEED_PACK_PATH_BYTES]);
/* 0 for a name that is no channel name. */
RUNGAME_MUST_USE int FeedIndexPath(const char* channel, char path[FEED_INDEX_PATH_BYTES]);

/* The most bytes a stored chunk of `size` bytes takes: a zlib stream is
 * never much larger than what it holds. */
#define FEED_STORED_LIMIT(size) ((size) + (size) / 8 + 1024)

/* Inflates a stored chunk into `out` (at least `size` bytes) and checks it:
 * 1 when it is one zlib stream of exactly `size` bytes hashing to `sha256`;
 * 0 with the reason otherwise. Never writes past `size` bytes. */
RUNGAME_MUST_USE int FeedOpenChunk(const unsigned char* stored, size_t storedSize, const unsigned char sha256[32], size_t size,
                  unsigned char* out, const char** reason);

#ifdef __cplusplus
}
#endif

#endif /* FEED_STORE_H */
