/* The names and limits the launcher, the packer and the game-side helper
 * share: one copy, compiled into all three. Plain C without windows.h, every
 * function static inline, so a C game includes it with the helper and C++
 * code with rules/rules.h.
 *
 * Names are byte strings as Windows' ANSI functions take them. Letter case
 * is compared for ASCII letters only, the same under every user locale (the
 * launcher never uses the locale's folding). */
#ifndef RUNGAME_RULES_H
#define RUNGAME_RULES_H

#include <stddef.h>
#include <string.h>

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define RUNGAME_RULES_INLINE static inline
#elif defined(_MSC_VER) || defined(__GNUC__)
#define RUNGAME_RULES_INLINE static __inline
#else
#define RUNGAME_RULES_INLINE static
#endif

/* Windows' limit for a path, terminator included, and for one name. */
#define RUNGAME_PATH_LIMIT 260
#define RUNGAME_NAME_LIMIT 255

/* The version file, relative to the folder whose version it names. */
#define RUNGAME_VERSION_FILE "properties\\version.xml"
/* The staging folder of an update, at the top of the data folder. */
#define RUNGAME_STAGING_FOLDER "game"
/* The update journal's entries, at the top of the data folder. */
#define RUNGAME_SET_ASIDE_FOLDER "~upd"
#define RUNGAME_JOURNAL_FILE "~upd.journal"
#define RUNGAME_JOURNAL_TEMPORARY_FILE "~upd.journal.tmp"
/* The environment variables the launcher sets for the game: what it did
   with the staged update, and the folder it installs updates into (also
   while the game runs from the install folder). */
#define RUNGAME_UPDATE_STATUS_VARIABLE "RUNGAME_UPDATE_STATUS"
#define RUNGAME_DATA_FOLDER_VARIABLE "RUNGAME_DATA_FOLDER"
/* The first-start copy's private staging folder, at the top of the data folder. */
#define RUNGAME_COPY_STAGING_FOLDER "~new"
/* Suffixes of the launcher's temporary files: unpacking a packed file, copying one. */
#define RUNGAME_UNPACKING_SUFFIX ".unpacking~launcher"
#define RUNGAME_COPYING_SUFFIX ".copying~launcher"
/* The extension of a packed file, exactly, in lower case. */
#define RUNGAME_PACKED_EXTENSION ".zip"

/* Names the launcher owns at the top of the data folder (never installed by
 * an update, never shipped in a release), and its temporary files' suffixes. */
#define RUNGAME_RESERVED_TOP_LEVEL_NAMES                                                                     \
  { RUNGAME_STAGING_FOLDER, RUNGAME_SET_ASIDE_FOLDER, RUNGAME_JOURNAL_FILE, RUNGAME_JOURNAL_TEMPORARY_FILE, \
    RUNGAME_COPY_STAGING_FOLDER }
#define RUNGAME_TEMPORARY_SUFFIXES { RUNGAME_UNPACKING_SUFFIX, RUNGAME_COPYING_SUFFIX }

RUNGAME_RULES_INLINE char rungame_ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

/* Whether `a` (of `length` bytes) and the string `b` are equal but for the
 * case of ASCII letters. */
RUNGAME_RULES_INLINE int rungame_equals_ascii_case_n(const char* a, size_t length, const char* b) {
  size_t i;
  for (i = 0; i < length; ++i) {
    if (b[i] == '\0' || rungame_ascii_lower(a[i]) != rungame_ascii_lower(b[i])) return 0;
  }
  return b[length] == '\0';
}

RUNGAME_RULES_INLINE int rungame_equals_ascii_case(const char* a, const char* b) {
  return rungame_equals_ascii_case_n(a, strlen(a), b);
}

RUNGAME_RULES_INLINE int rungame_ends_with_ascii_case(const char* name, const char* suffix) {
  size_t length = strlen(name);
  size_t suffixLength = strlen(suffix);
  return length >= suffixLength && rungame_equals_ascii_case(name + length - suffixLength, suffix);
}

