#include <gtest/gtest.h>

#include <random>
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
  for (const char* folder : {"levels\\deep", "levels.old", "levels-2"}) ASSERT_TRUE(tree.Folder(folder));
  ASSERT_FALSE(MoveFileExA(Join(root, "levels\\deep").c_str(), Join(root, "levels\\moved").c_str(), 0));
  tree.Release("levels");
  EXPECT_TRUE(MoveFileExA(Join(root, "levels\\deep").c_str(), Join(root, "levels\\moved").c_str(), 0));
  EXPECT_FALSE(MoveFileExA(Join(root, "levels.old").c_str(), Join(root, "old").c_str(), 0)) << "still pinned";
}

// Every name a tree takes stays below its home: one that would leave it (a
// drive, a UNC prefix, a "." or ".." segment) fails every act, and what lies
// beside the home is untouched.
TEST(PinnedTree, NamesNeverLeaveTheHome) {
  const std::string root = FreshScratchFolder();
  MakeFolders(Join(root, "home"));
  WriteFile(Join(root, "beside.txt"), "x");
  PinnedTree tree(root, "home");
  ASSERT_TRUE(tree.Valid());
  EXPECT_EQ(Join(root, "home"), tree.PathOf("").value_or(""));
  for (const std::string& name : {std::string("..\\beside.txt"), std::string("a\\..\\..\\beside.txt"),
                                  std::string(".\\x"), Join(root, "beside.txt"), std::string("\\\\server\\share\\x")}) {
    EXPECT_FALSE(tree.PathOf(name)) << name;
    EXPECT_FALSE(tree.Query(name).Exists()) << name;
    EXPECT_FALSE(tree.OpenPlain(name, GENERIC_READ)) << name;
    EXPECT_FALSE(tree.RemoveFileEntry(name)) << name;
    EXPECT_FALSE(tree.SetAttributes(name, FILE_ATTRIBUTE_HIDDEN)) << name;
    EXPECT_FALSE(tree.MakeFolder(name)) << name;
    EXPECT_FALSE(tree.CreateNewFile(name)) << name;
    EXPECT_FALSE(tree.RenameEntry(name, "moved.txt")) << name;
  }
  EXPECT_EQ("x", ReadFile(Join(root, "beside.txt")));
  EXPECT_EQ(0u, GetFileAttributesA(Join(root, "beside.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(PinnedTree(root, "..").Valid());
}

// Property: whatever a name is made of, the path the tree makes of it lies
// below the home and climbs out by no segment, or there is none. Windows
// drops trailing dots and spaces as it normalises: ".. " may climb too.
TEST(PinnedTree, EveryPathItMakesLiesBelowTheHome) {
  const std::string root = FreshScratchFolder();
  const std::string home = Join(root, "home");
  MakeFolders(home);
  PinnedTree tree(root, "home");
  const char* const pieces[] = {"a", "..", ".", "", "C:", "\\\\srv", "b/c", "...",
                                " ", "/", "\\", "..\\..", ".. ", ". .", "a."};
  std::mt19937 random(20261211);
  for (int round = 0; round < 2000; ++round) {
    std::string name;
    for (int i = std::uniform_int_distribution<int>(1, 5)(random); i > 0; --i) {
      name += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
      if (random() % 2) name += '\\';
    }
    const OptionalPath path = tree.PathOf(name);
    if (!path) continue;
    ASSERT_EQ(0u, path->compare(0, home.size(), home)) << name;
    const std::string rest = path->substr(home.size());
    ASSERT_TRUE(rest.empty() || rest[0] == '\\') << name << " -> " << *path;
    std::string segment;
    for (const char c : rest + '\\') {
      if (c != '\\' && c != '/') {
        segment += c;
        continue;
      }
      const bool climbs = !segment.empty() && segment.find_first_not_of(". ") == std::string::npos;
      ASSERT_FALSE(climbs) << name << " -> " << *path;
      segment.clear();
    }
  }
}
