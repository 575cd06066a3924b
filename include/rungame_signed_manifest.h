/* The signed manifest of an update, read the one way the launcher, the
 * game-side helper and the packer all read it.
 *
 * A signed update carries its manifest, signed with the studio's Ed25519
 * key, as the content of its marker file (the packer's `pack --sign` writes
 * it):
 *
 *   rungame-signed-update 1
 *   key 3f1c0a9e5b7d2468
 *   rungame-update-manifest 1
 *   from 1.0
 *   to 1.1
 *   marker update.ready
 *   folder levels
 *   file 2345 9f86d081...0f00a08 levels\level1.dat.zip
 *   signature <128 lower-case hex digits>
 *
 * The signature covers every byte before the "signature" line, which is the
 * last line; every line ends in "\n" alone. "key" names the key it is signed
 * with (the first 8 bytes of the SHA-256 of the public key, in hex). Entries
 * (folders and files: size in bytes, SHA-256 in lower-case hex, the path
 * relative to the update with '\' separators, last) list everything the
 * update holds but the marker itself, each a path the launcher installs as
 * it is (rungame_is_installable_path). A file named like the launcher's
 * temporary files (rungame_is_launcher_temporary_name) is never part of an
 * update: no reader counts one found beside the listed entries.
 *
 * Plain, portable C over bytes in memory; libsodium for the signature. */
#ifndef RUNGAME_SIGNED_MANIFEST_H
#define RUNGAME_SIGNED_MANIFEST_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The largest marker read: about 80,000 entries. */
#define RUNGAME_SIGNED_MAX_MARKER (8u * 1024u * 1024u)
/* The largest version file read, as the launcher's own limit. */
#define RUNGAME_SIGNED_MAX_VERSION_FILE (64u * 1024u)

typedef struct RunGameSignedEntry {
  const char* path; /* within the manifest's own copy of the text */
  int isFolder;
  unsigned long long size;  /* files */
  unsigned char sha256[32]; /* files */
  int seen;                 /* for the caller: set once the entry was found staged */
} RunGameSignedEntry;

typedef struct RunGameSignedManifest {
  char* text;                  /* owned */
  RunGameSignedEntry* entries; /* owned, sorted by path */
  size_t count;
  const char* marker; /* the marker's name, as the manifest's "marker" line gives it */
  long fromX, fromY;  /* the version the update was made from */
  long toX, toY;      /* the version the update brings */
} RunGameSignedManifest;

/* 1 when `hex` is exactly 64 hex digits (either case), written to `key`. */
int RunGameParsePublicKey(const char* hex, unsigned char key[32]);

/* Reads `size` bytes of marker content. 1 when they are a manifest signed by
 * `key`, well formed ("from" and "to" versions, a "marker" name, no path listed twice),
 * into `manifest`, which RunGameCloseSignedManifest then frees; 0 otherwise
 * (unsigned, another key or a "key" line naming another, changed, cut short,
 * damaged, a line ending in "\r\n", a path the launcher would not install,
 * or no memory), with `manifest` left empty. */
int RunGameOpenSignedManifest(const char* text, size_t size, const unsigned char key[32],
                              RunGameSignedManifest* manifest);
void RunGameCloseSignedManifest(RunGameSignedManifest* manifest);

/* 1 when the manifest updates from exactly (x, y) to a later version
 * (major first): an update made from another version would leave that
 * version's files mixed with its own. A folder without a version (hasVersion
 * 0) takes any update that brings a later version than its own "from". */
int RunGameSignedAppliesTo(const RunGameSignedManifest* manifest, int hasVersion, long x, long y);

/* A manifest's version, "X.Y" exactly (base 10, saturating at 32 bits). */
int RunGameParseVersionLine(const char* text, long* x, long* y);

/* The entry listed for `relative` (exact bytes), or NULL. */
RunGameSignedEntry* RunGameFindSignedEntry(const RunGameSignedManifest* manifest, const char* relative);

/* 1 when every entry was marked seen. */
int RunGameAllSignedEntriesSeen(const RunGameSignedManifest* manifest);

/* The version a properties\version.xml text carries, as the launcher reads
 * it with TinyXML: the first top-level element named "version" (any ASCII
 * case) with both an "x" and a "y" attribute, their values with character
 * and entity references decoded, read as strtol reads them in base 10,
 * saturating at 32 bits. 0 for a text TinyXML refuses (not well formed as it
 * sees it, over the launcher's size, nesting or attribute limits), wherever
 * its fault stands. 1 when found. */
int RunGameParseVersionText(const char* text, size_t size, long* x, long* y);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_SIGNED_MANIFEST_H */
