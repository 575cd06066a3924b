// Random release pairs packed by packer.exe, staged by the game-side helper
// and installed by the real launcher: the folder always becomes exactly the
// new release.
#include <gtest/gtest.h>

#include "rungame_update.h"
#include "tests/packer/packer_e2e_support.h"
#include "tests/packer/packer_support.h"
#include "tests/packer/random_release.h"
#include "tests/support/launcher_test.h"

using namespace testing_support;
using namespace packer_testing;

using PackedUpdateProperty = LauncherTest;

TEST_F(PackedUpdateProperty, RealLauncherInstallsRandomPairsExactly) {
  RandomReleaseOptions options;
  options.previousGameDll = ReadFile(TestGameDll(1));
  options.nextGameDll = ReadFile(TestGameDll(2));
  // Working-folder mode: the install folder is the data folder.
  options.gameXml = SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.ready"}});
  for (unsigned seed : PropertySeeds(6)) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun with PACKER_PROPERTY_SEED=" + std::to_string(seed) +
                 " PACKER_PROPERTY_CASES=1)");
    const std::string root = Join(scratch, "seed" + std::to_string(seed));
    const std::string install = Join(root, "install");
    const std::string next = Join(root, "next");
    const std::string update = Join(root, "update");
    const ReleasePair pair = RandomReleasePair(seed, options);
    MakeFolders(root);
    WriteTree(install, pair.previous);
    WriteTree(next, pair.next);
    ASSERT_EQ(0, RunPackerExe("pack " + Quoted(install) + " " + Quoted(next) + " " + Quoted(update)));

    const std::string launcherExe = ReadFile(LauncherExe());
    WriteFile(Join(install, "launcher.exe"), launcherExe);
    ASSERT_EQ(RUNGAME_STAGED, RunGameStageUpdate(update.c_str(), nullptr, install.c_str(), "update.ready", nullptr, 0));
    ASSERT_EQ(0, Run(Install{install, Join(install, "launcher.exe")}));

    Tree expected = pair.next;
    AddFile(expected, "launcher.exe", launcherExe);
    AddFile(expected, "update.ready", "");
    EXPECT_EQ("", TreeDifference(ReadTree(install), expected));
    if (HasFailure()) return;
  }
}
