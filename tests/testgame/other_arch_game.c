/* A complete game module, built for the other architecture than the tests:
   the launcher must refuse it as a module it cannot load. */
#define RUNGAME_BUILDING_GAME
#include "rungame.h"

int __cdecl RunGame(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  (void)module;
  (void)previousInstance;
  (void)commandLine;
  (void)showCommand;
  return 0;
}
