// Which folder the game runs from: the install folder, or the data folder
// under the machine-wide application-data folder.
#include <gtest/gtest.h>

#include "tests/support/launcher_test.h"
#include "tests/support/wine_host.h"

using namespace testing_support;

using Modes = LauncherTest;

TEST_F(Modes, FalseSettingRunsFromTheInstallFolder) {
  const Install install = MakeInstall(Join(scratch, "install"),
                                      SettingsXml({{"use_app_data_folder", "false"}, {"company", company}}));
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_FALSE(Exists(companyFolder));
}

TEST_F(Modes, AppDataModeRunsTheProvisionedCopy) {
  const std::string xml = SettingsXml({{"company", company}, {"product", "Game"}, {"lang", "en"}});
  const Install install = MakeInstall(Join(scratch, "install"), xml);
  const std::string data = Join(companyFolder, "Game\\en");
  ProvisionDataFolder(data, xml);
  EXPECT_EQ(0, Run(install));
  const auto records = Runs();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(data, records[0].at("cwd"));
  EXPECT_EQ(Join(data, "game.dll"), records[0].at("module_path"));
}

// Every other spelling is a row of the unit table SettingIsTrue.
TEST_F(Modes, OtherSpellingsOfFalseStillMeanAppData) {
  for (const char* value : {"FALSE", ""}) {
    const std::string xml = SettingsXml({{"use_app_data_folder", value}, {"company", company}, {"product", "P"}});
    const Install install = MakeInstall(Join(scratch, "install"), xml);
    const std::string data = Join(companyFolder, "P");
    ProvisionDataFolder(data, xml);
    EXPECT_EQ(0, Run(install)) << value;
    EXPECT_EQ(data, RanIn()) << value;
  }
}

TEST_F(Modes, InstallFolderIsTheWorkingFolderNotTheExecutablesFolder) {
  const Install install = MakeInstall(Join(scratch, "install"), SettingsXml({{"use_app_data_folder", "false"}}));
  const std::string other = Join(scratch, "started-here");
  MakeFolders(other);
  WriteFile(Join(other, "game.xml"), SettingsXml({{"use_app_data_folder", "false"}}));
  ASSERT_TRUE(CopyFileA(TestGameDll(2).c_str(), Join(other, "game.dll").c_str(), FALSE));
  RunOptions options;
  options.workingFolder = other;
  EXPECT_EQ(0, Run(install, {}, options));
  const auto records = Runs();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(other, records[0].at("cwd"));
  EXPECT_EQ("2", records[0].at("variant"));
}

TEST_F(Modes, OldWindowsRunsFromTheInstallFolderWhateverTheSettings) {
  for (const char* version : {"nt40", "win98"}) {
    const std::string exeName = std::string("oldwin-") + version + ".exe";
    ASSERT_TRUE(wine_host::SetAppWindowsVersion(exeName, version));
    const Install install = MakeInstall(Join(scratch, version), SettingsXml({{"company", company}}), exeName);
    EXPECT_EQ(0, Run(install)) << version;
    EXPECT_EQ(install.folder, RanIn()) << version;
    EXPECT_FALSE(Exists(companyFolder)) << version;
  }
}

// Settings that would make the launcher act on the application-data folder
// itself, another company's folder or anything outside it: the game runs from
// the install folder and nothing under the application-data folder changes.
// Each kind of unusable name is a row of the unit table ComposeAppDataFolders.
TEST_F(Modes, UnusableCompanyProductOrLangFallsBackToTheInstallFolder) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> cases = {
      {{"product", "Game"}, {"lang", "en"}},
      {{"company", ".."}, {"product", company}},
      {{"company", company}, {"product", std::string(150, 'p')}, {"lang", std::string(100, 'l')}},
  };
  const auto before = ListFolder(CommonAppData());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Install install = MakeInstall(Join(scratch, "install" + std::to_string(i)), SettingsXml(cases[i]));
    EXPECT_EQ(0, Run(install)) << "case " << i;
    EXPECT_EQ(install.folder, RanIn()) << "case " << i;
  }
  EXPECT_EQ(before, ListFolder(CommonAppData()));
  EXPECT_FALSE(Exists(companyFolder));
}

TEST_F(Modes, MalformedSettingsFileFallsBackToTheInstallFolder) {
  const Install install = MakeInstall(Join(scratch, "install"), "<settings company=");
  const auto before = ListFolder(CommonAppData());
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  EXPECT_EQ(before, ListFolder(CommonAppData()));
}

// A settings file nested deeper or larger than any real one reads as
// malformed: the launcher neither crashes nor stalls, and the game runs.
TEST_F(Modes, SettingsFileBeyondTheLimitsFallsBackToTheInstallFolder) {
  const std::string settings = SettingsXml({{"company", company}, {"product", "Game"}});
  std::string nested = settings;
  for (int i = 0; i < 100000; ++i) nested += "<a>";
  std::string manyAttributes = "<settings company=\"" + company + "\"";
  for (int i = 0; i < 50000; ++i) manyAttributes += " a" + std::to_string(i) + "=\"\"";
  manyAttributes += "/>";
  int index = 0;
  for (const std::string& xml : {nested, manyAttributes}) {
    const Install install = MakeInstall(Join(scratch, "install" + std::to_string(index++)), xml);
    EXPECT_EQ(0, Run(install)) << "case " << index;
    EXPECT_EQ(install.folder, RanIn()) << "case " << index;
  }
  EXPECT_FALSE(Exists(companyFolder));
}
