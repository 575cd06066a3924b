/* The launcher's update plan, worked out from facts alone: what is staged
 * and what the data folder holds at each staged path. The launcher gathers
 * the facts from its pinned tree, the packer's dry run from a folder on the
 * build machine; both take the plan from here, so there is one planner.
 * Plain C, no system calls, no allocation: the caller hands in the arrays. */
#ifndef RUNGAME_PLAN_H
#define RUNGAME_PLAN_H

#include <stddef.h>

#include "rungame_format.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest path of a folder the launcher makes: CreateDirectoryA keeps room
 * for an 8.3 name below it within the path limit (fs/path.h). */
#define RUNGAME_MAX_FOLDER_PATH (260u - 12u)

/* What the data folder holds at a staged path. */
enum RunGameHeld {
  RUNGAME_HELD_NOTHING = 0,
  RUNGAME_HELD_FOLDER,      /* a real folder: a staged folder merges into it */
  RUNGAME_HELD_PLAIN_FILE,  /* a file a staged file may replace */
  RUNGAME_HELD_OTHER        /* a link, a file with a second name, one in use, ... */
};

/* One staged entry, after the launcher's unpacking, folders before what
 * they hold (as its walk lists them). */
typedef struct RunGameStagedItem {
  const char* path; /* relative, '\' separators */
  int isFolder;
  int isMarker; /* the update's marker: it moves last */
  int held;     /* RunGameHeld at the same path in the data folder */
} RunGameStagedItem;

enum RunGameStepKind { RUNGAME_ADD_FOLDER = 1, RUNGAME_ADD_FILE, RUNGAME_REPLACE_EXISTING };

typedef struct RunGamePlanStep {
  size_t item; /* index into the staged items */
  int kind;    /* RunGameStepKind */
} RunGamePlanStep;

/* Why an update cannot be planned; RUNGAME_PLAN_OK when it can. */
enum RunGamePlanProblem {
  RUNGAME_PLAN_OK = 0,
  RUNGAME_PLAN_BAD_PATH,      /* not plain names, or one of the launcher's own at the top */
  RUNGAME_PLAN_TOO_LONG,      /* over the path limit below the staging or set-aside folder */
  RUNGAME_PLAN_FOLDER_TOO_LONG, /* a new folder over RUNGAME_MAX_FOLDER_PATH */
  RUNGAME_PLAN_IN_THE_WAY,    /* a folder where a file goes or the reverse, or nothing replaceable */
  RUNGAME_PLAN_NOTHING        /* no step at all: every folder merged, no file */
};

/* Whether `path` may stand in a plan for a data folder whose path is
 * `dataFolderLength` bytes (no trailing separator): plain names joined by
 * single '\', none of the launcher's own names at the top, fitting the path
 * limit below the data folder, below its staging folder of
 * `stagingNameLength` bytes and below its set-aside folder. */
RUNGAME_MUST_USE int rungame_is_plannable_path(const char* path, size_t dataFolderLength, size_t stagingNameLength);

/* The plan that installs `items` into a data folder whose path is
 * `dataFolderLength` bytes (no trailing separator), staged in the staging
 * folder RUNGAME_STAGING_FOLDER: every item once in the order given but the
 * marker last, a folder already there merged into (no step). `steps` holds
 * `count` steps; `*stepCount` gets how many were written. Returns a
 * RunGamePlanProblem; `*refused` gets the index of the item that cannot
 * take its place (the first one, in the order given). */
RUNGAME_MUST_USE int rungame_plan_update(const RunGameStagedItem* items, size_t count, size_t dataFolderLength,
                                         RunGamePlanStep* steps, size_t* stepCount, size_t* refused);

/* The length of the path a staged file at `path` unpacks to (the path less
 * its ".zip"), or 0 when the launcher installs it as it is: no packed name,
 * or an unpacked name like its temporary files'. The launcher unpacks before
 * it plans: the planner is handed the names unpacking leaves. */
RUNGAME_MUST_USE size_t rungame_unpacked_length(const char* path);

/* Words for a RunGamePlanProblem, for messages. */
const char* rungame_plan_problem_text(int problem);

#ifdef __cplusplus
}
#endif

#endif
