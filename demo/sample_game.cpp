// A sample game module for the demo: it shows what a game sees when the
// launcher runs it, and stages an update the way a real game does.
//
// Cycle 1 (version 1.0): reports where it runs, takes the update folder the
// studio's packer wrote (named on the command line after --update, as if it
// had just been downloaded), has the game-side helper check it against its
// manifest and stage it, and returns 1 to be restarted on it.
// Cycle 2 (version 1.1): reports the updated files and returns 0.
#define RUNGAME_BUILDING_GAME
#include "rungame.h"
#include "rungame_update.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The update_semaphore of this game's game.xml.
const char kMarker[] = "update.ready";

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
    const size_t count = std::fread(buffer, 1, sizeof buffer, file);
    text.assign(buffer, count);
    std::fclose(file);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The folder after "--update" on the command line, quoted or not.
std::string UpdateFolderArgument(const char* commandLine) {
  const char* option = commandLine ? std::strstr(commandLine, "--update ") : nullptr;
  if (!option) return std::string();
  std::string rest = option + std::strlen("--update ");
  if (!rest.empty() && rest[0] == '"') return rest.substr(1, rest.find('"', 1) - 1);
  return rest.substr(0, rest.find(' '));
}

const char* Describe(int result) {
  switch (result) {
    case RUNGAME_STAGED: return "staged";
    case RUNGAME_STAGE_BAD_ARGUMENT: return "bad argument";
    case RUNGAME_STAGE_NO_UPDATE: return "no update folder";
    case RUNGAME_STAGE_UNSAFE_UPDATE: return "unsafe update (a link or a path over the limit)";
    case RUNGAME_STAGE_MOVE_FAILED: return "a file could not be moved";
    case RUNGAME_STAGE_MARKER_FAILED: return "the marker could not be written";
    case RUNGAME_STAGE_BAD_MANIFEST: return "the manifest is missing or damaged";
    case RUNGAME_STAGE_NOT_AS_LISTED: return "the download differs from its manifest";
    default: return "unknown result";
  }
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
    const std::string download = UpdateFolderArgument(commandLine);
    if (download.empty()) {
      Log("game: no --update folder on the command line (RunGame returns 0)");
      return 0;
    }
    Log("game: checking %s against its manifest and staging it", download);
    char failed[MAX_PATH] = {};
    const int result = RunGameStageUpdate(download.c_str(), nullptr, nullptr, kMarker, failed, sizeof failed);
    if (result != RUNGAME_STAGED) {
      Log("game: could not stage the update: %s", std::string(Describe(result)) + (failed[0] ? std::string(" (") + failed + ")" : ""));
      return 0;
    }
    Log("game: every file matched its size and SHA-256; staged in game\\, the marker last; RunGame returns 1");
    return 1;
  }
  Log("game: levels\\level1.dat now reads \"%s\"", ReadText("levels\\level1.dat"));
  Log("game: levels\\level2.dat now reads \"%s\"", ReadText("levels\\level2.dat"));
  Log("game: done (RunGame returns 0)");
  return 0;
}
