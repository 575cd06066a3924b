// The whole road of an update: the studio packs two releases with packer.exe,
// the game stages the update through the game-side helper and returns 1, and
// the launcher turns the previous release's data folder into exactly the new
// release, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "packer/keys.h"
#include "packer/sha256.h"
#include "tests/packer/packer_e2e_support.h"
#include "tests/packer/packer_support.h"
#include "tests/provisioning/provisioning_support.h"
#include "tests/support/launcher_test.h"
#include "tests/support/rival.h"
#include "tests/support/tree.h"
#include "tests/support/wine_host.h"

using namespace testing_support;
using namespace packer_testing;

namespace {

class PackedUpdate : public LauncherTest {
 protected:

  Tree Release(int minor, int gameVariant) {
    Tree release;
    AddFile(release, "launcher.exe", ReadFile(LauncherExe()));
    AddFile(release, "game.dll", ReadFile(Join(TestBinaryFolder(), "testgame_stager_v" + std::to_string(gameVariant) + ".dll")));
    AddFile(release, "game.xml", GameXml("update.ready", company));
    AddFile(release, "properties\\version.xml", VersionXml(1, minor));
    return release;
  }

  void SetUp() override {
    LauncherTest::SetUp();
    data = Join(companyFolder, "Rocket Game\\en");
    previousFolder = Join(scratch, "release-1.0");
    nextFolder = Join(scratch, "release-1.1");
    download = Join(scratch, "download\\update-1.1");
    stageResult = Join(scratch, "stage-result.txt");
  }

  // Releases 1.0 and 1.1 with a level each (1.1 one more, and two files and
  // a folder fewer), afresh, both
  // shipping `launcher` as their launcher, each with its record signed by
  // the test key.
  void WriteKeyedReleases(const std::string& launcher) {
    Tree previous = Release(0, 1);
    previous["launcher.exe"] = launcher;
    AddFile(previous, "levels\\level1.dat", Compressible(60000, 1));
    AddFile(previous, "helper.dll", ReadFile(NoGameDll()));  // a module the game may load itself
    AddFile(previous, "levels\\old.dat", Compressible(5000, 4));  // 1.1 lacks them: the update removes them
    AddFile(previous, "retired\\notes.txt", "retired in 1.1");
    Tree next = Release(1, 2);
    next["launcher.exe"] = launcher;
    AddFile(next, "helper.dll", ReadFile(NoGameDll()));
    AddFile(next, "levels\\level1.dat", Compressible(60000, 2));
    AddFile(next, "levels\\level2.dat", Compressible(3000, 3));
    RemoveTree(previousFolder);
    RemoveTree(nextFolder);
    WriteTree(previousFolder, previous);
    WriteTree(nextFolder, next);
    MakeFolders(Join(scratch, "download"));
    const std::string key = WriteTestKey();
    for (const std::string& release : {previousFolder, nextFolder}) {
      EXPECT_EQ(0, RunPackerExe("record " + Quoted(release) + " --key " + Quoted(key)));
    }
  }

  // The test seed's key pair, written as `packer keygen` writes one; the
  // secret key's path.
  std::string WriteTestKey() {
    packer::KeyPair pair;
    for (std::size_t i = 0; i < pair.seed.size(); ++i) pair.seed[i] = static_cast<std::uint8_t>(i + 1);
    pair.publicKey = *packer::HexToBytes<32>(TEST_UPDATE_PUBLIC_KEY);
    const std::string key = Join(scratch, "studio.key");
    RemoveTree(key);
    RemoveTree(Join(scratch, "studio.pub"));
    std::string error;
    EXPECT_TRUE(packer::WriteKeyPair(pair, key, Join(scratch, "studio.pub"), error)) << error;
    return key;
  }

  std::string data, previousFolder, nextFolder, download, stageResult;
};

}  // namespace

