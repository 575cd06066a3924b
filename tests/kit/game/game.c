/* A game built against the installed helper package. First run: stages the
 * update waiting in "downloads\update" and asks to be restarted. Next run,
 * with the update installed: writes "result.txt" ("installed") and ends.
 * Anything else ends the launcher with a result naming what went wrong. */
#define RUNGAME_BUILDING_GAME
#include <stdio.h>

#include "rungame.h"
#include "rungame_update.h"
#include "result.h"

int __cdecl RunGame(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  char text[64];
  int result;
  (void)module;
  (void)previousInstance;
  (void)commandLine;
  (void)showCommand;
  if (GetFileAttributesA("update-arrived.txt") != INVALID_FILE_ATTRIBUTES) return Finish("installed");
  if (GetFileAttributesA("staged.txt") != INVALID_FILE_ATTRIBUTES) return Finish("not installed");
  result = RunGameStageUpdate("downloads\\update", NULL, NULL, "update.ready", NULL, 0);
  if (result != RUNGAME_STAGED) {
    sprintf(text, "stage failed: %d", result);
    return Finish(text);
  }
  WriteText("staged.txt", "");
  return 1;
}
