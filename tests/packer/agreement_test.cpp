// The packer judges updates by the launcher's rules, taken from a model and
// from readers of its own: here they meet the launcher itself. Staging
// folders the packer would never write, installed by the real launcher, end
// as the model predicts; version and settings files read the same.
#include <gtest/gtest.h>

#include "packer/launcher_model.h"
#include "packer/release.h"
#include "packer/staged_file.h"
#include "provisioning/version_file.h"
#include "settings/settings.h"
#include "tests/packer/packer_support.h"
#include "tests/support/launcher_test.h"

using namespace testing_support;
using namespace packer_testing;
using packer::Tree;

namespace {

class ModelAgreement : public LauncherTest {
 protected:
  // An install in working-folder mode (so its folder is the data folder)
  // with `data` in it and `staging` as its "game" folder; the launcher run
  // once.
  void ExpectLauncherMatchesModel(const Tree& data, const Tree& staging) {
    const Install install = MakeInstall(
        Join(scratch, "install"), SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.ready"}}));
    WriteTree(install.folder, data);
    const Tree before = ReadTree(install.folder);
    WriteTree(Join(install.folder, "game"), staging);
    const packer::LauncherOutcome predicted = packer::ApplyLikeLauncher(staging, before, "update.ready");
    ASSERT_EQ(0, Run(install));
    EXPECT_EQ("", TreeDifference(ReadTree(install.folder), predicted.data));
  }
};

}  // namespace

TEST_F(ModelAgreement, PackingRulesAndDamage) {
  Tree data;
  AddFile(data, "levels\\level.dat", "installed level");
  AddFile(data, "keep.dat", "installed, damaged update");
  Tree staging;
  AddFile(staging, "levels\\level.dat.zip", packer::GzipBytes("new level"));
  AddFile(staging, "keep.dat.zip", packer::GzipBytes(Compressible(5000, 1)).substr(0, 40));
  AddFile(staging, "plain.txt.zip", "no gzip magic");
  AddFile(staging, "empty.bin.zip", "");
  AddFile(staging, "upper.ZIP", packer::GzipBytes("as it is"));
  AddFile(staging, "bundle.zip\\inner.txt.zip", packer::GzipBytes("inner"));
  AddFile(staging, "both.txt", "plain neighbour");
  AddFile(staging, "both.txt.zip", packer::GzipBytes("from packed"));
  AddFile(staging, "stale.unpacking~launcher", "leftover");
  AddFile(staging, "update.ready", "");
  ExpectLauncherMatchesModel(data, staging);
}

TEST_F(ModelAgreement, NoMarkerInstallsNothing) {
  Tree data;
  AddFile(data, "a.txt", "installed");
  Tree staging;
  AddFile(staging, "a.txt", "staged");
  ExpectLauncherMatchesModel(data, staging);
}

TEST_F(ModelAgreement, FileOverFolderInstallsNothing) {
  Tree data;
  AddFile(data, "music\\theme.ogg", "installed");
  Tree staging;
  AddFile(staging, "music", "a file now");
  AddFile(staging, "other.txt", "moves");
  AddFile(staging, "update.ready", "");
  ExpectLauncherMatchesModel(data, staging);
}

TEST(ReadingAgreement, VersionFilesReadAsTheLauncherReadsThem) {
  const std::string root = FreshScratchFolder();
  const std::vector<std::string> files = {
      "<version x=\"1\" y=\"4\"/>",
      "<VERSION x=\"07\" y=\" +3\"/>",
      "<version x=\"1\"/><version x=\"2\" y=\"5\"/>",
      "<version x=\"beta\" y=\"1.9\"/>",
      "<version x=\"99999999999\" y=\"-99999999999\"/>",
      "<root><version x=\"1\" y=\"1\"/></root>",
      "<version X=\"1\" Y=\"2\"/>",
      "<version x=\"1\" y=\"2\">",
      "",
  };
  for (const std::string& text : files) {
    WriteFile(Join(root, "properties\\version.xml"), text);
    const auto packerVersion = packer::ReadReleaseVersion(root);
    const auto launcherVersion = ReadVersionFile(Join(root, "properties\\version.xml"));
    ASSERT_EQ(launcherVersion.has_value(), packerVersion.has_value()) << text;
    if (!launcherVersion) continue;
    EXPECT_EQ(launcherVersion->x, packerVersion->x) << text;
    EXPECT_EQ(launcherVersion->y, packerVersion->y) << text;
  }
}

TEST(ReadingAgreement, SettingsReadAsTheLauncherReadsThem) {
  const std::string root = FreshScratchFolder();
  const std::vector<std::string> files = {
      "<settings update_semaphore=\"update.ready\"/>",
      "<SETTINGS update_semaphore=\"a &amp; b\"/>",
      "<settings company=\"x\"/><settings update_semaphore=\"second\"/>",
      "<other update_semaphore=\"no\"/><Settings update_semaphore=\"yes\"/>",
      "<root><settings update_semaphore=\"nested\"/></root>",
      "<settings Update_Semaphore=\"wrong case\"/>",
      "<settings update_semaphore=\"unclosed\">",
  };
  for (const std::string& text : files) {
    WriteFile(Join(root, "game.xml"), text);
    const auto elements = ReadTopLevelElements(Join(root, "game.xml"));
    const std::string launcherValue = elements ? FindSetting(*elements, "update_semaphore") : std::string();
    EXPECT_EQ(launcherValue, packer::ReadReleaseSetting(root, "update_semaphore")) << text;
  }
}
