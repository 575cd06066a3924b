// The launcher started as a real process with the scripted test game.
#include <gtest/gtest.h>

#include "tests/support/harness.h"

using namespace testing_support;

namespace {

const std::string kWorkingFolderMode = SettingsXml({{"use_app_data_folder", "false"}});

struct Fixture {
  std::string scratch = FreshScratchFolder();
  std::string record = Join(scratch, "record.txt");
  Install install = MakeInstall(Join(scratch, "install"), kWorkingFolderMode);

  long Run(const GameScript& script, RunOptions options = {}) {
    InstallGameScript(scratch, script);
    if (options.workingFolder.empty()) options.workingFolder = install.folder;
    return RunLauncher(install.exe, options);
  }
};

}  // namespace

TEST(RunLoop, GameReturningZeroEndsTheLauncherWithZero) {
  Fixture f;
  EXPECT_EQ(0, f.Run({f.record, {{"return", "0"}}}));
  EXPECT_EQ(1u, ReadRecords(f.record).size());
}

TEST(RunLoop, NonzeroResultStartsAnotherCycle) {
  Fixture f;
  EXPECT_EQ(0, f.Run({f.record, {}, {{{"return", "2"}}, {{"return", "1"}}, {{"return", "0"}}}}));
  const auto records = ReadRecords(f.record);
  ASSERT_EQ(3u, records.size());
  for (const Record& record : records) {
    EXPECT_EQ("1", record.at("module_is_self")) << "each cycle gets the handle of the module it loaded";
  }
}

TEST(RunLoop, MissingGameModuleEndsWithOne) {
  Fixture f;
  ASSERT_TRUE(DeleteFileA(Join(f.install.folder, "game.dll").c_str()));
  EXPECT_EQ(1, f.Run({f.record, {}}));
}

TEST(RunLoop, ModuleWithoutRunGameEndsWithOne) {
  Fixture f;
  ASSERT_TRUE(CopyFileA(NoGameDll().c_str(), Join(f.install.folder, "game.dll").c_str(), FALSE));
  EXPECT_EQ(1, f.Run({f.record, {}}));
}

// A 32-bit launcher cannot load a 64-bit game.dll, nor the other way round:
// that is a module that cannot be loaded.
TEST(RunLoop, GameModuleOfTheOtherArchitectureEndsWithOne) {
  Fixture f;
  ASSERT_TRUE(CopyFileA(OtherArchitectureGameDll().c_str(), Join(f.install.folder, "game.dll").c_str(), FALSE));
  EXPECT_EQ(1, f.Run({f.record, {}}));
  EXPECT_TRUE(ReadRecords(f.record).empty());
}

TEST(RunLoop, ArgumentsReachTheGameUnchanged) {
  Fixture f;
  RunOptions options;
  options.arguments = "-windowed \"C:\\Some Path\\x\"  --level=3 \xe9t\xe9 tail  ";
  options.showCommand = SW_SHOWMINNOACTIVE;
  EXPECT_EQ(0, f.Run({f.record, {}, {{{"return", "1"}}, {{"return", "0"}}}}, options));
  const auto records = ReadRecords(f.record);
  ASSERT_EQ(2u, records.size());
  for (const Record& record : records) {
    EXPECT_EQ(HexOf(options.arguments), record.at("command_line_hex"));
    EXPECT_EQ(std::to_string(SW_SHOWMINNOACTIVE), record.at("show"));
    // WinMain's previous-instance argument is always null; the game sees it at
    // the full pointer width of this build.
    EXPECT_EQ(std::string(2 * sizeof(HINSTANCE), '0'), record.at("previous"));
    EXPECT_EQ("1", record.at("module_is_self"));
  }
}

TEST(RunLoop, EmptyCommandLineAndDefaultShowCommand) {
  Fixture f;
  EXPECT_EQ(0, f.Run({f.record, {}}));
  const auto records = ReadRecords(f.record);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("", records[0].at("command_line_hex"));
  EXPECT_EQ(std::to_string(SW_SHOWDEFAULT), records[0].at("show"));
}

TEST(RunLoop, GameRunsInTheDataFolderEvenAfterChangingFolder) {
  Fixture f;
  const std::string elsewhere = Join(f.scratch, "elsewhere");
  MakeFolders(elsewhere);
  EXPECT_EQ(0, f.Run({f.record, {}, {{{"return", "1"}, {"chdir", elsewhere}}, {{"return", "0"}}}}));
  const auto records = ReadRecords(f.record);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(f.install.folder, records[1].at("cwd"));
  EXPECT_EQ(Join(f.install.folder, "game.dll"), records[1].at("module_path"));
}

TEST(SingleInstance, SecondLauncherExitsWithZeroAndTouchesNothing) {
  Fixture f;
  const std::string running = Join(f.scratch, "running.flag");
  const std::string release = Join(f.scratch, "release.flag");
  InstallGameScript(f.scratch, {f.record, {}, {{{"signal", running}, {"wait_for", release}, {"return", "0"}}}});
  RunOptions options;
  options.workingFolder = f.install.folder;
  LauncherProcess first(f.install.exe, options);
  ASSERT_TRUE(WaitForFile(running, 30000));

  const std::string other = Join(f.scratch, "other");
  MakeInstall(other, SettingsXml({{"company", UniqueCompany()}}));
  const auto before = ListFolder(other);
  RunOptions secondOptions;
  secondOptions.workingFolder = other;
  EXPECT_EQ(0, RunLauncher(Join(other, "launcher.exe"), secondOptions));
  EXPECT_EQ(before, ListFolder(other));
  EXPECT_FALSE(Exists(Join(CommonAppData(), UniqueCompany()))) << "the second launcher made a data folder";
  EXPECT_EQ(1u, ReadRecords(f.record).size()) << "the second launcher ran the game";

  WriteFile(release, "");
  EXPECT_EQ(0, first.Wait(30000));
}

TEST(SingleInstance, NextLauncherRunsAfterTheFirstEnded) {
  Fixture f;
  EXPECT_EQ(0, f.Run({f.record, {}}));
  EXPECT_EQ(0, f.Run({f.record, {}}));
  EXPECT_EQ(2u, ReadRecords(f.record).size());
}

// The game's own DLLs come from beside game.dll (the data folder), not from
// beside the launcher: after an update they are the updated ones.
TEST(RunLoop, GameDependenciesLoadFromTheGamesFolder) {
  const std::string scratch = FreshScratchFolder();
  const std::string record = Join(scratch, "record.txt");
  const std::string launcherFolder = Join(scratch, "launcher-only");
  const Install install = MakeInstall(launcherFolder, kWorkingFolderMode);
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "gamedep1\\gamedep.dll").c_str(),
                        Join(launcherFolder, "gamedep.dll").c_str(), FALSE));
  const std::string gameFolder = Join(scratch, "game-folder");
  MakeFolders(gameFolder);
  WriteFile(Join(gameFolder, "game.xml"), kWorkingFolderMode);
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "testgame_dep.dll").c_str(), Join(gameFolder, "game.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "gamedep2\\gamedep.dll").c_str(),
                        Join(gameFolder, "gamedep.dll").c_str(), FALSE));
  InstallGameScript(scratch, {record, {{"return", "0"}}});
  RunOptions options;
  options.workingFolder = gameFolder;
  EXPECT_EQ(0, RunLauncher(install.exe, options));
  const auto records = ReadRecords(record);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("2", records[0].at("dependency"));
}
