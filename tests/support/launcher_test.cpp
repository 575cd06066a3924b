#include "tests/support/launcher_test.h"

namespace testing_support {

void LauncherTest::SetUp() {
  scratch = FreshScratchFolder();
  record = Join(scratch, "record.txt");
  company = UniqueCompany();
  companyFolder = Join(CommonAppData(), company);
  RemoveTree(companyFolder);
}

void LauncherTest::TearDown() { RemoveTree(companyFolder); }

std::string LauncherTest::AppDataSettings(const std::vector<std::pair<std::string, std::string>>& extra) const {
  std::vector<std::pair<std::string, std::string>> settings = {{"company", company}, {"product", "Game"}, {"lang", "en"}};
  settings.insert(settings.end(), extra.begin(), extra.end());
  return SettingsXml(settings);
}

std::string LauncherTest::DataFolder() const { return companyFolder + "\\Game\\en"; }

void LauncherTest::ProvisionDataFolder(const std::string& dataFolder, const std::string& gameXml) const {
  WriteFile(Join(dataFolder, "saves\\slot1.sav"), "saved");
  EXPECT_TRUE(CopyFileA(TestGameDll().c_str(), Join(dataFolder, "game.dll").c_str(), FALSE)) << dataFolder;
  WriteFile(Join(dataFolder, "game.xml"), gameXml);
}

std::unique_ptr<Process> LauncherTest::Start(const Install& install, GameScript script, RunOptions options) {
  script.recordPath = record;
  InstallGameScript(scratch, script);
  if (options.workingFolder.empty()) options.workingFolder = install.folder;
  auto process = std::make_unique<Process>(install.exe, options);
  EXPECT_TRUE(process->Started()) << "cannot start " << install.exe << " (error " << process->StartError() << ")";
  return process;
}

long LauncherTest::Run(const Install& install, GameScript script, RunOptions options) {
  const DWORD timeoutMs = options.timeoutMs;
  return Start(install, std::move(script), std::move(options))->Wait(timeoutMs);
}

std::vector<Record> LauncherTest::Runs() const { return ReadRecords(record); }

std::string LauncherTest::RanIn() {
  const auto records = Runs();
  DeleteFileA(record.c_str());
  EXPECT_EQ(1u, records.size()) << "game runs";
  return records.size() == 1 ? records[0].at("cwd") : std::string();
}

}  // namespace testing_support
