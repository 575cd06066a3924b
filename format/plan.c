/* The update plan from facts alone (rungame_plan.h). */
#include "rungame_plan.h"

#include <string.h>

#include "../rules/rungame_rules.h"

/* Plain names joined by single '\', none of the launcher's own at the top. */
static int HasPlannableNames(const char* path) { return rungame_path_levels_pass(path, 0, 0); }

/* Whether it fits the path limit in each of its places in the data folder. */
static int FitsBelow(const char* path, size_t dataFolderLength, size_t stagingNameLength) {
  const size_t setAsideLength = sizeof RUNGAME_SET_ASIDE_FOLDER - 1;
  const size_t below = stagingNameLength > setAsideLength ? stagingNameLength : setAsideLength;
  /* The longest place it has: below the staging or the set-aside folder,
   * "<data>\<folder>\<path>", within the limit with its terminator. */
  return dataFolderLength + 2 + below + strlen(path) < RUNGAME_PATH_LIMIT;
}

int rungame_is_plannable_path(const char* path, size_t dataFolderLength, size_t stagingNameLength) {
  return HasPlannableNames(path) && FitsBelow(path, dataFolderLength, stagingNameLength);
}

/* The step that puts `item` in place, 0 when it merges into a folder, or
 * the negated problem when it cannot take its place. */
static int StepOf(const RunGameStagedItem* item, size_t dataFolderLength) {
  if (!HasPlannableNames(item->path)) return -RUNGAME_PLAN_BAD_PATH;
  if (!FitsBelow(item->path, dataFolderLength, sizeof RUNGAME_STAGING_FOLDER - 1)) return -RUNGAME_PLAN_TOO_LONG;
  if (item->isFolder) {
    if (item->held == RUNGAME_HELD_FOLDER) return 0;
    if (item->held != RUNGAME_HELD_NOTHING) return -RUNGAME_PLAN_IN_THE_WAY;
    if (dataFolderLength + 1 + strlen(item->path) >= RUNGAME_MAX_FOLDER_PATH) return -RUNGAME_PLAN_FOLDER_TOO_LONG;
    return RUNGAME_ADD_FOLDER;
  }
  switch (item->held) {
    case RUNGAME_HELD_NOTHING: return RUNGAME_ADD_FILE;
    case RUNGAME_HELD_PLAIN_FILE: return RUNGAME_REPLACE_EXISTING;
    default: return -RUNGAME_PLAN_IN_THE_WAY;
  }
}

int rungame_plan_update(const RunGameStagedItem* items, size_t count, size_t dataFolderLength,
                        RunGamePlanStep* steps, size_t* stepCount, size_t* refused) {
  size_t i;
  size_t written = 0;
  int haveMarker = 0;
  RunGamePlanStep marker = {0, 0};
  *stepCount = 0;
  *refused = 0;
  for (i = 0; i < count; ++i) {
    const int kind = StepOf(&items[i], dataFolderLength);
    if (kind < 0) {
      *refused = i;
      return -kind;
    }
    if (kind == 0) continue;
    if (items[i].isMarker) {
      /* Its arrival tells a stopped launcher the rest arrived: it goes last. */
      marker.item = i;
      marker.kind = kind;
      haveMarker = 1;
    } else {
      steps[written].item = i;
      steps[written].kind = kind;
      ++written;
    }
  }
  if (haveMarker) steps[written++] = marker;
  if (written == 0) return RUNGAME_PLAN_NOTHING;
  *stepCount = written;
  return RUNGAME_PLAN_OK;
}

size_t rungame_unpacked_length(const char* path) {
  static const char* const suffixes[] = RUNGAME_TEMPORARY_SUFFIXES;
  const char* slash = strrchr(path, '\\');
  const size_t length = strlen(path);
  size_t i;
  if (!rungame_is_packed_name(slash ? slash + 1 : path)) return 0;
  for (i = 0; i < sizeof suffixes / sizeof suffixes[0]; ++i) {
    const size_t suffixLength = strlen(suffixes[i]);
    if (length - 4 >= suffixLength && rungame_equals_ascii_case_n(path + length - 4 - suffixLength, suffixLength, suffixes[i])) {
      return 0;
    }
  }
  return length - 4;
}

const char* rungame_plan_problem_text(int problem) {
  switch (problem) {
    case RUNGAME_PLAN_OK: return "planned";
    case RUNGAME_PLAN_BAD_PATH: return "not plain names, or one of the launcher's own names at the top";
    case RUNGAME_PLAN_TOO_LONG: return "over the path limit below the staging or set-aside folder";
    case RUNGAME_PLAN_FOLDER_TOO_LONG: return "a new folder over the folder path limit";
    case RUNGAME_PLAN_IN_THE_WAY: return "the data folder holds something there it may not replace";
    case RUNGAME_PLAN_NOTHING: return "nothing to install";
    default: return "unknown";
  }
}
