/* The update format, read and written one way by the launcher, the packer
 * and the game-side helper: the manifest, the signed envelope around it, the
 * check of staged entries against it, and the version file with its
 * comparison. Plain C over bytes in memory, no system calls; libsodium for
 * digests and signatures.
 *
 * A manifest, "\n" (or "\r\n") after every line, paths last:
 *
 *   rungame-update-manifest 1
 *   from 1.0
 *   to 1.1
 *   marker update.ready
 *   folder levels
 *   file 2345 9f86d081...0f00a08 levels\level1.dat.zip
 *
 *   remove 812 2c26b46b...68ffc68 levels\old.dat
 *   remove-folder levels\old
 *
 * "from", "to" and "marker" once each; entries (size in bytes, SHA-256 in
 * lower-case hex, the path relative to the update with '\' separators) are
 * paths the launcher installs as they are (rungame_is_installable_path),
 * none twice in any letter case, each below a folder listed before it.
 * "remove" names a file of the "from" version that the "to" version lacks,
 * with its size and SHA-256 in the "from" version: the launcher removes it
 * only while it still holds those bytes. "remove-folder" names such a
 * folder, removed once empty. A removed path is named once and is no entry,
 * in any letter case. A reader older than removals refuses such a manifest
 * as a whole (an unknown line), so the packer writes the lines only for an
 * update that removes something.
 *
 * The signed envelope, the content of a signed update's marker:
 *
 *   rungame-signed-update 1
 *   key 3f1c0a9e5b7d2468
 *   <the manifest, without an entry for the marker>
 *   signature <128 lower-case hex digits>
 *
 * The signature covers every byte before its line, which is the last; every
 * line ends in "\n" alone. "key" names the key (the first 8 bytes of the
 * SHA-256 of the public key, in hex). */
#ifndef RUNGAME_FORMAT_H
#define RUNGAME_FORMAT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A result a caller must look at. */
#if defined(__GNUC__)
#define RUNGAME_MUST_USE __attribute__((warn_unused_result))
#else
#define RUNGAME_MUST_USE
#endif

#define RUNGAME_MANIFEST_HEADER "rungame-update-manifest 1"
#define RUNGAME_SIGNED_HEADER "rungame-signed-update 1"
#define RUNGAME_SIGNATURE_KEYWORD "signature "
/* A release's signed record of its files, relative to its folder: the signed
   manifest of its version onto itself, marker RUNGAME_RECORD_NAME. */
#define RUNGAME_RECORD_NAME "release.signed"
#define RUNGAME_RECORD_PATH "properties\\" RUNGAME_RECORD_NAME

/* The largest marker read: about 80,000 entries. */
#define RUNGAME_SIGNED_MAX_MARKER (8u * 1024u * 1024u)
/* The largest manifest read: millions of files. */
#define RUNGAME_MAX_MANIFEST (64u * 1024u * 1024u)
/* The largest version file read, as the launcher's own limit. */
#define RUNGAME_MAX_VERSION_FILE (64u * 1024u)

typedef struct RunGameManifestEntry {
  const char* path; /* within the manifest's own copy of the text */
  int isFolder;
  unsigned long long size;  /* files */
  unsigned char sha256[32]; /* files */
  size_t line;              /* where it is listed, from 1 */
  int seen;                 /* the entry check's own mark */
} RunGameManifestEntry;

typedef struct RunGameManifest {
  char* text;                    /* owned */
  RunGameManifestEntry* entries; /* owned, in ASCII-folded path order */
  size_t count;
  const char* marker; /* the marker's name */
  long fromX, fromY;  /* the version the update was made from */
  long toX, toY;      /* the version the update brings */
  RunGameManifestEntry* removals; /* owned, in ASCII-folded path order */
  size_t removalCount;
} RunGameManifest;

