// A sample game module for the demo: it shows what a game sees when the
// launcher runs it, and stages an update the way a real game would.
//
// Cycle 1 (version 1.0): reports where it runs, stages version 1.1 in the
// data folder's "game" folder (a packed level file, a new version file, the
// marker last) and returns 1 to be restarted on it.
// Cycle 2 (version 1.1): reports the updated files and returns 0.
#define RUNGAME_BUILDING_GAME
#include "rungame.h"

#include <shlobj.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Log(const char* format, const std::string& value = std::string()) {
  if (FILE* log = std::fopen("demo-log.txt", "ab")) {
    std::fprintf(log, format, value.c_str());
    std::fputc('\n', log);
    std::fclose(log);
  }
}

std::string ReadText(const char* path) {
  std::string text;
  if (FILE* file = std::fopen(path, "rb")) {
    char buffer[256];
    size_t count = std::fread(buffer, 1, sizeof buffer, file);
    text.assign(buffer, count);
    std::fclose(file);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool WriteText(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

// Stages version 1.1 in the "game" folder of the data folder (the working
// folder). The marker, named by update_semaphore in game.xml, is written last
// so the launcher never sees a half-staged update.
bool StageUpdate(const std::string& dataFolder) {
  const std::string staging = dataFolder + "\\game";
  // SHCreateDirectoryExA takes absolute paths only.
  if (SHCreateDirectoryExA(nullptr, (staging + "\\levels").c_str(), nullptr) != ERROR_SUCCESS) return false;
  if (SHCreateDirectoryExA(nullptr, (staging + "\\properties").c_str(), nullptr) != ERROR_SUCCESS) return false;
  gzFile packed = gzopen((staging + "\\levels\\level1.dat.zip").c_str(), "wb6");
  if (!packed) return false;
  const char level[] = "level 1, remastered in version 1.1\n";
  const bool written = gzwrite(packed, level, sizeof level - 1) == static_cast<int>(sizeof level - 1);
  if (gzclose(packed) != Z_OK || !written) return false;
  return WriteText((staging + "\\properties\\version.xml").c_str(), "<version x=\"1\" y=\"1\"/>\n") &&
         WriteText((staging + "\\update.ready").c_str(), "");
}

}  // namespace

extern "C" __declspec(dllexport) int __cdecl RunGame(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  const std::string version = ReadText("properties\\version.xml");
  const bool updated = version.find("y=\"1\"") != std::string::npos;
  Log("game: running in %s", cwd);
  Log("game: command line [%s]", commandLine ? commandLine : "");
  Log("game: version file %s", version);
  if (!updated) {
    if (!StageUpdate(cwd)) {
      Log("game: could not stage the update (RunGame returns 0)");
      return 0;
    }
    Log("game: staged the update to version 1.1 (packed level, version file, marker last); RunGame returns 1");
    return 1;
  }
  Log("game: levels\\level1.dat now reads \"%s\"", ReadText("levels\\level1.dat"));
  Log("game: done (RunGame returns 0)");
  return 0;
}
