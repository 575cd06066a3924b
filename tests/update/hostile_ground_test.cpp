// The data folder is writable by every account: links and forged state
// planted in it, through a staged update, a first-start copy and a refresh
// copy. Whatever is planted, nothing outside changes, no file of the data
// folder is lost, the game runs, and once the plant is gone the next start
// ends with the old or the new version.
//
// Links of the kinds Wine shows: unix links to folders (reparse points) and
// hard links. A unix link to a file looks like a plain file under Wine, and
// a dangling one not at all: no Windows program can tell them apart there.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/provisioning/provisioning_support.h"
#include "tests/update/scenario_test.h"

using namespace testing_support;
using namespace update_testing;

namespace {

enum class Plant { FolderLink, HardLink, EmptyFile, Garbage, HugeFile, ForgedJournal, RepeatingJournal, File, Folder };

struct Row {
  Scenario scenario;
  const char* place;  // below the data folder
  Plant plant;
  // What the game is told of the staged update, at the start with the plant.
  const char* status = "blocked: ";
};

// A well-formed journal of these entries.
std::string Journal(const std::vector<std::string>& entries) {
  std::string text = "rungame journal 1\nstaging game\n";
  for (const std::string& entry : entries) text += entry + "\n";
  char end[64];
  std::snprintf(end, sizeof end, "end %u %08lx\n", static_cast<unsigned>(entries.size()),
                crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
  return text + end;
}

class HostileGround : public ScenarioTest {
 protected:
  void PlantAt(const Row& row) {
    const std::string path = Join(DataFolder(), row.place);
    RemoveTree(path);  // never follows a link
    MakeFolders(path.substr(0, path.find_last_of('\\')));
    switch (row.plant) {
      case Plant::FolderLink:
        ASSERT_TRUE(PlantLink(path, Outside()));
        break;
      case Plant::HardLink:
        ASSERT_TRUE(CreateHardLinkA(path.c_str(), Join(Outside(), "keep.dat").c_str(), nullptr));
        break;
      case Plant::EmptyFile:
      case Plant::File:
        WriteFile(path, "");
        break;
      case Plant::Garbage:
        WriteFile(path, "m levels\nr ..\\..\\outside\\keep.dat\nr CON\n\x01\x02 garbage");
        break;
      case Plant::HugeFile:
        WriteFile(path, std::string(20u << 20, 'r'));
        break;
      case Plant::ForgedJournal:
        WriteFile(path, Journal({"r saves\\slot1.sav", "r game.xml", "a game.dll"}));
        break;
      case Plant::RepeatingJournal:  // every entry done, many times over
        WriteFile(path, Journal({"d levels", "d sub", "d LEVELS", "d levels"}));
        break;
      case Plant::Folder:
        MakeFolders(path);
        break;
    }
    // What the data folder held besides the plant and the staged update is
    // what may not be lost.
    before = WithoutTopLevel(WithoutPlant(ReadTree(DataFolder()), row.place), {"game"});
  }

  void RemovePlant(const Row& row) {
    const std::string path = Join(DataFolder(), row.place);
    if (row.plant == Plant::HardLink) {
      // The second name shares the outside file's read-only bit.
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
      SetFileAttributesA(Join(Outside(), "keep.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    } else {
      provisioning_support::RemoveLink(path);
    }
  }

  std::string statusSeen;  // by the game, at the start with the plant

  static Tree WithoutPlant(Tree tree, const std::string& place) {
    for (auto it = tree.begin(); it != tree.end();) {
      const bool below = it->first == place || it->first.compare(0, place.size() + 1, place + "\\") == 0;
      it = below ? tree.erase(it) : std::next(it);
    }
    return tree;
  }

  void RunRow(const Row& row) {
    Prepare(row.scenario);
    const Tree fullAfter = after;
    PlantAt(row);
    if (HasFatalFailure()) return;
    after = WithoutPlant(after, row.place);
    EXPECT_EQ(0, Run(install));
    const std::vector<Record> runs = Runs();
    EXPECT_EQ(1u, runs.size()) << "the game ran";
    statusSeen = runs.empty() ? std::string() : runs[0].at("update_status");
    DeleteFileA(record.c_str());
    EXPECT_EQ("", NoFileLost());
    ExpectNothingOutsideChanged();

    RemovePlant(row);
    EXPECT_EQ(0, Run(install)) << "the next start";
    EXPECT_EQ(1u, Runs().size()) << "the game ran";
    DeleteFileA(record.c_str());
    // A copy left undone is made now, whole.
    const std::string oldOrNew = OldOrNew(false);
    if (!oldOrNew.empty()) {
      EXPECT_EQ("", TreeDifference(ReadTree(DataFolder()), fullAfter)) << oldOrNew;
    }
    ExpectNothingOutsideChanged();
  }
};

TEST_F(HostileGround, LinksAtEachPlaceTheLauncherWritesOrKeepsItsState) {
  const Row rows[] = {
      {Scenario::StagedUpdate, "levels", Plant::FolderLink},
      {Scenario::StagedUpdate, "levels\\a.dat", Plant::HardLink},
      {Scenario::StagedUpdate, "~upd", Plant::FolderLink},
      {Scenario::StagedUpdate, "~upd.journal", Plant::HardLink},
      {Scenario::StagedUpdate, "~upd.journal.tmp", Plant::HardLink},
      {Scenario::StagedUpdate, "~new", Plant::FolderLink},
      {Scenario::StagedUpdate, "game\\levels", Plant::FolderLink},
      {Scenario::StagedUpdate, "game", Plant::FolderLink},
      {Scenario::FirstStart, "levels", Plant::FolderLink},
      {Scenario::FirstStart, "properties\\version.xml", Plant::HardLink},
      {Scenario::FirstStart, "~new", Plant::FolderLink},
      {Scenario::FirstStart, "~upd", Plant::FolderLink},
      {Scenario::RefreshCopy, "sub\\deep", Plant::FolderLink},
      {Scenario::RefreshCopy, "levels\\a.dat", Plant::HardLink},
      {Scenario::RefreshCopy, "~upd.journal", Plant::HardLink},
      {Scenario::RefreshCopy, "~new", Plant::FolderLink},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(ScenarioName(row.scenario)) + ", a link at " + row.place);
    RunRow(row);
    if (HasFatalFailure()) return;
  }
}

TEST_F(HostileGround, StateTheLauncherDidNotLeaveTouchesNothing) {
  const Row rows[] = {
      {Scenario::StagedUpdate, "~upd.journal", Plant::EmptyFile},
      {Scenario::StagedUpdate, "~upd.journal", Plant::Garbage},
      {Scenario::StagedUpdate, "~upd.journal", Plant::HugeFile},
      // Well formed and this account's: the launcher's own, all of it done.
      {Scenario::StagedUpdate, "~upd.journal", Plant::ForgedJournal, "installed"},
      {Scenario::StagedUpdate, "~upd.journal", Plant::RepeatingJournal},
      {Scenario::StagedUpdate, "~upd.journal", Plant::Folder},
      {Scenario::StagedUpdate, "~upd", Plant::File},
      {Scenario::RefreshCopy, "~upd.journal", Plant::Garbage},
      {Scenario::RefreshCopy, "~upd", Plant::File},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(ScenarioName(row.scenario)) + ", planted at " + row.place + " kind " +
                 std::to_string(static_cast<int>(row.plant)));
    RunRow(row);
    EXPECT_EQ(0u, statusSeen.rfind(row.status, 0)) << statusSeen;
    if (HasFatalFailure()) return;
  }
}

}  // namespace
