// The bench's game module. RunGame records when it was entered, optionally
// signals that it runs and waits to be released (so the bench can read the
// process's peak memory while the game "plays"), and returns 0.
//   BENCH_STAMP    file that receives QueryPerformanceCounter at entry
//   BENCH_SIGNAL   file created once RunGame runs
//   BENCH_RELEASE  file RunGame waits for (up to 60 s) before returning
// Built twice: game.dll imports kernel32 only; game_gui.dll also imports
// user32, as a game with a window does.
#define RUNGAME_BUILDING_GAME
#include "rungame.h"

#include <cstdio>

namespace {

bool Env(const char* name, char* buffer, DWORD size) {
  const DWORD length = GetEnvironmentVariableA(name, buffer, size);
  return length > 0 && length < size;
}

}  // namespace

extern "C" __declspec(dllexport) int __cdecl RunGame(HINSTANCE, HINSTANCE, LPSTR, int) {
  LARGE_INTEGER entered;
  QueryPerformanceCounter(&entered);
#ifdef BENCHGAME_WINDOWED
  // The call a windowed game makes first; it keeps user32 imported.
  if (GetSystemMetrics(SM_CXSCREEN) < 0) return 1;
#endif
  char path[1024];
  if (Env("BENCH_STAMP", path, sizeof path)) {
    if (FILE* file = std::fopen(path, "wb")) {
      std::fprintf(file, "%lld\n", static_cast<long long>(entered.QuadPart));
      std::fclose(file);
    }
  }
  if (Env("BENCH_SIGNAL", path, sizeof path)) {
    if (FILE* file = std::fopen(path, "wb")) std::fclose(file);
  }
  if (Env("BENCH_RELEASE", path, sizeof path)) {
    for (int waited = 0; waited < 60000; waited += 5) {
      if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) break;
      Sleep(5);
    }
  }
  return 0;
}
