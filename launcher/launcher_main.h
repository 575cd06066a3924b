#pragma once

#include <windows.h>

// The launcher's whole run: single-instance guard, choice of the data folder,
// first-start pass, then the game run loop. Returns the process exit code:
// 0 when another launcher runs or the game ended with 0, 1 when game.dll
// cannot be loaded or exports no RunGame.
int LauncherMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