/* A device name: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9,
 * in any letter case, alone or before an extension and after trailing
 * spaces ("nul.txt", "NUL .txt" and "com0" all name a device). */
RUNGAME_RULES_INLINE int rungame_is_reserved_device_name(const char* name) {
  static const char* const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  size_t stem = 0;
  size_t i;
  while (name[stem] != '\0' && name[stem] != '.') ++stem;
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  for (i = 0; i < sizeof devices / sizeof devices[0]; ++i) {
    if (rungame_equals_ascii_case_n(name, stem, devices[i])) return 1;
  }
  return stem == 4 && (rungame_equals_ascii_case_n(name, 3, "com") || rungame_equals_ascii_case_n(name, 3, "lpt")) &&
         name[3] >= '0' && name[3] <= '9';
}

/* Why Windows cannot hold a file or folder of this name as it is, or NULL
 * when it can: empty, "." or "..", a leading "..", a control or forbidden
 * character, a trailing dot or space, a device name, over 255 bytes. */
RUNGAME_RULES_INLINE const char* rungame_windows_name_problem(const char* name) {
  size_t length = strlen(name);
  const unsigned char* c;
  if (length == 0) return "an empty name";
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return "the name of a folder itself or its parent";
  if (length > RUNGAME_NAME_LIMIT) return "a name over 255 characters";
  for (c = (const unsigned char*)name; *c; ++c) {
    if (*c < 32 || *c == 127) return "a control character in the name";
    if (strchr("<>:\"/\\|?*", *c)) return "a character Windows forbids in names (<>:\"/\\|?*)";
  }
  if (name[length - 1] == '.' || name[length - 1] == ' ') return "a name ending in a dot or a space (Windows drops it)";
  if (name[0] == '.' && name[1] == '.') return "a name beginning with \"..\" (path functions take it for the parent folder)";
  if (rungame_is_reserved_device_name(name)) return "a device name (CON, NUL, COM1, LPT1, ..., with any extension)";
  return NULL;
}

RUNGAME_RULES_INLINE int rungame_is_plain_name(const char* name) { return rungame_windows_name_problem(name) == NULL; }

RUNGAME_RULES_INLINE int rungame_is_ascii_name(const char* name) {
  const unsigned char* c;
  for (c = (const unsigned char*)name; *c; ++c) {
    if (*c >= 128) return 0;
  }
  return 1;
}

/* A file the launcher unpacks: the extension, from the last dot, is exactly
 * ".zip" in lower case, after at least one other byte. */
RUNGAME_RULES_INLINE int rungame_is_packed_name(const char* name) {
  size_t length = strlen(name);
  return length > 4 && strcmp(name + length - 4, RUNGAME_PACKED_EXTENSION) == 0;
}

/* ".ZIP", ".Zip", ...: looks packed to a person, never unpacked by the launcher. */
RUNGAME_RULES_INLINE int rungame_is_other_case_zip_name(const char* name) {
  return strlen(name) > 4 && rungame_ends_with_ascii_case(name, RUNGAME_PACKED_EXTENSION) && !rungame_is_packed_name(name);
}

/* A name of the launcher's temporary files (the suffix alone included), in
 * any letter case: removed from a staging folder, never installed. */
RUNGAME_RULES_INLINE int rungame_is_launcher_temporary_name(const char* name) {
  static const char* const suffixes[] = RUNGAME_TEMPORARY_SUFFIXES;
  size_t i;
  for (i = 0; i < sizeof suffixes / sizeof suffixes[0]; ++i) {
    if (rungame_ends_with_ascii_case(name, suffixes[i])) return 1;
  }
  return 0;
}

/* One of the launcher's own names at the top of the data folder, any case. */
RUNGAME_RULES_INLINE int rungame_is_reserved_top_level_name(const char* name) {
  static const char* const names[] = RUNGAME_RESERVED_TOP_LEVEL_NAMES;
  size_t i;
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if (rungame_equals_ascii_case(name, names[i])) return 1;
  }
  return 0;
}

