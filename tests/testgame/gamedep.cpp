// A DLL the dependent test game imports; two builds tell which one was loaded.
#include <windows.h>

extern "C" __declspec(dllexport) int __cdecl GameDependencyVersion(void) { return GAMEDEP_VERSION; }
