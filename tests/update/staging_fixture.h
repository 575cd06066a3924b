#pragma once
// An install run in working-folder mode, so its folder is the data folder
// and "game" inside it the staging folder; the marker is "update.flag".

#include <gtest/gtest.h>

#include "tests/support/harness.h"
#include "tests/update/update_support.h"

namespace update_testing {

class StagingTest : public ::testing::Test {
 protected:
  std::string scratch = testing_support::FreshScratchFolder();
  std::string record = testing_support::Join(scratch, "record.txt");
  testing_support::Install install = testing_support::MakeInstall(
      testing_support::Join(scratch, "install"),
      testing_support::SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.flag"}}));
  std::string data = install.folder;
  std::string staging = testing_support::Join(install.folder, "game");

  std::string InData(const std::string& name) const { return testing_support::Join(data, name); }
  std::string InStaging(const std::string& name) const { return testing_support::Join(staging, name); }
  void Stage(const std::string& name, const std::string& content) { testing_support::WriteFile(InStaging(name), content); }
  void StageMarker() { Stage("update.flag", "ready"); }

  long Run(testing_support::GameScript script = {}) {
    script.recordPath = record;
    testing_support::InstallGameScript(scratch, script);
    testing_support::RunOptions options;
    options.workingFolder = install.folder;
    return testing_support::RunLauncher(install.exe, options);
  }

  // Afterwards: the staging folder gone to the Recycle Bin.
  void ExpectStagingDiscarded() {
    EXPECT_FALSE(testing_support::Exists(staging));
    EXPECT_TRUE(InRecycleBin("game"));
  }
};

}  // namespace update_testing
