// A staged update installed by the real launcher at the start of a cycle.
#include "tests/update/staging_fixture.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "update/unpack.h"

using namespace testing_support;
using namespace update_testing;

using StagedUpdate = StagingTest;

TEST_F(StagedUpdate, PackedFileInASubFolderIsUnpackedInPlace) {
  const std::string level = SampleBytes(70000, 11);
  Stage("levels\\level.dat.zip", Gzip(level));
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ(level, ReadFile(InData("levels\\level.dat")));
  EXPECT_EQ("ready", ReadFile(InData("update.flag")));
  EXPECT_TRUE(FilesEndingWith(data, ".zip").empty());
  ExpectStagingDiscarded();
}

// More packed files, and more decoded bytes, than are ever decoded ahead of
// the one written out, and more files than wait for their flushes at once:
// each arrives whole and in its own place, a damaged one under its packed
// name, and a packed file replaces its plain neighbour.
TEST_F(StagedUpdate, ManyPackedFilesArriveEachWhole) {
  std::mt19937 random(1209);
  std::map<std::string, std::string> expected;
  std::size_t damaged = 0;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "pack" + std::to_string(i % 4) + "\\file" + std::to_string(i) + ".dat";
    const std::size_t size = i >= 150 ? random() % 2000 : i % 50 == 7 ? 3000000 : random() % 250000;
    const std::string content = SampleBytes(size, random());
    std::string packed = Gzip(content, 1);
    if (i % 37 == 5) {
      packed.resize(packed.size() / 2 + 2);  // damaged: stays packed
      expected[name + ".zip"] = packed;
      ++damaged;
    } else {
      if (i % 29 == 3) Stage(name, "a plain neighbour");
      expected[name] = content;
    }
    Stage(name + ".zip", packed);
  }
  StageMarker();
  EXPECT_EQ(0, Run());
  for (const auto& [name, content] : expected) ASSERT_EQ(content, ReadFile(InData(name))) << name;
  EXPECT_EQ(damaged, FilesEndingWith(data, ".zip").size());
  ExpectStagingDiscarded();
}

TEST_F(StagedUpdate, PackingRules) {
  const std::string upper = Gzip("upper");
  Stage("upper.ZIP", upper);                        // not packed: moved as it is
  Stage("plain.txt.zip", "no magic here");          // plain data: copied
  Stage("empty.bin.zip", "");                       // empty: an empty file
  Stage("bundle.zip\\inner.txt.zip", Gzip("inner"));  // a folder: searched, kept
  Stage("both.txt", "staged plain");
  Stage("both.txt.zip", Gzip("from packed"));       // replaces its neighbour
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ(upper, ReadFile(InData("upper.ZIP")));
  EXPECT_FALSE(Exists(InData("upper")));
  EXPECT_EQ("no magic here", ReadFile(InData("plain.txt")));
  EXPECT_TRUE(Exists(InData("empty.bin")));
  EXPECT_EQ("", ReadFile(InData("empty.bin")));
  EXPECT_TRUE(IsDirectory(InData("bundle.zip")));
  EXPECT_EQ("inner", ReadFile(InData("bundle.zip\\inner.txt")));
  EXPECT_EQ("from packed", ReadFile(InData("both.txt")));
  EXPECT_EQ((std::vector<std::string>{InData("upper.ZIP")}), FilesEndingWith(data, ".ZIP"));
  EXPECT_EQ((std::vector<std::string>{InData("bundle.zip")}), FilesEndingWith(data, ".zip"));
  ExpectStagingDiscarded();
}

