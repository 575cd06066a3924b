// A module that loads but exports no RunGame.
#include <windows.h>

extern "C" __declspec(dllexport) int __cdecl NotTheGame(void) { return 7; }
