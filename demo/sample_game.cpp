// A sample game module for the demo: it shows what a game sees when the
// launcher runs it, and stages an update the way a real game does.
//
// Cycle 1 (version 1.0): reports where it runs, takes the update folder the
// studio's packer wrote (named on the command line after --update, as if it
// had just been downloaded), has the game-side helper check it against its
// manifest and stage it, and returns 1 to be restarted on it. Or, given
// --feed URL --key HEX, asks the studio's feed for a newer version,
// downloads what the data folder lacks and stages it.
// Cycle 2 (version 1.1): reports the updated files and returns 0.
#define RUNGAME_BUILDING_GAME
#include "rungame.h"
#include "rungame_download.h"
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

// The value after `option` ("--update ") on the command line, quoted or not.
std::string Argument(const char* commandLine, const char* option) {
  const char* found = commandLine ? std::strstr(commandLine, option) : nullptr;
  if (!found) return std::string();
  std::string rest = found + std::strlen(option);
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

int ShowProgress(void*, unsigned long long done, unsigned long long total) {
  char line[128];
  std::snprintf(line, sizeof line, "%3u %% (%llu of %llu bytes of chunks)",
                total ? static_cast<unsigned>(done * 100 / total) : 100u, done, total);
  Log("game: downloading %s", line);
  return 1;
}

// The studio's feed: whether it holds a newer version, then the download.
int UpdateFromFeed(const std::string& feed, const std::string& key) {
  RunGameFeedUpdate update;
  Log("game: asking the feed %s for a newer version", feed);
  int result = RunGameCheckForUpdate(feed.c_str(), nullptr, nullptr, key.c_str(), &update);
  if (result == RUNGAME_FEED_UP_TO_DATE) {
    Log("game: the feed's newest version is %s, ours: nothing to do (RunGame returns 0)", update.version);
    return 0;
  }
  if (result != RUNGAME_FEED_OK) {
    Log("game: no update from the feed: %s", update.reason);
    return 0;
  }
  const std::string line = std::string("game: version ") + update.version + " is there; to download: " +
                           std::to_string(update.downloadBytes) + " bytes in " +
                           std::to_string(update.chunkCount) + " chunks";
  Log("%s", line);
  result = RunGameDownloadUpdate(feed.c_str(), nullptr, nullptr, key.c_str(), kMarker, ShowProgress, nullptr, nullptr,
                                 &update);
  if (result != RUNGAME_FEED_OK) {
    Log("game: the download stopped: %s", update.reason);
    return 0;
  }
  Log("game: every chunk and file matched the signed manifest; staged in game\\, the marker last; RunGame returns 1");
  return 1;
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
    const std::string feed = Argument(commandLine, "--feed ");
    if (!feed.empty()) return UpdateFromFeed(feed, Argument(commandLine, "--key "));
    const std::string download = Argument(commandLine, "--update ");
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
