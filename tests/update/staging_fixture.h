#pragma once
// An install run in working-folder mode, so its folder is the data folder
// and "game" inside it the staging folder; the marker is "update.flag".

#include <gtest/gtest.h>

#include "tests/support/launcher_test.h"
#include "tests/update/update_support.h"

namespace update_testing {

class StagingTest : public testing_support::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    install = testing_support::MakeInstall(
        testing_support::Join(scratch, "install"),
        testing_support::SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.flag"}}));
    data = install.folder;
    staging = testing_support::Join(install.folder, "game");
  }

  std::string InData(const std::string& name) const { return testing_support::Join(data, name); }
  std::string InStaging(const std::string& name) const { return testing_support::Join(staging, name); }
  void Stage(const std::string& name, const std::string& content) { testing_support::WriteFile(InStaging(name), content); }
  void StageMarker() { Stage("update.flag", "ready"); }

  long Run(testing_support::GameScript script = {}) { return LauncherTest::Run(install, script); }

  // Afterwards: the staging folder gone to the Recycle Bin.
  void ExpectStagingDiscarded() {
    EXPECT_FALSE(testing_support::Exists(staging));
    EXPECT_TRUE(testing_support::InRecycleBin("game"));
  }

  testing_support::Install install;
  std::string data, staging;
};

}  // namespace update_testing