/* Why a text is no manifest; RUNGAME_MANIFEST_OK when it is one. */
enum RunGameManifestProblem {
  RUNGAME_MANIFEST_OK = 0,
  RUNGAME_MANIFEST_NO_HEADER,      /* empty, or not "rungame-update-manifest 1" first */
  RUNGAME_MANIFEST_NUL,            /* a NUL byte inside */
  RUNGAME_MANIFEST_UNKNOWN_LINE,   /* a line of no known kind */
  RUNGAME_MANIFEST_TWICE,          /* "from", "to" or "marker" a second time */
  RUNGAME_MANIFEST_BAD_VERSION,    /* "from" or "to" not X.Y */
  RUNGAME_MANIFEST_BAD_MARKER,     /* a marker that is no plain file name */
  RUNGAME_MANIFEST_BAD_SIZE,       /* a file without a valid size */
  RUNGAME_MANIFEST_BAD_DIGEST,     /* a file without a valid SHA-256 */
  RUNGAME_MANIFEST_BAD_PATH,       /* a path the launcher would not install */
  RUNGAME_MANIFEST_LISTED_TWICE,   /* a path listed twice, in any letter case */
  RUNGAME_MANIFEST_NO_FOLDER,      /* a path whose folder is not listed before it */
  RUNGAME_MANIFEST_NO_VERSION,     /* no "from" or no "to" line */
  RUNGAME_MANIFEST_NO_MARKER,      /* no "marker" line */
  RUNGAME_MANIFEST_REMOVED_ENTRY,  /* a path both removed and listed, or removed twice, in any letter case */
  RUNGAME_MANIFEST_NO_MEMORY
};

/* Reads `size` bytes of manifest text into `manifest` (freed with
 * rungame_free_manifest, whatever the result). Returns a
 * RunGameManifestProblem; `line` (may be NULL) gets the line it stands on
 * (0 for the whole text). */
RUNGAME_MUST_USE int rungame_read_manifest(const char* text, size_t size, RunGameManifest* manifest, size_t* line);
void rungame_free_manifest(RunGameManifest* manifest);

/* The entry listed for `path` (exact bytes), or NULL. */
RunGameManifestEntry* rungame_find_entry(const RunGameManifest* manifest, const char* path);

/* One line of a manifest to write: a file's digest in lower-case hex. */
typedef struct RunGameManifestLine {
  const char* path;
  int isFolder;
  unsigned long long size;
  const char* sha256Hex;
} RunGameManifestLine;

/* The manifest's text, NUL-terminated, in a buffer the caller frees; NULL
 * without memory. `from` and `to` are "X.Y". */
RUNGAME_MUST_USE char* rungame_write_manifest(const char* from, const char* to, const char* marker,
                                              const RunGameManifestLine* lines, size_t count);

/* The same with `removedCount` removals: files of `from` with their size and
 * digest there, and folders. */
RUNGAME_MUST_USE char* rungame_write_manifest_removing(const char* from, const char* to, const char* marker,
                                                       const RunGameManifestLine* lines, size_t count,
                                                       const RunGameManifestLine* removed, size_t removedCount);

/* ---- Hex ------------------------------------------------------------------ */

/* `size` bytes as 2 * size lower-case hex digits and a NUL, into `out`. */
void rungame_hex(const unsigned char* bytes, size_t size, char* out);
/* Exactly 2 * size lower-case hex digits, into `bytes`. 1 when so. */
RUNGAME_MUST_USE int rungame_parse_hex(const char* text, size_t length, unsigned char* bytes, size_t size);

/* ---- The signed envelope ------------------------------------------------ */

/* 1 when `hex` is exactly 64 hex digits (either case), written to `key`. */
RUNGAME_MUST_USE int rungame_parse_public_key(const char* hex, unsigned char key[32]);

/* The key's id as a "key" line names it: the first 8 bytes of the SHA-256
 * of the public key, 16 lower-case hex digits and a NUL. */
void rungame_key_id(const unsigned char publicKey[32], char id[17]);

/* Opens `size` bytes (at most `limit`) of a text signed with `key` under
 * the first line `header`:
 *
 *   <header>
 *   key <the key's id>
 *   <body lines>
 *   signature <128 lower-case hex digits>
 *
 * Ed25519 over every byte before the "signature" line, the last; every line
 * ends in "\n" alone. 1 with the body's bounds (after the key line, before
 * the signature line); 0 with the reason, in words, otherwise. The body
 * holds no NUL and no "\r". Verifying needs no sodium_init: it takes
 * neither random bytes nor a choice of implementation. */
RUNGAME_MUST_USE int rungame_open_signed(const char* text, size_t size, size_t limit, const char* header,
                                         const unsigned char key[32], size_t* bodyStart, size_t* bodyEnd,
                                         const char** reason);

/* Reads `size` bytes of marker content into `manifest`. 1 when they are a
 * manifest signed by `key` naming that key; 0 otherwise (unsigned, another
 * key or a "key" line naming another, changed, cut short, damaged, a line
 * ending in "\r\n", no manifest, or no memory), with `manifest` left empty. */
