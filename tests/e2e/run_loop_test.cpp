// The launcher started as a real process with the scripted test game.
#include <gtest/gtest.h>

#include "tests/support/launcher_test.h"

using namespace testing_support;

namespace {

const std::string kWorkingFolderMode = SettingsXml({{"use_app_data_folder", "false"}});

// An install run in working-folder mode.
class RunLoop : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    install = MakeInstall(Join(scratch, "install"), kWorkingFolderMode);
  }
  long Run(GameScript script = {}, RunOptions options = {}) { return LauncherTest::Run(install, script, options); }

  Install install;
};
using SingleInstance = RunLoop;

}  // namespace

TEST_F(RunLoop, GameReturningZeroEndsTheLauncherWithZero) {
  EXPECT_EQ(0, Run({{{"return", "0"}}}));
  EXPECT_EQ(1u, Runs().size());
}

TEST_F(RunLoop, NonzeroResultStartsAnotherCycle) {
  EXPECT_EQ(0, Run({{}, {{{"return", "2"}}, {{"return", "1"}}, {{"return", "0"}}}}));
  const auto records = Runs();
  ASSERT_EQ(3u, records.size());
  for (const Record& record : records) {
    EXPECT_EQ("1", record.at("module_is_self")) << "each cycle gets the handle of the module it loaded";
  }
}

TEST_F(RunLoop, MissingGameModuleEndsWithOne) {
  ASSERT_TRUE(DeleteFileA(Join(install.folder, "game.dll").c_str()));
  EXPECT_EQ(1, Run());
}

TEST_F(RunLoop, ModuleWithoutRunGameEndsWithOne) {
  ASSERT_TRUE(CopyFileA(NoGameDll().c_str(), Join(install.folder, "game.dll").c_str(), FALSE));
  EXPECT_EQ(1, Run());
}

// A 32-bit launcher cannot load a 64-bit game.dll, nor the other way round:
// that is a module that cannot be loaded.
TEST_F(RunLoop, GameModuleOfTheOtherArchitectureEndsWithOne) {
  ASSERT_TRUE(CopyFileA(OtherArchitectureGameDll().c_str(), Join(install.folder, "game.dll").c_str(), FALSE));
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(Runs().empty());
}

TEST_F(RunLoop, ArgumentsReachTheGameUnchanged) {
  RunOptions options;
  options.arguments = "-windowed \"C:\\Some Path\\x\"  --level=3 \xe9t\xe9 tail  ";
  options.showCommand = SW_SHOWMINNOACTIVE;
  EXPECT_EQ(0, Run({{}, {{{"return", "1"}}, {{"return", "0"}}}}, options));
  const auto records = Runs();
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

TEST_F(RunLoop, EmptyCommandLineAndDefaultShowCommand) {
  EXPECT_EQ(0, Run());
  const auto records = Runs();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("", records[0].at("command_line_hex"));
  EXPECT_EQ(std::to_string(SW_SHOWDEFAULT), records[0].at("show"));
}

TEST_F(RunLoop, GameRunsInTheDataFolderEvenAfterChangingFolder) {
  const std::string elsewhere = Join(scratch, "elsewhere");
  MakeFolders(elsewhere);
  EXPECT_EQ(0, Run({{}, {{{"return", "1"}, {"chdir", elsewhere}}, {{"return", "0"}}}}));
  const auto records = Runs();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(install.folder, records[1].at("cwd"));
  EXPECT_EQ(Join(install.folder, "game.dll"), records[1].at("module_path"));
}

TEST_F(SingleInstance, SecondLauncherExitsWithZeroAndTouchesNothing) {
  const std::string running = Join(scratch, "running.flag");
  const std::string release = Join(scratch, "release.flag");
  const GameScript script = {{}, {{{"signal", running}, {"wait_for", release}, {"return", "0"}}}};
  const auto first = Start(install, script);
  ASSERT_TRUE(WaitForFile(running, 30000));

  const Install other = MakeInstall(Join(scratch, "other"), SettingsXml({{"company", company}}));
  const auto before = ListFolder(other.folder);
  EXPECT_EQ(0, LauncherTest::Run(other, script));
  EXPECT_EQ(before, ListFolder(other.folder));
  EXPECT_FALSE(Exists(companyFolder)) << "the second launcher made a data folder";
  EXPECT_EQ(1u, Runs().size()) << "the second launcher ran the game";

  WriteFile(release, "");
  EXPECT_EQ(0, first->Wait(30000));
}

TEST_F(SingleInstance, NextLauncherRunsAfterTheFirstEnded) {
  EXPECT_EQ(0, Run());
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2u, Runs().size());
}

// The game's own DLLs come from beside game.dll (the data folder), not from
// beside the launcher: after an update they are the updated ones.
TEST_F(RunLoop, GameDependenciesLoadFromTheGamesFolder) {
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "gamedep1\\gamedep.dll").c_str(),
                        Join(install.folder, "gamedep.dll").c_str(), FALSE));
  const std::string gameFolder = Join(scratch, "game-folder");
  MakeFolders(gameFolder);
  WriteFile(Join(gameFolder, "game.xml"), kWorkingFolderMode);
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "testgame_dep.dll").c_str(), Join(gameFolder, "game.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "gamedep2\\gamedep.dll").c_str(),
                        Join(gameFolder, "gamedep.dll").c_str(), FALSE));
  RunOptions options;
  options.workingFolder = gameFolder;
  EXPECT_EQ(0, Run({}, options));
  const auto records = Runs();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("2", records[0].at("dependency"));
}

// A DLL the game imports is never taken from a folder on PATH (nor from the
// working folder of a later moment): the game module then does not load.
TEST_F(RunLoop, GameDependenciesNeverComeFromAFolderOnPath) {
  const std::string planted = Join(scratch, "on-path");
  MakeFolders(planted);
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "gamedep1\\gamedep.dll").c_str(),
                        Join(planted, "gamedep.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(Join(TestBinaryFolder(), "testgame_dep.dll").c_str(),
                        Join(install.folder, "game.dll").c_str(), FALSE));
  char path[32768] = {};
  const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
  ASSERT_LT(length, sizeof path);
  SetEnvironmentVariableA("PATH", (planted + ";" + path).c_str());
  const long exitCode = Run();
  SetEnvironmentVariableA("PATH", path);
  EXPECT_EQ(1, exitCode) << "no game module that loads";
  EXPECT_TRUE(Runs().empty()) << "the game ran with a DLL from PATH";
}
