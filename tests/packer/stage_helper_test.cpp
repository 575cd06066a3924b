// The game-side helper that checks a downloaded update against its manifest
// and moves it into the staging folder: everything first, the marker last,
// and nothing moved, no marker, when anything failed.
#include <gtest/gtest.h>

#include <functional>

#include "packer/manifest.h"
#include "packer/sha256.h"
#include "rungame_update.h"
#include "tests/packer/packer_support.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

class StageHelper : public ::testing::Test {
 protected:
  std::string scratch = FreshScratchFolder();
  std::string update = Join(scratch, "download\\update");
  std::string manifestPath = update + ".manifest";
  std::string data = Join(scratch, "data");
  std::string staging = Join(data, "game");
  packer::Manifest manifest;
  char failed[MAX_PATH] = "untouched";

  void SetUp() override {
    MakeFolders(data);
    manifest.from = "1.0";
    manifest.to = "1.1";
    manifest.marker = "update.ready";
    AddFile("game.dll", "module");
    AddFolder("levels");
    AddFile("levels\\level1.dat.zip", "packed");
    AddFolder("screenshots");
    AddFile("update.ready", "");
    WriteManifest();
  }
  void AddFile(const std::string& path, const std::string& content) {
    WriteFile(Join(update, path), content);
    manifest.entries.push_back({false, content.size(), packer::Sha256Hex(content), path});
  }
  void AddFolder(const std::string& path) {
    MakeFolders(Join(update, path));
    manifest.entries.push_back({true, 0, std::string(), path});
  }
  void TearDownUpdate() {
    RemoveTree(Join(scratch, "download"));
    RemoveTree(staging);
    manifest.entries.clear();
  }
  void WriteManifest() { WriteFile(manifestPath, packer::FormatManifest(manifest)); }
  int Stage(const char* marker = "update.ready") {
    return RunGameStageUpdate(update.c_str(), nullptr, data.c_str(), marker, failed, sizeof failed);
  }
  // Refused with `result` naming `entry`, and nothing moved.
  void ExpectRefused(int result, const std::string& entry) {
    EXPECT_EQ(result, Stage());
    EXPECT_EQ(entry, failed);
    EXPECT_FALSE(Exists(staging)) << "something moved before the check";
    EXPECT_TRUE(Exists(Join(update, "game.dll")));
  }
};

}  // namespace

TEST_F(StageHelper, MovesEverythingAndTheMarkerLast) {
  ASSERT_EQ(RUNGAME_STAGED, Stage());
  EXPECT_STREQ("", failed);
  EXPECT_EQ("module", ReadFile(Join(staging, "game.dll")));
  EXPECT_EQ("packed", ReadFile(Join(staging, "levels\\level1.dat.zip")));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, Attributes(Join(staging, "screenshots")) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(Exists(Join(staging, "update.ready")));
  EXPECT_FALSE(Exists(update)) << "the emptied update folder stays behind";
}

TEST_F(StageHelper, WorkingFolderIsTheDataFolderAndAManifestElsewhere) {
  const std::string elsewhere = Join(scratch, "kept\\m.txt");
  MakeFolders(Join(scratch, "kept"));
  ASSERT_TRUE(MoveFileA(manifestPath.c_str(), elsewhere.c_str()));
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(data.c_str());
  const int result = RunGameStageUpdate((update + "\\").c_str(), elsewhere.c_str(), nullptr, "UPDATE.READY", nullptr, 0);
  SetCurrentDirectoryA(previous);
  ASSERT_EQ(RUNGAME_STAGED, result);
  EXPECT_TRUE(Exists(Join(staging, "update.ready")));
}

