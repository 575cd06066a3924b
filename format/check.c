/* Staged entries against their manifest. See rungame_format.h. */
#include "rungame_format.h"

#include <string.h>

#include "../rules/rungame_rules.h"

static const char* BaseName(const char* path) {
  const char* separator = strrchr(path, '\\');
  return separator != NULL ? separator + 1 : path;
}

/* The listed entry `path` names in another letter case, or NULL. */
static const RunGameManifestEntry* ListedInOtherCase(const RunGameManifest* manifest, const char* path) {
  size_t i;
  for (i = 0; i < manifest->count; ++i) {
    if (rungame_equals_ascii_case(manifest->entries[i].path, path)) return &manifest->entries[i];
  }
  return NULL;
}

/* The problem of one staged entry, 0 for none; `listed` gets its entry. */
static int Judge(const RunGameManifest* manifest, const RunGameStagedEntry* staged, RunGameManifestEntry** listed) {
  RunGameManifestEntry* entry = rungame_find_entry(manifest, staged->path);
  *listed = entry;
  if (entry == NULL) {
    const RunGameManifestEntry* other = ListedInOtherCase(manifest, staged->path);
    if (other == NULL || other->seen) return RUNGAME_ENTRY_NOT_LISTED;
    *listed = (RunGameManifestEntry*)other;
    return RUNGAME_ENTRY_WRONG_NAME;
  }
  if (entry->seen) return RUNGAME_ENTRY_STAGED_TWICE;
  if ((entry->isFolder != 0) != (staged->isFolder != 0)) return RUNGAME_ENTRY_WRONG_KIND;
  if (entry->isFolder) return 0;
  if (staged->size != entry->size) return RUNGAME_ENTRY_SIZE_DIFFERS;
  if (!staged->readable) return RUNGAME_ENTRY_UNREADABLE;
  return memcmp(staged->sha256, entry->sha256, sizeof entry->sha256) == 0 ? 0 : RUNGAME_ENTRY_DIGEST_DIFFERS;
}

void rungame_begin_check(RunGameManifest* manifest) {
  size_t i;
  for (i = 0; i < manifest->count; ++i) manifest->entries[i].seen = 0;
}

int rungame_check_entry(RunGameManifest* manifest, const RunGameStagedEntry* staged, const char* marker,
                        const RunGameManifestEntry** listed) {
  RunGameManifestEntry* entry = NULL;
  int problem;
  *listed = NULL;
  if (!staged->isFolder && rungame_is_launcher_temporary_name(BaseName(staged->path))) return 0;
  if (marker != NULL && strchr(staged->path, '\\') == NULL && rungame_equals_ascii_case(staged->path, marker)) {
    return 0;
  }
  problem = Judge(manifest, staged, &entry);
  /* Seen even when damaged: it is there, so it is not also missing. */
  if (entry != NULL && problem != RUNGAME_ENTRY_STAGED_TWICE) entry->seen = 1;
  *listed = entry;
  return problem;
}

const RunGameManifestEntry* rungame_next_missing(const RunGameManifest* manifest, const RunGameManifestEntry* after) {
  size_t i = after == NULL ? 0 : (size_t)(after - manifest->entries) + 1;
  for (; i < manifest->count; ++i) {
    if (!manifest->entries[i].seen) return &manifest->entries[i];
  }
  return NULL;
}

size_t rungame_check_entries(RunGameManifest* manifest, const RunGameStagedEntry* staged, size_t count,
                             const char* marker, RunGameEntryReport report, void* context) {
  const RunGameManifestEntry* missing = NULL;
  size_t problems = 0;
  size_t i;
  rungame_begin_check(manifest);
  for (i = 0; i < count; ++i) {
    const RunGameManifestEntry* listed;
    int problem = rungame_check_entry(manifest, &staged[i], marker, &listed);
    if (problem != 0) {
      ++problems;
      if (report != NULL) report(context, problem, staged[i].path, listed);
    }
  }
  while ((missing = rungame_next_missing(manifest, missing)) != NULL) {
    ++problems;
    if (report != NULL) report(context, RUNGAME_ENTRY_MISSING, NULL, missing);
  }
  return problems;
}
