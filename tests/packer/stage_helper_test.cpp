// The game-side helper that moves a downloaded update into the staging
// folder: everything first, the marker last, and no marker when anything
// failed.
#include <gtest/gtest.h>

#include "rungame_update.h"
#include "tests/packer/packer_support.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

class StageHelper : public ::testing::Test {
 protected:
  std::string scratch = FreshScratchFolder();
  std::string update = Join(scratch, "download\\update");
  std::string data = Join(scratch, "data");
  std::string staging = Join(data, "game");

  void SetUp() override {
    MakeFolders(data);
    WriteFile(Join(update, "game.dll"), "module");
    WriteFile(Join(update, "levels\\level1.dat.zip"), "packed");
    MakeFolders(Join(update, "screenshots"));
    WriteFile(Join(update, "update.ready"), "");
  }
  int Stage(const char* marker = "update.ready") { return RunGameStageUpdate(update.c_str(), data.c_str(), marker); }
};

}  // namespace

TEST_F(StageHelper, MovesEverythingAndTheMarkerLast) {
  ASSERT_EQ(RUNGAME_STAGED, Stage());
  EXPECT_EQ("module", ReadFile(Join(staging, "game.dll")));
  EXPECT_EQ("packed", ReadFile(Join(staging, "levels\\level1.dat.zip")));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, Attributes(Join(staging, "screenshots")) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(Exists(Join(staging, "update.ready")));
  EXPECT_FALSE(Exists(update)) << "the emptied update folder stays behind";
}

TEST_F(StageHelper, WorkingFolderIsTheDataFolderByDefault) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(data.c_str());
  const int result = RunGameStageUpdate(update.c_str(), nullptr, "update.ready");
  SetCurrentDirectoryA(previous);
  ASSERT_EQ(RUNGAME_STAGED, result);
  EXPECT_TRUE(Exists(Join(staging, "update.ready")));
}

TEST_F(StageHelper, WritesAnEmptyMarkerWhenTheUpdateHasNone) {
  DeleteFileA(Join(update, "update.ready").c_str());
  ASSERT_EQ(RUNGAME_STAGED, Stage());
  EXPECT_TRUE(Exists(Join(staging, "update.ready")));
  EXPECT_EQ("", ReadFile(Join(staging, "update.ready")));
}

TEST_F(StageHelper, MergesIntoAStagingFolderAndReplacesReadOnlyFiles) {
  WriteFile(Join(staging, "game.dll"), "older download");
  SetFileAttributesA(Join(staging, "game.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFile(Join(staging, "kept.txt"), "kept");
  ASSERT_EQ(RUNGAME_STAGED, Stage());
  EXPECT_EQ("module", ReadFile(Join(staging, "game.dll")));
  EXPECT_EQ("kept", ReadFile(Join(staging, "kept.txt")));
}

TEST_F(StageHelper, AFailedMoveLeavesNoMarkerNotEvenAnOldOne) {
  // A marker from an earlier staging, and a folder where a file must go.
  WriteFile(Join(staging, "update.ready"), "");
  MakeFolders(Join(staging, "game.dll"));
  EXPECT_EQ(RUNGAME_STAGE_MOVE_FAILED, Stage());
  EXPECT_FALSE(Exists(Join(staging, "update.ready")));
  EXPECT_TRUE(Exists(Join(update, "update.ready")));
}

TEST_F(StageHelper, RefusesBadArgumentsAndMissingOrUnsafeUpdates) {
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage(""));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage(nullptr));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage("sub\\update.ready"));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage(".."));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, RunGameStageUpdate(nullptr, data.c_str(), "update.ready"));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, RunGameStageUpdate(staging.c_str(), data.c_str(), "update.ready"));
  EXPECT_EQ(RUNGAME_STAGE_NO_UPDATE,
            RunGameStageUpdate(Join(scratch, "missing").c_str(), data.c_str(), "update.ready"));
  EXPECT_FALSE(Exists(staging));

  const std::string elsewhere = Join(scratch, "elsewhere");
  WriteFile(Join(elsewhere, "secret.txt"), "not to be moved");
  if (!PlantLink(Join(update, "linked"), elsewhere)) GTEST_SKIP() << "no links here";
  EXPECT_EQ(RUNGAME_STAGE_UNSAFE_UPDATE, Stage());
  EXPECT_FALSE(Exists(staging)) << "something moved before the check";
  EXPECT_TRUE(Exists(Join(elsewhere, "secret.txt")));
}

TEST_F(StageHelper, StagedPathOverTheLimitIsRefusedBeforeAnythingMoves) {
  // A data folder deeper than the download: a name that fits in the update
  // folder does not fit in the staging folder.
  if (scratch.size() > 200) GTEST_SKIP() << "the scratch folder is too deep for this test";
  data = Join(scratch, std::string(230 - scratch.size() - 1, 'd'));
  staging = Join(data, "game");
  MakeFolders(data);
  const std::string name = std::string(40, 'n');
  WriteFile(Join(update, name), "x");
  ASSERT_TRUE(Exists(Join(update, name)));
  ASSERT_GE(Join(staging, name).size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(RUNGAME_STAGE_UNSAFE_UPDATE, Stage());
  EXPECT_FALSE(Exists(staging));
}