TEST_F(StageHelper, WritesAnEmptyMarkerWhenTheUpdateHasNone) {
  DeleteFileA(Join(update, "update.ready").c_str());
  manifest.entries.pop_back();
  WriteManifest();
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

// Every way a download can differ from its manifest: refused before anything
// moves, naming the entry.
TEST_F(StageHelper, ChecksEveryFileAgainstTheManifestFirst) {
  const struct {
    const char* what;
    std::function<void()> damage;
    const char* entry;
  } rows[] = {
      {"another SHA-256", [&] { WriteFile(Join(update, "levels\\level1.dat.zip"), "PACKED"); }, "levels\\level1.dat.zip"},
      {"another size", [&] { WriteFile(Join(update, "game.dll"), "module!"); }, "game.dll"},
      {"missing", [&] { DeleteFileA(Join(update, "levels\\level1.dat.zip").c_str()); }, "levels\\level1.dat.zip"},
      {"an extra file", [&] { WriteFile(Join(update, "levels\\extra.dat"), ""); }, "levels\\extra.dat"},
      {"a folder missing", [&] { RemoveDirectoryA(Join(update, "screenshots").c_str()); }, "screenshots"},
      {"a folder for a file", [&] { DeleteFileA(Join(update, "game.dll").c_str()); MakeFolders(Join(update, "game.dll")); }, "game.dll"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TearDownUpdate();
    SetUp();
    row.damage();
    ExpectRefused(RUNGAME_STAGE_NOT_AS_LISTED, row.entry);
  }
}

TEST_F(StageHelper, RefusesManifestsThePackerNeverWrites) {
  const std::string good = packer::FormatManifest(manifest);
  const std::string entryLines = good.substr(good.find("\nfolder ") + 1);
  for (const std::string& text :
       {std::string("garbage"), std::string(), good + entryLines, good + "marker other.flag\n",
        good + "folder ..\\up\n", good + "folder ~upd\n", good + "file 0 " + std::string(64, 'X') + " x\n"}) {
    WriteFile(manifestPath, text);
    EXPECT_EQ(RUNGAME_STAGE_BAD_MANIFEST, Stage()) << text;
  }
  const std::string noFrom = good.substr(0, good.find("from ")) + good.substr(good.find("to "));
  WriteFile(manifestPath, noFrom);
  EXPECT_EQ(RUNGAME_STAGE_BAD_MANIFEST, Stage()) << noFrom;
  WriteFile(manifestPath, good);
  EXPECT_EQ(RUNGAME_STAGE_BAD_MANIFEST, Stage("other.flag")) << "the manifest names another marker";
  DeleteFileA(manifestPath.c_str());
  EXPECT_EQ(RUNGAME_STAGE_BAD_MANIFEST, Stage());
  EXPECT_FALSE(Exists(staging));
}

TEST_F(StageHelper, RefusesBadArgumentsAndMissingOrUnsafeUpdates) {
  for (const char* marker : {"", "sub\\update.ready", "..", "/", "NUL", "x.zip", "game", "caf\xC3\xA9"}) {
    EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage(marker)) << marker;
  }
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, Stage(nullptr));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT, RunGameStageUpdate(nullptr, nullptr, data.c_str(), "update.ready", nullptr, 0));
  EXPECT_EQ(RUNGAME_STAGE_BAD_ARGUMENT,
            RunGameStageUpdate(staging.c_str(), nullptr, data.c_str(), "update.ready", nullptr, 0));
  EXPECT_EQ(RUNGAME_STAGE_NO_UPDATE,
            RunGameStageUpdate(Join(scratch, "missing").c_str(), nullptr, data.c_str(), "update.ready", nullptr, 0));
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
  AddFile(name, "x");
  WriteManifest();
  ASSERT_TRUE(Exists(Join(update, name)));
  ASSERT_GE(Join(staging, name).size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(RUNGAME_STAGE_UNSAFE_UPDATE, Stage());
  EXPECT_FALSE(Exists(staging));
}

// An update installs only onto the version it was made from: any other
// would end with that version's files mixed with the update's.
TEST_F(StageHelper, UpdateMadeFromAnotherVersionIsRefused) {
  for (const char* version : {"<version x=\"1\" y=\"3\"/>", "<version x=\"0\" y=\"9\"/>", "<version x=\"1\" y=\"1\"/>"}) {
    WriteFile(Join(data, "properties\\version.xml"), version);
    EXPECT_EQ(RUNGAME_STAGE_WRONG_VERSION, Stage()) << version;
    EXPECT_FALSE(Exists(staging));
  }
  WriteFile(Join(data, "properties\\version.xml"), "<version x=\"1\" y=\"0\"/>");
  EXPECT_EQ(RUNGAME_STAGED, Stage()) << "made from the data folder's version";
}

TEST(UpdateStatus, ReadAsTheLauncherWritesIt) {
  const struct {
    const char* text;  // nullptr: not set
    int status;
    const char* detail;
  } rows[] = {
      {nullptr, RUNGAME_UPDATE_STATUS_UNKNOWN, ""},
      {"none", RUNGAME_UPDATE_STATUS_NONE, ""},
      {"installed", RUNGAME_UPDATE_STATUS_INSTALLED, ""},
      {"refused: a link: levels\\x", RUNGAME_UPDATE_STATUS_REFUSED, "a link: le"},
      {"blocked: ~upd", RUNGAME_UPDATE_STATUS_BLOCKED, "~upd"},
      {"installedx", RUNGAME_UPDATE_STATUS_UNKNOWN, ""},
      {"refused:", RUNGAME_UPDATE_STATUS_UNKNOWN, ""},
  };
  for (const auto& row : rows) {
    SetEnvironmentVariableA("RUNGAME_UPDATE_STATUS", row.text);
    char detail[11] = "untouched";
    EXPECT_EQ(row.status, RunGameLastUpdateStatus(detail, sizeof detail)) << (row.text ? row.text : "unset");
    EXPECT_STREQ(row.detail, detail);
  }
  SetEnvironmentVariableA("RUNGAME_UPDATE_STATUS", nullptr);
}
