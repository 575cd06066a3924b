// The first start of the real launcher: the data folder is made and filled
// from the installation, and the game runs from there.
#include <gtest/gtest.h>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

class FirstStart : public CompanyTest {};

}  // namespace

TEST_F(FirstStart, FreshMachineMakesTheChainAndCopiesAllButTheLauncher) {
  const Install install = MakeGameInstall();
  ASSERT_TRUE(CopyFileA(LauncherExe().c_str(), Join(install.folder, "tool.exe").c_str(), FALSE));
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("1", "0"));
  WriteFile(Join(install.folder, "maps\\north\\m1.map"), "north map");
  MakeFolders(Join(install.folder, "saves"));
  ASSERT_FALSE(Exists(companyFolder));

  EXPECT_EQ(0, Run(install));

  const std::string data = DataFolder();
  EXPECT_TRUE(IsDirectory(data));
  EXPECT_EQ((std::vector<std::string>{"game.dll", "game.xml", "maps", "properties", "saves", "tool.exe"}),
            ListFolder(data));
  EXPECT_EQ("north map", ReadFile(Join(data, "maps\\north\\m1.map")));
  EXPECT_EQ(VersionXml("1", "0"), ReadFile(Join(data, "properties\\version.xml")));
  EXPECT_TRUE(ReadFile(LauncherExe()) == ReadFile(Join(data, "tool.exe")));
  const auto records = Runs();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(data, records[0].at("cwd"));
  EXPECT_EQ(Join(data, "game.dll"), records[0].at("module_path"));
}

TEST_F(FirstStart, CopyKeepsDataOnlyFilesAndReplacesSameNamedOnes) {
  const Install install = MakeGameInstall();
  WriteFile(Join(install.folder, "readme.txt"), "installed");
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("2", "0"));
  const std::string data = DataFolder();
  WriteFile(Join(data, "readme.txt"), "old copy");
  WriteFile(Join(data, "mine.txt"), "only here");
  WriteFile(Join(data, "properties\\version.xml"), VersionXml("1", "0"));
  WriteFile(Join(data, "properties\\local.xml"), "local");
  ASSERT_TRUE(SetFileAttributesA(Join(data, "readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(0, Run(install));

  EXPECT_EQ("installed", ReadFile(Join(data, "readme.txt")));
  EXPECT_EQ("only here", ReadFile(Join(data, "mine.txt")));
  EXPECT_EQ(VersionXml("2", "0"), ReadFile(Join(data, "properties\\version.xml")));
  EXPECT_EQ("local", ReadFile(Join(data, "properties\\local.xml")));
  EXPECT_EQ(data, RanIn());
}

TEST_F(FirstStart, SavedGamesSurviveACopyForANewerInstall) {
  const Install install = MakeGameInstall();
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("1", "1"));
  ProvisionDataFolder();
  WriteFile(Join(DataFolder(), "properties\\version.xml"), VersionXml("1", "0"));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ("saved", ReadFile(Join(DataFolder(), "saves\\slot1.sav")));
  EXPECT_EQ(VersionXml("1", "1"), ReadFile(Join(DataFolder(), "properties\\version.xml")));
}

// Wine hands CreateProcessA's program the file's own spelling of its name,
// so another spelling cannot be tried from here.
TEST_F(FirstStart, LauncherIsNotCopiedButFilesNamedLikeItAre) {
  const Install install = MakeGameInstall("install", "Launch Game.exe");
  ASSERT_TRUE(CopyFileA(LauncherExe().c_str(), Join(install.folder, "launch game.exe.bak").c_str(), FALSE));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ((std::vector<std::string>{"game.dll", "game.xml", "launch game.exe.bak"}), ListFolder(DataFolder()));
}

TEST_F(FirstStart, EmptyProductAndLangCopyIntoTheCompanyLevel) {
  const Install install = MakeInstall(Join(scratch, "install"), SettingsXml({{"company", company}}));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ((std::vector<std::string>{"game.dll", "game.xml"}), ListFolder(companyFolder));
  EXPECT_EQ(companyFolder, RanIn());
}