TEST_F(PackedUpdate, LauncherTurnsThePreviousReleaseIntoTheNewOne) {
  Tree previous = Release(0, 1);
  AddFile(previous, "levels\\level1.dat", Compressible(60000, 1));
  AddFile(previous, "mods\\archive.zip", ZipArchiveBytes(1));
  AddFile(previous, "textures\\stone.bin", Incompressible(20000, 1));
  AddFile(previous, "readme.txt", "version 1.0");
  Tree next = Release(1, 2);
  AddFile(next, "levels\\level1.dat", Compressible(60000, 2));
  AddFile(next, "levels\\level2.dat", Compressible(30000, 3));
  AddFile(next, "mods\\archive.zip", ZipArchiveBytes(2));  // a real archive: packed as archive.zip.zip
  AddFile(next, "mods\\EXTRA.ZIP", ZipArchiveBytes(3));    // upper case: never unpacked
  AddFile(next, "textures\\stone.bin", Incompressible(20000, 2));
  AddFile(next, "readme.txt", "version 1.0");
  AddFile(next, "empty.txt", "");
  AddFolder(next, "screenshots");
  WriteTree(previousFolder, previous);
  WriteTree(nextFolder, next);

  MakeFolders(Join(scratch, "download"));
  ASSERT_EQ(0, RunPackerExe("pack " + Quoted(previousFolder) + " " + Quoted(nextFolder) + " " + Quoted(download)));
  ASSERT_TRUE(Exists(Join(download, "mods\\archive.zip.zip")));
  ASSERT_EQ(0, RunPackerExe("verify " + Quoted(download)));

  GameScript script;
  script.cycles = {{{"stage", download + "|update.ready|" + stageResult}, {"return", "1"}}, {{"return", "0"}}};
  ASSERT_EQ(0, Run(Install{previousFolder, Join(previousFolder, "launcher.exe")}, script));

  EXPECT_EQ("0", ReadFile(stageResult));
  const auto records = Runs();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("1", records[0].at("variant"));
  EXPECT_EQ("2", records[1].at("variant")) << "the second cycle ran the old game.dll";

  // The data folder: the new release but the launcher, plus the marker the
  // update carried in.
  Tree expected = next;
  expected.erase("launcher.exe");
  AddFile(expected, "update.ready", "");
  EXPECT_EQ("", TreeDifference(ReadTree(data), expected));
  EXPECT_FALSE(Exists(Join(data, "game")));
  EXPECT_FALSE(Exists(download));
}

