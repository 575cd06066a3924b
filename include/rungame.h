/* The contract between the launcher and a game module (game.dll).
 *
 * A game includes this header and defines RunGame; the launcher loads
 * game.dll from the data folder, calls RunGame and unloads the module, and
 * calls it again in a fresh cycle for as long as it returns nonzero.
 *
 *   module           the game module's own handle, as LoadLibrary returned it
 *   previousInstance the launcher's previous-instance argument, unchanged
 *   commandLine      the launcher's command line, without the program name
 *   showCommand      the launcher's show-window command, unchanged
 *
 * On 32-bit Windows the call is cdecl (the caller removes the arguments);
 * 64-bit Windows has a single calling convention, which __cdecl names there
 * too. The export is the undecorated name "RunGame" in both. The game module
 * must have the launcher's bitness. At the call, the working folder is the data
 * folder. Return 0 to end the launcher; return nonzero to be loaded again,
 * e.g. after staging an update.
 */
#ifndef RUNGAME_H
#define RUNGAME_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int(__cdecl* GameEntryFn)(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine,
                                  int showCommand);

#ifdef RUNGAME_BUILDING_GAME
__declspec(dllexport) int __cdecl RunGame(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine,
                                          int showCommand);
#endif

#ifdef __cplusplus
}
#endif

#endif /* RUNGAME_H */