RUNGAME_MUST_USE int rungame_open_signed_manifest(const char* text, size_t size, const unsigned char key[32],
                                                  RunGameManifest* manifest);

/* ---- The entry check ---------------------------------------------------- */

/* One staged entry as its reader found it. A file's digest counts only when
 * `readable`; a caller may leave a file unread whose listed entry is missing
 * or of another size, the answer being the same. */
typedef struct RunGameStagedEntry {
  const char* path; /* relative to the update, '\' separators */
  int isFolder;
  unsigned long long size;
  unsigned char sha256[32];
  int readable;
} RunGameStagedEntry;

enum RunGameEntryProblem {
  RUNGAME_ENTRY_NOT_LISTED = 1, /* staged, not in the manifest */
  RUNGAME_ENTRY_WRONG_NAME,     /* listed in another letter case */
  RUNGAME_ENTRY_WRONG_KIND,     /* a file listed as a folder, or the reverse */
  RUNGAME_ENTRY_UNREADABLE,
  RUNGAME_ENTRY_SIZE_DIFFERS,
  RUNGAME_ENTRY_DIGEST_DIFFERS,
  RUNGAME_ENTRY_STAGED_TWICE,
  RUNGAME_ENTRY_MISSING,        /* listed, not staged */
};

/* Told of every problem, in the staged entries' order, then the manifest's
 * missing entries in path order. `listed` is the manifest's entry it
 * concerns, NULL for one not listed. */
typedef void (*RunGameEntryReport)(void* context, int problem, const char* stagedPath,
                                   const RunGameManifestEntry* listed);

/* The staged entries against the manifest: nothing extra, nothing missing,
 * kinds, sizes and SHA-256 equal, names in their exact bytes. Files named
 * like the launcher's temporary files are never part of an update; a
 * top-level entry named `marker` (any ASCII case; NULL: none) holds the
 * manifest itself and is not checked. Returns the number of problems,
 * each told to `report` (may be NULL). */
RUNGAME_MUST_USE size_t rungame_check_entries(RunGameManifest* manifest, const RunGameStagedEntry* staged,
                                              size_t count, const char* marker, RunGameEntryReport report,
                                              void* context);

/* The same one entry at a time, for a caller that walks a folder: begin,
 * then each staged entry (0 or a RunGameEntryProblem; `listed` gets the
 * manifest's entry it concerns), then the entries never staged, in path
 * order, each after the one before (NULL: from the first). */
void rungame_begin_check(RunGameManifest* manifest);
RUNGAME_MUST_USE int rungame_check_entry(RunGameManifest* manifest, const RunGameStagedEntry* staged,
                                         const char* marker, const RunGameManifestEntry** listed);
const RunGameManifestEntry* rungame_next_missing(const RunGameManifest* manifest, const RunGameManifestEntry* after);

/* ---- Versions ----------------------------------------------------------- */

/* "X.Y" exactly, each base 10 with an optional '-', saturating at 32 bits. */
RUNGAME_MUST_USE int rungame_parse_version_line(const char* text, long* x, long* y);

/* 1 when (x, y) is later than (thanX, thanY): major first. */
int rungame_version_is_later(long x, long y, long thanX, long thanY);

/* 1 when the manifest updates from exactly (x, y) to a later version; a
 * folder without a version (hasVersion 0) takes any update that brings a
 * later version than its own "from". */
int rungame_manifest_applies_to(const RunGameManifest* manifest, int hasVersion, long x, long y);

/* 1 when the manifest is the signed record of exactly version (x, y): the
 * marker of a repair, which stages some of that version's own files again
 * (any subset of what it lists, and the record itself, byte for byte) into
 * a data folder of that version. It never changes the version, so a replay
 * restores the studio's files of the version the folder already holds. */
int rungame_manifest_repairs(const RunGameManifest* manifest, int hasVersion, long x, long y);

/* The version a properties\version.xml text carries, as the launcher reads
 * it with TinyXML: the first top-level element named "version" (any ASCII
 * case) with both an "x" and a "y" attribute, their values with character
 * and entity references decoded, read as strtol reads them in base 10,
 * saturating at 32 bits. 0 for a text TinyXML refuses (not well formed as it
 * sees it, over the launcher's size, nesting or attribute limits), wherever
 * its fault stands. 1 when found. */
RUNGAME_MUST_USE int rungame_read_version_text(const char* text, size_t size, long* x, long* y);

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_FORMAT_H */
