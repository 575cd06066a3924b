// An update is applied whole or not at all, also when its move stops halfway:
// states a failing or stopped launcher leaves, made in real folders, then
// finished or undone.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/harness.h"
#include "update/move.h"
#include "update/undo.h"
#include "update/update.h"

using namespace testing_support;

namespace {

using Tree = std::map<std::string, std::string>;  // relative path -> content ("<folder>" for a folder)

// Read with the platform's own listing, independently of the launcher's walk.
void ReadTree(const std::string& folder, const std::string& relative, Tree& tree) {
  WIN32_FIND_DATAA data;
  const std::string pattern = Join(relative.empty() ? folder : Join(folder, relative), "*");
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[path] = "<folder>";
      ReadTree(folder, path, tree);
    } else {
      tree[path] = ReadFile(Join(folder, path));
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
}

Tree TreeOf(const std::string& folder) {
  Tree tree;
  ReadTree(folder, "", tree);
  return tree;
}

void Plant(const std::string& folder, const Tree& tree) {
  for (const auto& [path, content] : tree) {
    if (content == "<folder>") {
      MakeFolders(Join(folder, path));
    } else {
      WriteFile(Join(folder, path), content);
    }
  }
}

const Tree kOld = {{"a.txt", "old a"},           {"keep.txt", "only in the data folder"},
                   {"levels", "<folder>"},       {"levels\\l1.dat", "old level 1"},
                   {"saves", "<folder>"},        {"saves\\slot1", "saved game"}};
const Tree kStaged = {{"a.txt", "new a"},         {"levels", "<folder>"},
                      {"levels\\l1.dat", "new level 1"}, {"levels\\l2.dat", "new level 2"},
                      {"newdir", "<folder>"},     {"newdir\\deep", "<folder>"},
                      {"newdir\\deep\\n.txt", "new file"}, {"ready", ""}};

Tree Updated() {
  Tree tree = kOld;
  for (const auto& [path, content] : kStaged) tree[path] = content;
  return tree;
}

// A data folder with the old version and the update staged, journaled and
// half moved in, as a launcher stopped halfway leaves it: the replaced files
// set aside, two entries moved, the rest and the marker still staged.
struct HalfMovedUpdate {
  std::string data = Join(FreshScratchFolder(), "data");
  std::string staging = Join(data, "game");

  HalfMovedUpdate() {
    Plant(data, kOld);
    Plant(staging, kStaged);
    const std::optional<UpdateJournal> journal = DescribeUpdate(data, "ready");
    EXPECT_TRUE(journal && WriteUpdateJournal(data, *journal));
    EXPECT_TRUE(journal && SetAsideReplacedFiles(data, *journal));
    EXPECT_TRUE(MoveEntry(Join(staging, "levels"), Join(data, "levels")));
    EXPECT_TRUE(MoveEntry(Join(staging, "newdir"), Join(data, "newdir")));
    EXPECT_TRUE(HasUpdateJournal(data));
  }

  Tree DataWithoutStaging() const {
    Tree tree = TreeOf(data);
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first == "game" || it->first.rfind("game\\", 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }
};

}  // namespace

TEST(UndoableUpdate, UndoPutsBackTheOldVersionAndKeepsTheWholeUpdateStaged) {
  HalfMovedUpdate state;
  const std::optional<UpdateJournal> journal = ReadUpdateJournal(state.data);
  ASSERT_TRUE(journal);
  EXPECT_TRUE(UndoUpdate(state.data, *journal));
  EXPECT_EQ(kOld, state.DataWithoutStaging()) << "the data folder is exactly the old version";
  EXPECT_EQ(kStaged, TreeOf(state.staging)) << "a later attempt still finds the whole update";
  EXPECT_FALSE(HasUpdateJournal(state.data));
}

TEST(UndoableUpdate, StoppedUpdateIsFinishedByTheNextPass) {
  HalfMovedUpdate state;
  RunUpdatePass(state.data, "ready");
  EXPECT_EQ(Updated(), TreeOf(state.data)) << "the complete new version, nothing of the journal left";
}

// The rest cannot move now (a staged file is held open by another program):
// the next pass undoes what had moved instead of leaving a mix.
TEST(UndoableUpdate, StoppedUpdateThatCannotBeFinishedIsUndone) {
  HalfMovedUpdate state;
  HANDLE held = CreateFileA(Join(state.staging, "a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  RunUpdatePass(state.data, "ready");
  CloseHandle(held);
  EXPECT_EQ(kOld, state.DataWithoutStaging());
  EXPECT_FALSE(HasUpdateJournal(state.data));
}

// Stopped after the marker arrived, before the set-aside files were removed:
// everything had arrived, so the pass only tidies up.
TEST(UndoableUpdate, UpdateStoppedAfterItsMarkerArrivedIsComplete) {
  HalfMovedUpdate state;
  ASSERT_TRUE(MoveEntry(Join(state.staging, "a.txt"), Join(state.data, "a.txt")));
  ASSERT_TRUE(MoveEntry(Join(state.staging, "ready"), Join(state.data, "ready")));
  RunUpdatePass(state.data, "another marker name now");
  EXPECT_EQ(Updated(), state.DataWithoutStaging());
  EXPECT_FALSE(HasUpdateJournal(state.data));
}

// A journal whose paths would leave the data folder is never acted on there.
TEST(UndoableUpdate, JournalPathsOutsideTheDataFolderAreIgnored) {
  const std::string scratch = FreshScratchFolder();
  const std::string data = Join(scratch, "data");
  WriteFile(Join(scratch, "outside.txt"), "not the launcher's");
  WriteFile(Join(data, "~upd.journal"), "m ready\na ..\\outside.txt\nr C:\\outside.txt\nd ..\n");
  const std::optional<UpdateJournal> journal = ReadUpdateJournal(data);
  ASSERT_TRUE(journal);
  EXPECT_TRUE(journal->entries.empty());
  RunUpdatePass(data, "ready");
  EXPECT_EQ("not the launcher's", ReadFile(Join(scratch, "outside.txt")));
  EXPECT_FALSE(HasUpdateJournal(data));
}
