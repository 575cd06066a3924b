// The least a launcher must do: load game.dll from the working folder by full
// path, call RunGame with the entry arguments, unload it. The baseline that
// the launcher's start-up and memory are compared against.
#include <windows.h>

#include <cstring>

#include "rungame.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  char path[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
  const char name[] = "\\game.dll";
  if (length == 0 || length + sizeof name > MAX_PATH) return 1;
  std::memcpy(path + length, name, sizeof name);
  HMODULE module = LoadLibraryA(path);
  if (!module) return 1;
  auto entry = reinterpret_cast<GameEntryFn>(reinterpret_cast<void*>(GetProcAddress(module, "RunGame")));
  const int result = entry ? entry(module, previousInstance, commandLine, showCommand) : 1;
  FreeLibrary(module);
  return result;
}
