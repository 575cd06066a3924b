// The "First start..." window of a real launcher, seen from outside while a
// large installation is copied: as it looks, and answering within a second
// at every moment, as Windows asks of a window not to call it hung.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

class FirstStartWindow : public CompanyTest {};

struct Seen {
  bool found = false;
  std::string className, title;
  RECT rect = {};
  bool visible = false;
  int answered = 0, unanswered = 0;
  DWORD slowestAnswerMs = 0;
};

}  // namespace

TEST_F(FirstStartWindow, ShownWhileTheCopyRunsAndGoneAfterwards) {
  ASSERT_EQ(nullptr, FindWindowA("RunGameWindow", "First start..."));
  const Install install = MakeGameInstall();
  const std::string big = Join(install.folder, "big.pak");
  // Several seconds of copying, natively and emulated alike.
  MakeLargeFile(big, 640LL * 1024 * 1024 / static_cast<long long>(TimeScale()));
  const std::string go = Join(scratch, "go");

  Seen seen;
  bool goneWhileTheGameRuns = false;
  long exitCode = -1;
  {
    const auto launcher = Start(install, {{{"wait_for", go}, {"return", "0"}}});
    ASSERT_TRUE(launcher->Started());
    // Until it is seen shown: it may be caught between its creation and ShowWindow.
    HWND window = nullptr;
    for (int polls = 0; polls < 60000 && !seen.visible; ++polls) {
      window = FindWindowA("RunGameWindow", "First start...");
      if (window) {
        char text[64] = {};
        GetClassNameA(window, text, sizeof text);
        seen.className = text;
        GetWindowTextA(window, text, sizeof text);
        seen.title = text;
        GetWindowRect(window, &seen.rect);
        seen.visible = IsWindowVisible(window) != FALSE;
        seen.found = true;
      } else if (Exists(record) || seen.found) {
        break;  // the game already ran: the window came and went unseen
      }
      Sleep(1);
    }
    // As long as it is there: a message sent to it comes back within 1 s.
    while (seen.visible && IsWindow(window) && !Exists(record)) {
      DWORD_PTR result = 0;
      const DWORD sent = GetTickCount();
      if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) {
        ++seen.answered;
      } else if (IsWindow(window)) {
        ++seen.unanswered;
      }
      seen.slowestAnswerMs = std::max(seen.slowestAnswerMs, GetTickCount() - sent);
      Sleep(20);
    }
    if (WaitForFile(record, 120000)) goneWhileTheGameRuns = FindWindowA("RunGameWindow", nullptr) == nullptr;
    WriteFile(go, "");
    exitCode = launcher->Wait(120000);
  }
  DeleteFileA(big.c_str());
  DeleteFileA(Join(DataFolder(), "big.pak").c_str());

  // In the shard's report, for the record of how long the window waits.
  RecordProperty("messages_answered", seen.answered);
  RecordProperty("slowest_answer_ms", static_cast<int>(seen.slowestAnswerMs));
  EXPECT_EQ(0, exitCode);
  ASSERT_TRUE(seen.found) << "the window was not seen during the copy";
  EXPECT_EQ("RunGameWindow", seen.className);
  EXPECT_EQ("First start...", seen.title);
  EXPECT_EQ(412, seen.rect.left);
  EXPECT_EQ(324, seen.rect.top);
  EXPECT_EQ(200, seen.rect.right - seen.rect.left);
  EXPECT_EQ(120, seen.rect.bottom - seen.rect.top);
  EXPECT_TRUE(seen.visible);
  EXPECT_GT(seen.answered, 0) << "the copy ended before a message could be sent";
  EXPECT_EQ(0, seen.unanswered) << "messages left unanswered for 1 s; slowest answer " << seen.slowestAnswerMs << " ms";
  EXPECT_TRUE(goneWhileTheGameRuns);
  EXPECT_EQ(DataFolder(), RanIn());
}

TEST_F(FirstStartWindow, NotShownWhenNoCopyIsNeeded) {
  const Install install = MakeGameInstall();
  ProvisionDataFolder();
  const auto launcher = Start(install, {{{"wait_for", Join(scratch, "go")}, {"return", "0"}}});
  ASSERT_TRUE(WaitForFile(record, 60000)) << "the game did not start";
  EXPECT_EQ(nullptr, FindWindowA("RunGameWindow", nullptr));
  WriteFile(Join(scratch, "go"), "");
  EXPECT_EQ(0, launcher->Wait(60000));
}