/* The update marker (update_semaphore) is a plain file name at the staging
 * folder's top level: a name Windows holds as it is, in ASCII, that the
 * launcher neither unpacks nor removes nor owns. Any other value never
 * counts as present (an empty value is the staging folder itself). */
RUNGAME_RULES_INLINE int rungame_is_plain_marker_name(const char* name) {
  return rungame_is_plain_name(name) && rungame_is_ascii_name(name) && !rungame_is_packed_name(name) &&
         !rungame_is_launcher_temporary_name(name) && !rungame_is_reserved_top_level_name(name);
}

/* The limits past which an XML file (game.xml, properties\version.xml)
 * reads as malformed: TinyXML recurses once per nested element and checks
 * every new attribute against all earlier ones of its element. */
#define RUNGAME_XML_MAX_DEPTH 64
#define RUNGAME_XML_MAX_ATTRIBUTES 256 /* per element */

/* Where the byte `c` first stands in `text` from `from` on; `length` when nowhere. */
RUNGAME_RULES_INLINE size_t rungame_find_byte(const char* text, size_t length, size_t from, char c) {
  const void* found = from < length ? memchr(text + from, c, length - from) : NULL;
  return found ? (size_t)((const char*)found - text) : length;
}

/* Where `what` first stands in `text` from `from` on; `length` when nowhere. */
RUNGAME_RULES_INLINE size_t rungame_find_text(const char* text, size_t length, size_t from, const char* what) {
  size_t whatLength = strlen(what);
  for (; from + whatLength <= length; ++from) {
    if (memcmp(text + from, what, whatLength) == 0) return from;
  }
  return length;
}

/* Whether XML text (`length` bytes, NULs allowed) stays within the nesting
 * and attribute limits above, counted the way TinyXML would see them (never
 * fewer): a cheap scan, no parse. It tells markup apart as TinyXML does, so
 * that its recursion never goes deeper than counted here: a '<' it would
 * skip inside a comment, CDATA section, quoted value or declaration is
 * skipped here too. Where the two could disagree TinyXML stops with an
 * error, so any miscount only ever overestimates. */
RUNGAME_RULES_INLINE int rungame_xml_within_limits(const char* text, size_t length) {
  size_t depth = 0;
  size_t at = rungame_find_byte(text, length, 0, '<');
  while (at < length) {
    size_t end;
    size_t rest = length - at;
    if (rest >= 4 && memcmp(text + at, "<!--", 4) == 0) {
      end = rungame_find_text(text, length, at + 4, "-->");
      if (end < length) end += 2;
    } else if (rest >= 9 && memcmp(text + at, "<![CDATA[", 9) == 0) {
      end = rungame_find_text(text, length, at + 9, "]]>");
      if (end < length) end += 2;
    } else if (rest >= 5 && rungame_equals_ascii_case_n(text + at, 5, "<?xml")) {
      /* TinyXML reads quoted values in a declaration only for some names, so
         it ends at the first '>' or at the first one outside quotes; no '<'
         may stand before the later of the two. */
      size_t i;
      end = length;
      for (i = at + 5; i < length; ++i) {
        if (text[i] == '"' || text[i] == '\'') {
          i = rungame_find_byte(text, length, i + 1, text[i]);
        } else if (text[i] == '>') {
          end = i;
          break;
        }
      }
      {
        size_t opening = rungame_find_byte(text, length, at + 1, '<');
        if (opening < length && opening <= end) return 0;
      }
    } else if (rest >= 2 && text[at + 1] == '/' && depth > 0) {
      --depth;
      end = rungame_find_byte(text, length, at + 2, '>');
    } else if (rest >= 2 && (((text[at + 1] | 32) >= 'a' && (text[at + 1] | 32) <= 'z') || text[at + 1] == '_' ||
                             (unsigned char)text[at + 1] >= 127)) {
      size_t attributes = 0;
      size_t i;
      if (++depth > RUNGAME_XML_MAX_DEPTH) return 0;
      end = length;
      for (i = at + 1; i < length; ++i) {
        char c = text[i];
        if (c == '"' || c == '\'') {
          i = rungame_find_byte(text, length, i + 1, c);
        } else if (c == '=') {
          if (++attributes > RUNGAME_XML_MAX_ATTRIBUTES) return 0;
        } else if (c == '>') {
          end = i;
          break;
        } else if (c == '/' && i + 1 < length && text[i + 1] == '>') {
          --depth;
          end = i + 1;
          break;
        }
      }
    } else {
      /* "<!DOCTYPE ...>", "<?name ...>", a stray "</": TinyXML reads up to
         the next '>' as an unknown node. */
      end = rungame_find_byte(text, length, at + 1, '>');
    }
    if (end >= length) return 1; /* the rest cannot open an element */
    at = rungame_find_byte(text, length, end + 1, '<');
  }
  return 1;
}