// A launcher built with the studio's key, raced at every change of a signed
// update: a unix rival renames other bytes over the staged file each change
// moves, or swaps the change's folders for links to copies outside. Only the
// signed bytes are ever installed, the game runs, nothing outside changes.
TEST_F(PackedUpdate, KeyedLauncherRacedAtEveryChangeInstallsOnlySignedBytes) {
  if (wine_host::UnixPathOf(scratch).empty()) GTEST_SKIP() << "the rival is a unix process: under Wine only";
  const std::string key = WriteTestKey();
  const std::string launcher = ReadFile(Join(TestBinaryFolder(), "launcher_keyed_faults.exe"));
  WriteKeyedReleases(launcher);
  ASSERT_EQ(0, RunPackerExe("pack " + Quoted(previousFolder) + " " + Quoted(nextFolder) + " " + Quoted(download) +
                            " --sign " + Quoted(key)));
  const Install install{previousFolder, Join(previousFolder, "launcher.exe")};
  ASSERT_EQ(0, Run(install)) << "the first start fills the data folder";
  WriteFile(Join(data, "saves\\slot1.sav"), "saved");  // a saved game: no refresh copy at the raced starts
  const Tree filled = ReadTree(data);
  const Tree staged = ReadTree(download);
  const std::string raceFile = Join(scratch, "race.txt"), victims = Join(scratch, "victims");
  const auto startRaced = [&](const char* mode, long at, const std::string& countFile) {
    RemoveTree(data);
    WriteTree(data, filled);
    WriteTree(Join(data, "game"), staged);
    RemoveTree(victims);
    MakeFolders(victims);
    DeleteFileA(raceFile.c_str());
    DeleteFileA((raceFile + ".go").c_str());
    DeleteFileA(record.c_str());
    SetEnvironmentVariableA("LAUNCHER_FAULT_AT", std::to_string(at).c_str());
    SetEnvironmentVariableA("LAUNCHER_FAULT_MODE", mode);
    SetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", countFile.empty() ? nullptr : countFile.c_str());
    SetEnvironmentVariableA("LAUNCHER_RACE_FILE", raceFile.c_str());
    const long code = Run(install);
    for (const char* name : {"LAUNCHER_FAULT_AT", "LAUNCHER_FAULT_MODE", "LAUNCHER_FAULT_COUNT", "LAUNCHER_RACE_FILE"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    return code;
  };
  const std::string countFile = Join(scratch, "count.txt");
  ASSERT_EQ(0, startRaced("fail", 0, countFile));
  ASSERT_EQ(VersionXml(1, 1), ReadFile(Join(data, "properties\\version.xml"))) << "installed without a rival";
  const std::vector<std::string> kinds = ReadKinds(countFile);
  int acted = 0, races = 0;
  for (const Swap swap : {Swap::StagedBytes, Swap::Folders}) {
    for (const long k : ChangesToRace(kinds)) {
      SCOPED_TRACE("raced at change " + std::to_string(k) + (swap == Swap::Folders ? ", folders" : ", bytes"));
      DeleteFileA(raceFile.c_str());  // the last race's, before the rival watches
      Rival rival(raceFile, victims, companyFolder, Join(data, "game"), swap);
      const long code = startRaced("race", k, std::string());
      rival.Stop();
      rival.Restore();
      ++races;
      acted += rival.Acted() ? 1 : 0;
      EXPECT_EQ(0, code);
      EXPECT_EQ(1u, Runs().size()) << "the game ran";
      for (std::size_t i = 0; i < rival.Victims().size(); ++i) {
        EXPECT_EQ("", TreeDifference(ReadTree(rival.Victims()[i]), rival.VictimTrees()[i]))
            << "a folder outside";
      }
      for (const auto& entry : ReadTree(data)) {
        if (entry.first.compare(0, 5, "game\\") == 0) continue;
        EXPECT_EQ(std::string::npos, entry.second.find(kRivalBytes)) << entry.first << ": bytes nobody signed";
      }
      if (HasFailure()) return;
    }
  }
  std::printf("signed update: raced %d times at %lu changes, the rival acted %d times\n", races,
              static_cast<unsigned long>(kinds.size()), acted);
}

// A launcher built with the studio's key: an unsigned update goes to the
// Recycle Bin unused and the old game runs on; the same release signed with
// the key installs.
TEST_F(PackedUpdate, KeyedLauncherInstallsOnlyWhatTheStudioSigned) {
  const std::string key = WriteTestKey();
  const std::string keyedLauncher = ReadFile(Join(TestBinaryFolder(), "launcher_keyed.exe"));

  for (const bool sign : {false, true}) {
    SCOPED_TRACE(sign ? "signed" : "unsigned");
    RemoveTree(companyFolder);
    RemoveTree(Join(scratch, "download"));
    DeleteFileA(record.c_str());
    WriteKeyedReleases(keyedLauncher);
    const std::string signing = sign ? " --sign " + Quoted(key) : " --allow-deleted";
    ASSERT_EQ(0, RunPackerExe("pack " + Quoted(previousFolder) + " " + Quoted(nextFolder) + " " + Quoted(download) +
                              signing));

    GameScript script;
    script.cycles = {{{"stage", download + "|update.ready|" + stageResult}, {"return", "1"}}, {{"return", "0"}}};
    ASSERT_EQ(0, Run(Install{previousFolder, Join(previousFolder, "launcher.exe")}, script));
    const auto records = Runs();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(sign ? "2" : "1", records[1].at("variant")) << "the game of the second cycle";
    EXPECT_EQ(sign ? VersionXml(1, 1) : VersionXml(1, 0), ReadFile(Join(data, "properties\\version.xml")));
    EXPECT_FALSE(Exists(Join(data, "game"))) << "staged, then installed or discarded";
  }
}

// A signed update removes what the new release lacks, as part of its one
// journaled plan: a removed file goes to the Recycle Bin with the staging
// folder, but only while it holds the bytes the studio shipped in the
// version it updates from; a player's file under its name, or one changed,
// stays and is named to the game, and so does a removed folder that still
// holds anything. The launcher stopped at any change ends at 1.0 or at 1.1.
TEST_F(PackedUpdate, KeyedLauncherRemovesOnlyTheStudiosFilesTheNewReleaseLacks) {
  struct Row {
    const char* name;
    const char* plantedPath;  // written before the update; null: nothing
    const char* planted;      // its content; null: the path removed
    const char* status;
    bool binned;  // the studio's levels\old.dat went to the Recycle Bin
  };
  const Row rows[] = {
      {"untouched", nullptr, nullptr, "installed", true},
      {"a removed file changed", "levels\\old.dat", "a player's level", "installed: kept levels\\old.dat", false},
      {"a removed file gone already", "levels\\old.dat", nullptr, "installed", false},
      {"a folder in a removed file's place", "levels\\old.dat\\mine.txt", "a player's",
       "installed: kept levels\\old.dat", false},
      {"a player's file in a removed folder", "retired\\mine.txt", "a player's", "installed: kept retired", true},
  };
  const std::string key = WriteTestKey();
  WriteKeyedReleases(ReadFile(Join(TestBinaryFolder(), "launcher_keyed_faults.exe")));
  ASSERT_EQ(0, RunPackerExe("pack " + Quoted(previousFolder) + " " + Quoted(nextFolder) + " " + Quoted(download) +
                            " --sign " + Quoted(key)));
  const Install install{previousFolder, Join(previousFolder, "launcher.exe")};
  ASSERT_EQ(0, Run(install)) << "the first start fills the data folder";
  WriteFile(Join(data, "saves\\slot1.sav"), "a player's");
  const Tree filled = ReadTree(data), staged = ReadTree(download);
  Tree updated = ReadTree(nextFolder);
  updated.erase("launcher.exe");
  AddFile(updated, "saves\\slot1.sav", "a player's");
  updated["update.ready"] = staged.at("update.ready");
  // Starts on the filled data folder with the update staged, after `plant`.
  const auto start = [&](const std::function<void()>& plant, long faultAt, const std::string& countFile) {
    RemoveTree(data);
    WriteTree(data, filled);
    WriteTree(Join(data, "game"), staged);
    plant();
    DeleteFileA(record.c_str());
    SetEnvironmentVariableA("LAUNCHER_FAULT_AT", faultAt > 0 ? std::to_string(faultAt).c_str() : nullptr);
    SetEnvironmentVariableA("LAUNCHER_FAULT_MODE", "exit");
    SetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", countFile.empty() ? nullptr : countFile.c_str());
    const long code = Run(install);
    for (const char* name : {"LAUNCHER_FAULT_AT", "LAUNCHER_FAULT_MODE", "LAUNCHER_FAULT_COUNT"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    return code;
  };
  const std::string countFile = Join(scratch, "count.txt");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EmptyRecycleBin();
    Tree expected = updated;
    ASSERT_EQ(0, start([&] {
      if (row.plantedPath == nullptr) return;
      const std::string path = row.plantedPath;
      RemoveTree(Join(data, path.compare(0, 14, "levels\\old.dat") == 0 ? "levels\\old.dat" : path));
      if (row.planted == nullptr) return;
      WriteFile(Join(data, path), row.planted);
      AddFile(expected, path, row.planted);
    }, 0, row.plantedPath == nullptr ? countFile : std::string()));
    const auto runs = Runs();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(row.status, runs[0].at("update_status"));
    EXPECT_EQ("", TreeDifference(ReadTree(data), expected));
    const Tree bin = ReadTree(wine_host::RecycleBinFilesFolder());
    EXPECT_EQ(row.binned, std::any_of(bin.begin(), bin.end(), [&](const Tree::value_type& entry) {
                return entry.second == filled.at("levels\\old.dat");
              })) << "the studio's file, where a player may restore it";
    if (HasFailure()) return;
  }
  const std::vector<std::string> kinds = ReadKinds(countFile);
  for (const long k : ChangesToSweep(kinds)) {
    SCOPED_TRACE("stopped at change " + std::to_string(k) + " of " + std::to_string(kinds.size()));
    EXPECT_EQ(99, start([] {}, k, std::string()));
    DeleteFileA(record.c_str());
    ASSERT_EQ(0, Run(install)) << "the clean start that follows";
    const Tree now = WithoutTopLevel(ReadTree(data), {"game"});
    EXPECT_TRUE(TreeDifference(now, filled).empty() || TreeDifference(now, updated).empty())
        << "neither 1.0 nor 1.1:\n" << TreeDifference(now, updated);
    if (HasFailure()) return;
  }
}

// What a launcher loads from the shared data folder, planted there by
// another account after the first start: a keyed launcher loads only the
// modules of the data folder's signed record, sends what stands in a
// module's place to the Recycle Bin, repairs the rest from an installation
// of the same version, or runs the installation and tells the game why; a
// keyless one cannot tell code from code.
TEST_F(PackedUpdate, KeyedLauncherLoadsOnlyTheModulesTheStudioSigned) {
  enum class Planting { GameModule, SystemNamedDll, ImportNamedDll, FolderAsGame, FolderAsDll, OtherKeyRecord,
                        OtherVersionRecord, NoRecord, ForeignSettings, ForeignSettingsBrokenGame };
  struct Row {
    const char* name;
    Planting planting;
    const char* keyedVariant;  // the game a keyed launcher runs: "1" is the studio's
    bool keyedInData;          // ... from the data folder, else the installation
    const char* keyedStatus;   // ... telling the game this
    const char* keylessVariant;
    const char* binned;        // the planted entry a keyed launcher sends to the Recycle Bin
    bool keylessBins;          // ... and a keyless one too
  };
  const Row rows[] = {
      {"another game.dll", Planting::GameModule, "1", true, "none", "2", nullptr, false},
      {"a DLL named like a system one", Planting::SystemNamedDll, "1", true, "none", "1", "version.dll", false},
      {"a DLL named like one the game imports", Planting::ImportNamedDll, "1", true, "none", "1", "shell32.dll", false},
      {"a folder in game.dll's place", Planting::FolderAsGame, "1", true, "none", "1", "game.dll", true},
      {"a folder in a DLL's place", Planting::FolderAsDll, "1", true, "none", "1", "helper.dll", false},
      {"the record signed by another key", Planting::OtherKeyRecord, "1", true, "none", "1", nullptr, false},
      {"the record of another version", Planting::OtherVersionRecord, "1", true, "none", "1", nullptr, false},
      {"no record", Planting::NoRecord, "1", true, "none", "1", nullptr, false},
      {"a game.xml naming another company", Planting::ForeignSettings, "1", true, "none", "1", nullptr, false},
      {"the same with a broken game.dll", Planting::ForeignSettingsBrokenGame, "1", true, "none", "1", nullptr, false},
  };
  // Another company's folder, which a planted game.xml names.
  const std::string otherFolder = Join(CommonAppData(), company + " other");
  const std::string keyed = ReadFile(Join(TestBinaryFolder(), "launcher_keyed.exe"));
  const std::string keyless = ReadFile(LauncherExe());
  const std::string otherKey = Join(scratch, "other.key");
  ASSERT_EQ(0, RunPackerExe("keygen " + Quoted(otherKey) + " " + Quoted(Join(scratch, "other.pub"))));
  const std::string record = "properties\\release.signed";
  for (const Row& row : rows) {
    for (const bool withKey : {true, false}) {
      SCOPED_TRACE(std::string(row.name) + (withKey ? ", keyed" : ", keyless"));
      RemoveTree(companyFolder);
      EmptyRecycleBin();
      WriteKeyedReleases(withKey ? keyed : keyless);
      const Install install{previousFolder, Join(previousFolder, "launcher.exe")};
      ASSERT_EQ(0, Run(install)) << "the first start";
      WriteFile(Join(data, "saves\\slot1.sav"), "a player's");  // played: no first-start copy again
      const std::string studioGame = ReadFile(Join(data, "game.dll"));
      const auto plantFolder = [&](const char* name) {
        RemoveTree(Join(data, name));
        WriteFile(Join(data, std::string(name) + "\\inside.txt"), "planted");
      };
      switch (row.planting) {
        case Planting::GameModule: WriteFile(Join(data, "game.dll"), ReadFile(Join(nextFolder, "game.dll"))); break;
        case Planting::SystemNamedDll: WriteFile(Join(data, "version.dll"), ReadFile(NoGameDll())); break;
        case Planting::ImportNamedDll: WriteFile(Join(data, "shell32.dll"), ReadFile(NoGameDll())); break;
        case Planting::FolderAsGame: plantFolder("game.dll"); break;
        case Planting::FolderAsDll: plantFolder("helper.dll"); break;
        case Planting::OtherKeyRecord:
          ASSERT_EQ(0, RunPackerExe("record " + Quoted(nextFolder) + " --key " + Quoted(otherKey)));
          WriteFile(Join(data, record), ReadFile(Join(nextFolder, record)));
          break;
        case Planting::OtherVersionRecord: WriteFile(Join(data, record), ReadFile(Join(nextFolder, record))); break;
        case Planting::NoRecord: RemoveTree(Join(data, record)); break;
        case Planting::ForeignSettingsBrokenGame: WriteFile(Join(data, "game.dll"), ""); [[fallthrough]];
        case Planting::ForeignSettings:
          WriteFile(Join(data, "game.xml"),
                    SettingsXml({{"company", company + " other"}, {"product", "Rocket Game"}, {"lang", "en"}}));
          break;
      }
      RemoveTree(otherFolder);
      WriteFile(Join(otherFolder, "secret.txt"), "another company's");
      (void)RanIn();
      ASSERT_EQ(0, Run(install)) << "the game ran";
      const auto runs = Runs();
      ASSERT_EQ(1u, runs.size());
      EXPECT_EQ(withKey ? row.keyedVariant : row.keylessVariant, runs[0].at("variant")) << "the game that ran";
      EXPECT_EQ(!withKey || row.keyedInData ? data : previousFolder, RanIn());
      EXPECT_EQ(withKey ? row.keyedStatus : "none", runs[0].at("update_status"));
      if (withKey && row.keyedInData) {
        EXPECT_TRUE(studioGame == ReadFile(Join(data, "game.dll"))) << "repaired from the installation";
        EXPECT_TRUE(ReadFile(Join(previousFolder, record)) == ReadFile(Join(data, record)));
      }
      if (row.binned != nullptr) {
        const bool bins = withKey || row.keylessBins;
        EXPECT_EQ(bins, InRecycleBin(row.binned)) << "the planted entry, kept where the player may restore it";
      }
      EXPECT_EQ("a player's", ReadFile(Join(data, "saves\\slot1.sav")));
      EXPECT_EQ(std::vector<std::string>{"secret.txt"}, ListFolder(otherFolder)) << "another company's folder";
      EXPECT_FALSE(provisioning_support::EveryoneHasFullAccess(Join(otherFolder, "secret.txt")));
      if (HasFailure()) return;
    }
  }
  RemoveTree(otherFolder);
}

// After a signed update the installation holds an older version, so a
// module damaged then cannot be refreshed from it: a keyed launcher runs the
// installation and tells the game, which stages a repair (what the helper's
// RunGameRepairFromFeed stages: the damaged files under the version's
// signed record) into the data folder the launcher names; the next cycle
// installs it and runs the data folder again. A repair not as signed is
// refused, and the installation runs on.
TEST_F(PackedUpdate, KeyedLauncherRunsTheInstallationUntilARepairIsStaged) {
  struct Row {
    const char* name;
    const char* damaged;  // the file changed after the update
    bool forged;          // the repair brings other bytes than the record's
  };
  const Row rows[] = {
      {"a module changed", "helper.dll", false},
      {"game.dll changed", "game.dll", false},
      {"an older record replayed", "properties\\release.signed", false},
      {"a forged repair", "helper.dll", true},
  };
  const std::string key = WriteTestKey();
  const std::string keyed = ReadFile(Join(TestBinaryFolder(), "launcher_keyed.exe"));
  const Install install{previousFolder, Join(previousFolder, "launcher.exe")};
  const std::string repair = Join(scratch, "repair");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(companyFolder);
    RemoveTree(Join(scratch, "download"));
    RemoveTree(repair);
    DeleteFileA(record.c_str());
    WriteKeyedReleases(keyed);
    ASSERT_EQ(0, RunPackerExe("pack " + Quoted(previousFolder) + " " + Quoted(nextFolder) + " " + Quoted(download) +
                              " --sign " + Quoted(key)));
    GameScript update;
    update.cycles = {{{"stage", download + "|update.ready|" + stageResult}, {"return", "1"}}, {{"return", "0"}}};
    ASSERT_EQ(0, Run(install, update));
    const auto updated = Runs();
    ASSERT_EQ(2u, updated.size());
    ASSERT_EQ("installed", updated[1].at("update_status")) << ReadFile(stageResult) << updated[0].at("update_status");
    WriteFile(Join(data, "saves\\slot1.sav"), "a player's");
    const std::string studioBytes = ReadFile(Join(nextFolder, row.damaged));
    // The older version's bytes, replayed: the studio's own, of another version.
    const std::string older = ReadFile(Join(previousFolder, row.damaged));
    WriteFile(Join(data, row.damaged), older == studioBytes ? older + "changed" : older);

    const std::string signedRecord = ReadFile(Join(nextFolder, "properties\\release.signed"));
    const std::string brought = row.forged ? studioBytes + "forged" : studioBytes;
    WriteFile(Join(repair, row.damaged), brought);
    WriteFile(Join(repair, "update.ready"), signedRecord);
    std::string manifest = "rungame-update-manifest 1\nfrom 1.1\nto 1.1\nmarker update.ready\n";
    if (std::string(row.damaged).find('\\') != std::string::npos) manifest += "folder properties\n";
    const std::pair<std::string, std::string> files[] = {{row.damaged, brought}, {"update.ready", signedRecord}};
    for (const auto& file : files) {
      manifest += "file " + std::to_string(file.second.size()) + " " + packer::Sha256Hex(file.second) + " " +
                  file.first + "\n";
    }
    WriteFile(repair + ".manifest", manifest);
    DeleteFileA(record.c_str());  // the update's two runs
    GameScript repairing;
    repairing.cycles = {{{"stage", repair + "|update.ready|" + stageResult}, {"return", "1"}}, {{"return", "0"}}};
    ASSERT_EQ(0, Run(install, repairing));
    EXPECT_EQ("0", ReadFile(stageResult)) << "staged into the data folder";
    const auto runs = Runs();
    ASSERT_EQ(2u, runs.size());
    EXPECT_EQ("1", runs[0].at("variant")) << "the installation ran";
    EXPECT_EQ("damaged: " + std::string(row.damaged), runs[0].at("update_status"));
    EXPECT_EQ(row.forged ? "1" : "2", runs[1].at("variant")) << "the data folder ran once repaired";
    EXPECT_EQ(row.forged ? "damaged: " + std::string(row.damaged) : "installed", runs[1].at("update_status"));
    EXPECT_EQ(!row.forged, studioBytes == ReadFile(Join(data, row.damaged)));
    EXPECT_EQ("a player's", ReadFile(Join(data, "saves\\slot1.sav")));
    if (HasFailure()) return;
  }
}

// A keyed launcher holds every module it checked open against writers and
// deleters from the check until the game is unloaded, so that what it hashed
// is what gets mapped: a rival tries to replace game.dll at the very moment
// between the check and the load (a fault point of the test build hands it
// that moment), and helper.dll, which the game has not loaded, while the
// game runs. (The rival is a Windows process; a unix process is bound by no
// sharing mode, where Windows would refuse it too.)
TEST_F(PackedUpdate, KeyedLauncherHoldsTheCheckedModulesFromTheCheckUntilTheGameEnds) {
  const std::string signal = Join(scratch, "running"), go = Join(scratch, "go"), raceFile = Join(scratch, "race.txt");
  const std::string countFile = Join(scratch, "count.txt");
  const struct {
    const char* name;
    bool withKey;
    bool atTheLoad;  // else while the game runs
  } rows[] = {{"keyed, at the load", true, true}, {"keyed, while running", true, false}, {"keyless", false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(companyFolder);
    for (const std::string& path : {signal, go, raceFile, raceFile + ".go", countFile}) RemoveTree(path);
    WriteKeyedReleases(ReadFile(row.withKey ? Join(TestBinaryFolder(), "launcher_keyed_faults.exe") : LauncherExe()));
    const Install install{previousFolder, Join(previousFolder, "launcher.exe")};
    ASSERT_EQ(0, Run(install)) << "the first start";
    WriteFile(Join(data, "saves\\slot1.sav"), "a player's");
    SetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", countFile.c_str());
    ASSERT_EQ(0, Run(install)) << "a start as the raced one";
    SetEnvironmentVariableA("LAUNCHER_FAULT_COUNT", nullptr);
    DeleteFileA(record.c_str());
    const std::vector<std::string> kinds = ReadKinds(countFile);
    const auto load = std::find(kinds.begin(), kinds.end(), "load module");
    ASSERT_EQ(row.withKey, load != kinds.end()) << "a keyed launcher checks before it loads";
    if (row.atTheLoad) {
      SetEnvironmentVariableA("LAUNCHER_FAULT_AT", std::to_string(load - kinds.begin() + 1).c_str());
      SetEnvironmentVariableA("LAUNCHER_FAULT_MODE", "race");
      SetEnvironmentVariableA("LAUNCHER_RACE_FILE", raceFile.c_str());
    }
    GameScript script;
    script.cycles = {{{"signal", signal}, {"wait_for", go}, {"return", "0"}}};
    const auto launcher = Start(install, script);
    for (const char* name : {"LAUNCHER_FAULT_AT", "LAUNCHER_FAULT_MODE", "LAUNCHER_RACE_FILE"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    ASSERT_TRUE(WaitForFile(row.atTheLoad ? raceFile : signal, 60000 * TimeScale())) << "the moment came";
    const std::string module = Join(data, row.atTheLoad ? "game.dll" : "helper.dll");
    const HANDLE writing = CreateFileA(module.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
    const bool written = writing != INVALID_HANDLE_VALUE;
    if (written) CloseHandle(writing);
    const bool renamed = MoveFileExA(module.c_str(), (module + ".away").c_str(), 0) != 0;
    if (renamed) MoveFileExA((module + ".away").c_str(), module.c_str(), 0);
    WriteFile(raceFile + ".go", "");
    WriteFile(go, "");
    EXPECT_EQ(0, launcher->Wait(60000 * TimeScale()));
    const auto runs = Runs();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ("1", runs[0].at("variant"));
    EXPECT_EQ(data, RanIn());
    EXPECT_EQ(!row.withKey, written) << "opened for writing";
    EXPECT_EQ(!row.withKey, renamed) << "renamed";
  }
}
