// The staging pass in every cycle of the run loop: the game stages an update,
// returns nonzero, and the next cycle runs on it.
#include "tests/update/staging_fixture.h"

using namespace testing_support;
using namespace update_testing;

using UpdateCycle = StagingTest;

TEST_F(UpdateCycle, GameStagingANewModuleIsRestartedOnIt) {
  const std::string packedModule = Join(scratch, "game.dll.zip");
  WriteFile(packedModule, Gzip(ReadFile(TestGameDll(2))));
  const std::string flag = Join(scratch, "flag");
  WriteFile(flag, "ready");
  GameScript script;
  script.cycles = {{{"mkdir1", staging},
                    {"copy1", packedModule + "|" + InStaging("game.dll.zip")},
                    {"copy2", flag + "|" + InStaging("update.flag")},
                    {"return", "1"}},
                   {{"return", "0"}}};
  EXPECT_EQ(0, Run(script));
  const auto records = Runs();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("1", records[0].at("variant"));
  EXPECT_EQ("2", records[1].at("variant"));
  EXPECT_EQ(InData("game.dll"), records[1].at("module_path"));
  EXPECT_FALSE(Exists(InData("game.dll.zip")));
  ExpectStagingDiscarded();
}

namespace {

// Application-data mode, where the install folder, the data folder and a
// folder the game changes to each hold a game.xml naming another marker.
class SemaphoreSource : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    data = DataFolder();
    staging = Join(data, "game");
    elsewhere = Join(scratch, "elsewhere");
    payload = Join(scratch, "payload.txt");
    install = MakeInstall(Join(scratch, "install"), Settings("from_install"));
    ProvisionDataFolder(data, Settings("from_data"));
    WriteFile(Join(elsewhere, "game.xml"), Settings("from_elsewhere"));
    WriteFile(payload, "payload");
  }

  std::string Settings(const std::string& marker) const { return AppDataSettings({{"update_semaphore", marker}}); }
  // Game script keys that stage `file` and the marker `marker`.
  std::map<std::string, std::string> StageKeys(const std::string& file, const std::string& marker) const {
    return {{"mkdir1", staging}, {"copy1", payload + "|" + Join(staging, file)},
            {"copy2", payload + "|" + Join(staging, marker)}};
  }
  long Run(const GameScript& script = {}) { return LauncherTest::Run(install, script); }
  bool Installed(const std::string& file) const { return Exists(Join(data, file)); }
  // Cycle 1 stages wrong.txt under `firstMarker`, cycle 2 right.txt under
  // `secondMarker`; only the marker named by the game.xml of the working folder
  // at the start of that cycle counts, so only right.txt is installed.
  void ExpectOnlySecondStagingInstalled(const std::string& firstMarker, const std::string& secondMarker,
                                          const std::string& chdir) {
    GameScript script;
    auto first = StageKeys("wrong.txt", firstMarker);
    auto second = StageKeys("right.txt", secondMarker);
    for (auto* keys : {&first, &second}) {
      (*keys)["return"] = "1";
      if (!chdir.empty()) (*keys)["chdir"] = chdir;
    }
    script.cycles = {first, second, {{"return", "0"}}};
    EXPECT_EQ(0, Run(script));
    EXPECT_EQ(3u, Runs().size());
    EXPECT_FALSE(Installed("wrong.txt"));
    EXPECT_TRUE(Installed("right.txt"));
  }

  std::string data, staging, elsewhere, payload;
  Install install;
};

}  // namespace

TEST_F(SemaphoreSource, FirstCycleReadsTheInstallFolder) {
  WriteFile(Join(staging, "a.txt"), "a");
  WriteFile(Join(staging, "from_data"), "");
  EXPECT_EQ(0, Run());
  EXPECT_FALSE(Installed("a.txt")) << "the data folder's marker name was used in the first cycle";

  WriteFile(Join(staging, "b.txt"), "b");
  WriteFile(Join(staging, "from_install"), "");
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(Installed("b.txt"));
  EXPECT_TRUE(Installed("from_install"));
}

TEST_F(SemaphoreSource, LaterCyclesReadTheDataFolder) {
  ExpectOnlySecondStagingInstalled("from_install", "from_data", "");
}

TEST_F(SemaphoreSource, LaterCyclesReadTheFolderTheGameChangedTo) {
  ExpectOnlySecondStagingInstalled("from_data", "from_elsewhere", elsewhere);
}
