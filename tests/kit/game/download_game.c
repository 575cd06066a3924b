/* A game built against the installed helper package that downloads its
 * update from a feed: the feed's URL and the studio's public key come from
 * KIT_FEED_URL and KIT_FEED_KEY. First run: downloads and stages the update
 * and asks to be restarted. Next run, with the update installed: writes
 * "result.txt" ("installed") and ends. Anything else ends the launcher with
 * a result naming what went wrong. */
#define RUNGAME_BUILDING_GAME
#include <stdio.h>

#include "rungame.h"
#include "rungame_download.h"
#include "rungame_update.h"
#include "result.h"

int __cdecl RunGame(HINSTANCE module, HINSTANCE previousInstance, LPSTR commandLine, int showCommand) {
  char text[sizeof ((RunGameFeedUpdate*)0)->reason + 64];
  char detail[256], url[512], key[128];
  RunGameFeedUpdate update;
  int result;
  (void)module;
  (void)previousInstance;
  (void)commandLine;
  (void)showCommand;
  if (RunGameLastUpdateStatus(detail, sizeof detail) == RUNGAME_UPDATE_STATUS_INSTALLED) return Finish("installed");
  if (GetFileAttributesA("staged.txt") != INVALID_FILE_ATTRIBUTES) return Finish("not installed");
  if (!GetEnvironmentVariableA("KIT_FEED_URL", url, sizeof url) ||
      !GetEnvironmentVariableA("KIT_FEED_KEY", key, sizeof key)) {
    return Finish("no KIT_FEED_URL or KIT_FEED_KEY");
  }
  result = RunGameDownloadUpdate(url, NULL, NULL, key, "update.ready", NULL, NULL, NULL, &update);
  if (result != RUNGAME_FEED_OK) {
    sprintf(text, "download failed: %d %s", result, update.reason);
    return Finish(text);
  }
  WriteText("staged.txt", "");
  return 1;
}