TEST_F(StagedUpdate, HiddenSystemAndReadOnlyFilesAreUnpackedAndMoved) {
  Stage("secret.dat.zip", Gzip("hidden packed"));
  Stage("system.dat", "system plain");
  Stage("fixed.dat.zip", Gzip("read-only packed"));
  SetFileAttributesA(InStaging("secret.dat.zip").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA(InStaging("system.dat").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA(InStaging("fixed.dat.zip").c_str(), FILE_ATTRIBUTE_READONLY);
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("hidden packed", ReadFile(InData("secret.dat")));
  EXPECT_EQ("system plain", ReadFile(InData("system.dat")));
  EXPECT_EQ("read-only packed", ReadFile(InData("fixed.dat")));
  EXPECT_FALSE(Exists(InData("secret.dat.zip")));
  EXPECT_FALSE(Exists(InData("fixed.dat.zip")));
  ExpectStagingDiscarded();
}

TEST_F(StagedUpdate, WithoutTheMarkerNothingIsInstalled) {
  WriteFile(InData("asset.txt"), "installed");
  Stage("asset.txt", "staged");
  Stage("levels\\level.dat.zip", Gzip("level"));
  Stage("update.flag.txt", "not the marker");
  auto before = ListFolder(data);
  before.erase(std::remove(before.begin(), before.end(), "game"), before.end());
  EXPECT_EQ(0, Run());
  EXPECT_EQ("installed", ReadFile(InData("asset.txt")));
  EXPECT_EQ(before, ListFolder(data));
  ExpectStagingDiscarded();
}

TEST_F(StagedUpdate, AbsentOrEmptySemaphoreInstallsAnyStagingFolder) {
  for (const char* xml : {"absent", "empty"}) {
    SCOPED_TRACE(xml);
    const std::string settings = std::string(xml) == "absent"
                                     ? SettingsXml({{"use_app_data_folder", "false"}})
                                     : SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", ""}});
    WriteFile(InData("game.xml"), settings);
    Stage(std::string(xml) + ".txt", "staged");
    Stage(std::string(xml) + ".bin.zip", Gzip("unpacked"));
    EXPECT_EQ(0, Run());
    EXPECT_EQ("staged", ReadFile(InData(std::string(xml) + ".txt")));
    EXPECT_EQ("unpacked", ReadFile(InData(std::string(xml) + ".bin")));
    EXPECT_FALSE(Exists(staging));
  }
}

// Wine's shell move refuses a list of several files and skips folders that
// exist in the data folder: the launcher finishes the move itself.
TEST_F(StagedUpdate, FilesOnlyStagingFolderArrives) {
  Stage("one.txt", "1");
  Stage("two.txt", "2");
  Stage("three.txt", "3");
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("1", ReadFile(InData("one.txt")));
  EXPECT_EQ("2", ReadFile(InData("two.txt")));
  EXPECT_EQ("3", ReadFile(InData("three.txt")));
  EXPECT_TRUE(Exists(InData("update.flag")));
  ExpectStagingDiscarded();
}

TEST_F(StagedUpdate, SubFolderMergesIntoTheExistingOne) {
  WriteFile(InData("assets\\keep.txt"), "kept");
  WriteFile(InData("assets\\same.txt"), "old");
  WriteFile(InData("assets\\deep\\old.txt"), "old deep");
  WriteFile(InData("top.txt"), "old top");
  SetFileAttributesA(InData("assets\\same.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(InData("top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  Stage("assets\\same.txt", "new");
  Stage("assets\\added.txt", "added");
  Stage("assets\\deep\\new.txt.zip", Gzip("new deep"));
  Stage("top.txt", "new top");
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("kept", ReadFile(InData("assets\\keep.txt")));
  EXPECT_EQ("new", ReadFile(InData("assets\\same.txt")));
  EXPECT_EQ("added", ReadFile(InData("assets\\added.txt")));
  EXPECT_EQ("old deep", ReadFile(InData("assets\\deep\\old.txt")));
  EXPECT_EQ("new deep", ReadFile(InData("assets\\deep\\new.txt")));
  EXPECT_EQ("new top", ReadFile(InData("top.txt")));
  EXPECT_EQ("ready", ReadFile(InData("update.flag")));
  ExpectStagingDiscarded();
}

// A staged file that cannot take the place of a folder of that name: the
// update cannot arrive whole, so none of it is installed.
TEST_F(StagedUpdate, UpdateThatCannotTakeItsPlaceIsNotInstalledAtAll) {
  MakeFolders(InData("clash"));
  WriteFile(InData("fine.txt"), "old");
  Stage("clash", "a file where a folder is");
  Stage("fine.txt", "new");
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("old", ReadFile(InData("fine.txt")));
  EXPECT_TRUE(IsDirectory(InData("clash")));
  EXPECT_FALSE(Exists(InData("update.flag")));
  ExpectStagingDiscarded();
}

// A launcher stopped halfway left a temporary unpacking file and part of the
// update; the marker is still staged, so the next start finishes the update.
TEST_F(StagedUpdate, InterruptedUpdateIsFinishedWithoutItsLeftovers) {
  WriteFile(InData("first.txt"), "moved before the stop");
  Stage(std::string("second.bin") + kUnpackTemporarySuffix, "half");
  Stage("second.bin.zip", Gzip("second"));
  Stage(std::string("sub\\third.bin") + kUnpackTemporarySuffix, "half");
  Stage("sub\\third.bin", "third");
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("second", ReadFile(InData("second.bin")));
  EXPECT_EQ("third", ReadFile(InData("sub\\third.bin")));
  EXPECT_TRUE(FilesEndingWith(data, kUnpackTemporarySuffix).empty());
  EXPECT_TRUE(Exists(InData("update.flag")));
  ExpectStagingDiscarded();
}


// A linked staging folder holds files from elsewhere: it is not installed,
// and its disposal takes the link alone, never what it points to.
TEST_F(StagedUpdate, LinkedStagingFolderIsNeitherInstalledNorEmptied) {
  const std::string elsewhere = Join(scratch, "elsewhere");
  WriteFile(Join(elsewhere, "update.flag"), "ready");
  WriteFile(Join(elsewhere, "payload.txt"), "payload");
  ASSERT_TRUE(PlantLink(staging, elsewhere));
  EXPECT_EQ(0, Run());
  EXPECT_FALSE(Exists(InData("payload.txt")));
  EXPECT_EQ("payload", ReadFile(Join(elsewhere, "payload.txt")));
  EXPECT_EQ("ready", ReadFile(Join(elsewhere, "update.flag")));
}

// A link inside the staging tree, one that leads back up included: the
// search ends, nothing behind the link is unpacked or moved, and an update
// holding a link is not installed at all.
TEST_F(StagedUpdate, LinkLoopInTheStagingTreeEnds) {
  Stage("sub\\level.dat.zip", Gzip("level"));
  StageMarker();
  ASSERT_TRUE(PlantLink(InStaging("sub\\loop"), staging));
  EXPECT_EQ(0, Run());
  EXPECT_FALSE(Exists(InData("sub\\level.dat")));
  EXPECT_FALSE(Exists(InData("update.flag")));
  EXPECT_FALSE(Exists(staging));
}

// What became of the staged update reaches the game, whatever it was.
TEST_F(StagedUpdate, TheGameIsToldWhatBecameOfTheStagedUpdate) {
  const struct {
    const char* what;
    std::function<bool()> prepare;  // false: not possible here
    const char* status;
  } rows[] = {
      {"nothing staged", [] { return true; }, "none"},
      {"staged without its marker", [&] { Stage("a.txt", "new"); return true; }, "none"},
      {"installed", [&] { Stage("a.txt", "new"); StageMarker(); return true; }, "installed"},
      {"a link staged",
       [&] {
         StageMarker();
         return PlantLink(InStaging("linked"), scratch);
       },
       "refused: a link: linked"},
      {"the launcher's own name staged", [&] { Stage("~upd.journal", "x"); StageMarker(); return true; },
       "refused: one of the launcher's own names: ~upd.journal"},
      {"state that is not the launcher's own", [&] { MakeFolders(InData("~upd")); Stage("a.txt", "new"); StageMarker(); return true; },
       "blocked: ~upd"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    for (const char* name : {"game", "~upd", "a.txt", "update.flag"}) RemoveTree(InData(name));
    DeleteFileA(record.c_str());
    if (!row.prepare()) continue;
    ASSERT_EQ(0, Run());
    const std::vector<Record> runs = Runs();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(row.status, runs[0].at("update_status"));
  }
}
