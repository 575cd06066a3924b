/* See feed_store.h. */
#include "feed_store.h"

#include <string.h>
#include <zlib.h>

#include "../hash/sha256.h"
#include "feed_text.h"

static void CopyOut(FeedText* text, char* path, size_t capacity) {
  const size_t size = text->failed || text->size >= capacity ? 0 : text->size;
  if (size > 0) memcpy(path, text->data, size);
  path[size] = '\0';
  FeedTextFree(text);
}

void FeedChunkPath(const unsigned char sha256[32], char path[FEED_CHUNK_PATH_BYTES]) {
  FeedText text = {NULL, 0, 0, 0};
  FeedTextAppendString(&text, "chunks/");
  FeedTextAppendHex(&text, sha256, 1);
  FeedTextAppend(&text, "/", 1);
  FeedTextAppendHex(&text, sha256, 32);
  CopyOut(&text, path, FEED_CHUNK_PATH_BYTES);
}


/* "<folder><X.Y><suffix>" */
static void VersionPath(const char* folder, long x, long y, const char* suffix, char* path, size_t capacity) {
  FeedText text = {NULL, 0, 0, 0};
  FeedTextAppendString(&text, folder);
  FeedTextAppendVersion(&text, x, y);
  FeedTextAppendString(&text, suffix);
  CopyOut(&text, path, capacity);
}

void FeedManifestPath(long x, long y, char path[FEED_VERSION_PATH_BYTES]) {
  VersionPath("versions/", x, y, ".manifest", path, FEED_VERSION_PATH_BYTES);
}

void FeedPacksPath(long x, long y, char path[FEED_PACKS_PATH_BYTES]) {
  VersionPath("versions/", x, y, ".packs", path, FEED_PACKS_PATH_BYTES);
}

void FeedPackPath(long x, long y, char path[FEED_PACK_PATH_BYTES]) {
  VersionPath("packs/", x, y, ".pack", path, FEED_PACK_PATH_BYTES);
}

void FeedUpgradeMarkerPath(long toX, long toY, long fromX, long fromY, char path[FEED_UPGRADE_PATH_BYTES]) {
  FeedText text = {NULL, 0, 0, 0};
  FeedTextAppendString(&text, "versions/");
  FeedTextAppendVersion(&text, toX, toY);
  FeedTextAppendString(&text, ".from-");
  FeedTextAppendVersion(&text, fromX, fromY);
  FeedTextAppendString(&text, ".marker");
  CopyOut(&text, path, FEED_UPGRADE_PATH_BYTES);
}

int FeedIndexPath(const char* channel, char path[FEED_INDEX_PATH_BYTES]) {
  FeedText text = {NULL, 0, 0, 0};
  if (!FeedIsChannelName(channel, strlen(channel))) return 0;
  FeedTextAppendString(&text, "channels/");
  FeedTextAppendString(&text, channel);
  FeedTextAppendString(&text, ".index");
  CopyOut(&text, path, FEED_INDEX_PATH_BYTES);
  return 1;
}

static int Fail(const char** reason, const char* why) {
  *reason = why;
  return 0;
}

int FeedOpenChunk(const unsigned char* stored, size_t storedSize, const unsigned char sha256[32], size_t size,
                  unsigned char* out, const char** reason) {
  z_stream stream;
  unsigned char spare;
  unsigned char digest[32];
  int status;
  int longer = 0;
  memset(&stream, 0, sizeof stream);
  if (storedSize > 0xFFFFFFFFu || size > 0xFFFFFFFFu) return Fail(reason, "larger than any chunk");
  if (inflateInit(&stream) != Z_OK) return Fail(reason, "zlib cannot start");
  stream.next_in = (unsigned char*)stored;
  stream.avail_in = (uInt)storedSize;
  stream.next_out = out;
  stream.avail_out = (uInt)size;
  status = inflate(&stream, Z_FINISH);
  if ((status == Z_BUF_ERROR || status == Z_OK) && stream.avail_out == 0) {
    /* Full: room for one byte more tells a longer stream from the exact end. */
    stream.next_out = &spare;
    stream.avail_out = 1;
    status = inflate(&stream, Z_FINISH);
    longer = stream.avail_out == 0;
  }
  inflateEnd(&stream);
  if (longer) return Fail(reason, "its bytes are longer than listed");
  if (status != Z_STREAM_END) return Fail(reason, "not one whole zlib stream (damaged or cut short)");
  if (stream.total_out != size) return Fail(reason, "its bytes are shorter than listed");
  if (stream.avail_in != 0) return Fail(reason, "bytes follow its zlib stream");
  FastSha256Digest(out, size, digest);
  if (memcmp(digest, sha256, sizeof digest) != 0) return Fail(reason, "its bytes do not hash to its name");
  return 1;
}
