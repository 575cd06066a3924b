#include <gtest/gtest.h>

#include <set>

#include "fs/pinned_tree.h"
#include "fs/walk.h"
#include "tests/support/harness.h"

using namespace testing_support;

TEST(ForEachEntry, EmptyFolderVisitsNothingAndSucceeds) {
  const std::string folder = FreshScratchFolder();
  int visits = 0;
  EXPECT_EQ(Listing::Complete, ForEachEntry(folder, [&](const FolderEntry&) { return ++visits, true; }));
  EXPECT_EQ(0, visits);
}

TEST(ForEachEntry, MissingFolderOrFailedPathVisitsNothingAndFails) {
  const std::string folder = FreshScratchFolder();
  int visits = 0;
  EXPECT_EQ(Listing::Failed, ForEachEntry(Join(folder, "missing"), [&](const FolderEntry&) { return ++visits, true; }));
  EXPECT_EQ(Listing::Failed, ForEachEntry("", [&](const FolderEntry&) { return ++visits, true; }));
  EXPECT_EQ(0, visits);
}

TEST(ForEachEntry, ReportsFilesAndFoldersAndStopsWhenAsked) {
  const std::string folder = FreshScratchFolder();
  WriteFile(Join(folder, "a.txt"), "a");
  WriteFile(Join(folder, "noext"), "b");
  MakeFolders(Join(folder, "sub"));
  std::set<std::string> files, folders;
  EXPECT_EQ(Listing::Complete, ForEachEntry(folder, [&](const FolderEntry& e) {
    (e.isFolder ? folders : files).insert(e.name);
    EXPECT_FALSE(e.isLink);
    return true;
  }));
  EXPECT_EQ((std::set<std::string>{"a.txt", "noext"}), files) << "the *.* pattern matches names without a dot";
  EXPECT_EQ((std::set<std::string>{"sub"}), folders);
  int visits = 0;
  EXPECT_EQ(Listing::Stopped, ForEachEntry(folder, [&](const FolderEntry&) { return ++visits, false; }));
  EXPECT_EQ(1, visits);
}

// A pinned folder refuses renaming; letting go of a folder lets go of every
// folder below it, also past a sibling whose name sorts in between.
TEST(PinnedTree, ReleaseLetsGoOfEveryFolderBelow) {
  const std::string root = FreshScratchFolder();
  for (const char* folder : {"levels\\deep", "levels.old", "levels-2"}) MakeFolders(Join(root, folder));
  PinnedTree tree(root);
  for (const char* folder : {"levels\\deep", "levels.old", "levels-2"}) ASSERT_TRUE(tree.Folder(Join(root, folder)));
  ASSERT_FALSE(MoveFileExA(Join(root, "levels\\deep").c_str(), Join(root, "levels\\moved").c_str(), 0));
  tree.Release(Join(root, "levels"));
  EXPECT_TRUE(MoveFileExA(Join(root, "levels\\deep").c_str(), Join(root, "levels\\moved").c_str(), 0));
  EXPECT_FALSE(MoveFileExA(Join(root, "levels.old").c_str(), Join(root, "old").c_str(), 0)) << "still pinned";
}
