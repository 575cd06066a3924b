#pragma once
// The fixture of every test that runs the real launcher: a scratch folder
// and a company of the test's own, data folders that already hold the game,
// the scripted game run through the launcher, and where it ran.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace testing_support {

class LauncherTest : public ::testing::Test {
 protected:
  // A fresh scratch folder; the company folder removed before and after.
  void SetUp() override;
  void TearDown() override;

  // Application-data mode for this test's company, product "Game" and
  // language "en", with `extra` settings after those.
  std::string AppDataSettings(const std::vector<std::pair<std::string, std::string>>& extra = {}) const;
  // The data folder those settings name: the company folder's Game\en.
  std::string DataFolder() const;

  // Fills `dataFolder` as an earlier start would have: game.dll, `gameXml`
  // and a saved game (saves\slot1.sav), so no first start is needed.
  void ProvisionDataFolder(const std::string& dataFolder, const std::string& gameXml) const;

  // Runs the launcher of `install` to its end, in the install folder unless
  // `options` name another working folder, with the game scripted by
  // `script` (by default it returns 0 at once). The exit code, or -1 on a
  // time-out.
  long Run(const Install& install, GameScript script = {}, RunOptions options = {});
  // The same, started without waiting.
  std::unique_ptr<Process> Start(const Install& install, GameScript script = {}, RunOptions options = {});

  // The game runs recorded since the last RanIn().
  std::vector<Record> Runs() const;
  // The folder the one game run since the last call ran in (a failure when
  // there was not exactly one); forgets that run.
  std::string RanIn();

  std::string scratch, record, company, companyFolder;
};

}  // namespace testing_support