/* Joins `base` and `name` into `out` (RUNGAME_PATH_LIMIT bytes) with one
 * backslash between them; 0 when the result would not fit. */
RUNGAME_RULES_INLINE int rungame_join_path(char* out, const char* base, const char* name) {
  size_t baseLength = strlen(base);
  size_t nameLength = strlen(name);
  int needsSeparator = baseLength > 0 && base[baseLength - 1] != '\\' && base[baseLength - 1] != '/';
  if (baseLength + (needsSeparator ? 1 : 0) + nameLength >= RUNGAME_PATH_LIMIT) return 0;
  memmove(out, base, baseLength);
  if (needsSeparator) out[baseLength++] = '\\';
  memcpy(out + baseLength, name, nameLength + 1);
  return 1;
}

/* How much longer than a release-relative path the longest path is that the
 * launcher makes of it below the folder it installs into: a staged file's
 * unpacking, <folder>\game\<path>.unpacking~launcher. The set-aside folder
 * (~upd) and the copy's staging folder (~new) are no longer than "game". */
#define RUNGAME_LAUNCHER_PATH_OVERHEAD (sizeof "\\" RUNGAME_STAGING_FOLDER "\\" - 1 + sizeof RUNGAME_UNPACKING_SUFFIX - 1)

/* The longest release-relative path that fits below a folder path of
 * `folderLength` bytes with the launcher's temporary names; 0 when none does. */
RUNGAME_RULES_INLINE size_t rungame_longest_fitting_path(size_t folderLength) {
  size_t used = folderLength + RUNGAME_LAUNCHER_PATH_OVERHEAD + 1; /* + the terminator */
  return used >= RUNGAME_PATH_LIMIT ? 0 : RUNGAME_PATH_LIMIT - used;
}

/* Whether every level of the '\\'-separated `path` is a plain name (with
 * `ascii`, an ASCII one), none of the launcher's own names at the top, and
 * with `lastIsFile` the last not named like its temporary files. */
RUNGAME_RULES_INLINE int rungame_path_levels_pass(const char* path, int ascii, int lastIsFile) {
  char name[RUNGAME_NAME_LIMIT + 2];
  const char* start = path;
  int top = 1;
  for (;;) {
    const char* end = strchr(start, '\\');
    size_t length = end ? (size_t)(end - start) : strlen(start);
    if (length > RUNGAME_NAME_LIMIT) return 0;
    memcpy(name, start, length);
    name[length] = '\0';
    if (!rungame_is_plain_name(name) || (ascii && !rungame_is_ascii_name(name)) ||
        (!end && lastIsFile && rungame_is_launcher_temporary_name(name)) ||
        (top && rungame_is_reserved_top_level_name(name))) {
      return 0;
    }
    if (!end) return 1;
    start = end + 1;
    top = 0;
  }
}

/* A release-relative path ('\\'-separated) of a file, or with `isFolder` of
 * a folder, that the launcher installs as it is: every level a plain ASCII
 * name, none of its own names at the top, a file not named like its
 * temporary files (it removes only files). The packer ships only such paths;
 * rules::ReleaseNameProblem says why one is not. */
RUNGAME_RULES_INLINE int rungame_is_installable_path(const char* path, int isFolder) {
  return rungame_path_levels_pass(path, 1, !isFolder);
}

#endif /* RUNGAME_RULES_H */
