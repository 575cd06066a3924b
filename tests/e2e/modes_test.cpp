// Which folder the game runs from: the install folder, or the data folder
// under the machine-wide application-data folder.
#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace testing_support;

namespace {

// A data folder that already holds the game, so no first start is needed.
std::string ProvisionDataFolder(const std::string& dataFolder, const std::string& gameXml) {
  MakeFolders(Join(dataFolder, "saves\\slot1"));
  EXPECT_TRUE(CopyFileA(TestGameDll().c_str(), Join(dataFolder, "game.dll").c_str(), FALSE));
  WriteFile(Join(dataFolder, "game.xml"), gameXml);
  return dataFolder;
}

class Modes : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch = FreshScratchFolder();
    record = Join(scratch, "record.txt");
    company = UniqueCompany();
    companyFolder = Join(CommonAppData(), company);
    RemoveTree(companyFolder);
  }
  void TearDown() override { RemoveTree(companyFolder); }

  long Run(const Install& install, const std::string& workingFolder = "") {
    InstallGameScript(scratch, {record, {{"return", "0"}}});
    RunOptions options;
    options.workingFolder = workingFolder.empty() ? install.folder : workingFolder;
    return RunLauncher(install.exe, options);
  }

  // Runs the game once and returns the folder it ran in.
  std::string RanIn() {
    const auto records = ReadRecords(record);
    EXPECT_EQ(1u, records.size());
    return records.empty() ? std::string() : records[0].at("cwd");
  }

  std::string scratch, record, company, companyFolder;
};

}  // namespace

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
  const std::string data = ProvisionDataFolder(Join(companyFolder, "Game\\en"), xml);
  EXPECT_EQ(0, Run(install));
  const auto records = ReadRecords(record);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(data, records[0].at("cwd"));
  EXPECT_EQ(Join(data, "game.dll"), records[0].at("module_path"));
}

TEST_F(Modes, OtherSpellingsOfFalseStillMeanAppData) {
  for (const char* value : {"FALSE", "False", "0", "no", ""}) {
    const std::string xml = SettingsXml({{"use_app_data_folder", value}, {"company", company}, {"product", "P"}});
    const Install install = MakeInstall(Join(scratch, "install"), xml);
    const std::string data = ProvisionDataFolder(Join(companyFolder, "P"), xml);
    EXPECT_EQ(0, Run(install)) << value;
    EXPECT_EQ(data, RanIn()) << value;
    DeleteFileA(record.c_str());
  }
}

TEST_F(Modes, InstallFolderIsTheWorkingFolderNotTheExecutablesFolder) {
  const Install install = MakeInstall(Join(scratch, "install"), SettingsXml({{"use_app_data_folder", "false"}}));
  const std::string other = Join(scratch, "started-here");
  MakeFolders(other);
  WriteFile(Join(other, "game.xml"), SettingsXml({{"use_app_data_folder", "false"}}));
  ASSERT_TRUE(CopyFileA(TestGameDll(2).c_str(), Join(other, "game.dll").c_str(), FALSE));
  EXPECT_EQ(0, Run(install, other));
  const auto records = ReadRecords(record);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(other, records[0].at("cwd"));
  EXPECT_EQ("2", records[0].at("variant"));
}

TEST_F(Modes, OldWindowsRunsFromTheInstallFolderWhateverTheSettings) {
  for (const char* version : {"nt40", "win98"}) {
    const std::string exeName = std::string("oldwin-") + version + ".exe";
    SetWineAppVersion(exeName, version);
    const Install install = MakeInstall(Join(scratch, version), SettingsXml({{"company", company}}), exeName);
    EXPECT_EQ(0, Run(install)) << version;
    EXPECT_EQ(install.folder, RanIn()) << version;
    EXPECT_FALSE(Exists(companyFolder)) << version;
    DeleteFileA(record.c_str());
  }
}

// Settings that would make the launcher act on the application-data folder
// itself, another company's folder or anything outside it: the game runs from
// the install folder and nothing under the application-data folder changes.
TEST_F(Modes, UnusableCompanyProductOrLangFallsBackToTheInstallFolder) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> cases = {
      {},
      {{"product", "Game"}, {"lang", "en"}},
      {{"company", ".."}, {"product", company}},
      {{"company", company + "\\..\\" + company + "x"}},
      {{"company", "C:\\windows"}},
      {{"company", company}, {"product", ".."}},
      {{"company", company}, {"lang", "a/b"}},
      {{"company", company}, {"product", "NUL"}},
      {{"company", company}, {"product", "trailing."}},
      {{"company", company}, {"product", std::string(150, 'p')}, {"lang", std::string(100, 'l')}},
  };
  const auto before = ListFolder(CommonAppData());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Install install = MakeInstall(Join(scratch, "install" + std::to_string(i)), SettingsXml(cases[i]));
    EXPECT_EQ(0, Run(install)) << "case " << i;
    EXPECT_EQ(install.folder, RanIn()) << "case " << i;
    DeleteFileA(record.c_str());
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
    DeleteFileA(record.c_str());
  }
  EXPECT_FALSE(Exists(companyFolder));
}
