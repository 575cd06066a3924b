// The pieces of the staging pass that need no launcher process.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/harness.h"
#include "tests/update/update_support.h"
#include "fs/pinned_tree.h"
#include "update/staging.h"
#include "update/unpack.h"

using namespace testing_support;
using namespace update_testing;

TEST(IsPackedName, ExactLowerCaseZipAfterANameOnly) {
  for (const char* name : {"a.zip", "d.tar.zip", "x.zip.zip", "..zip"}) EXPECT_TRUE(IsPackedName(name)) << name;
  for (const char* name : {"b.ZIP", "c.zipx", ".zip", "zip", "a.zip.", "a.Zip"}) EXPECT_FALSE(IsPackedName(name)) << name;
}

// The disposal acts on a staging folder and nothing else: never on the
// working folder through an empty path, never on a folder of another name,
// never on a "game" folder outside the working folder.
TEST(DiscardStagingFolder, RefusesAnythingButAStagingFolder) {
  const std::string scratch = FreshScratchFolder();
  const std::string working = Join(scratch, "working");
  WriteFile(Join(working, "keep.txt"), "x");
  WriteFile(Join(working, "other\\keep.txt"), "x");
  WriteFile(Join(scratch, "game\\keep.txt"), "x");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(working.c_str()));
  PinnedTree tree(scratch);
  EXPECT_FALSE(DiscardStagingFolder(tree, ""));
  EXPECT_FALSE(DiscardStagingFolder(tree, Join(working, "other")));
  EXPECT_FALSE(DiscardStagingFolder(tree, "other"));
  EXPECT_FALSE(DiscardStagingFolder(tree, "..\\game"));
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(Exists(Join(working, "keep.txt")));
  EXPECT_TRUE(Exists(Join(working, "other\\keep.txt")));
  EXPECT_TRUE(Exists(Join(scratch, "game\\keep.txt")));
  EXPECT_FALSE(DiscardStagingFolder(tree, Join(working, "game"))) << "a staging folder that is not there";
}

TEST(DiscardStagingFolder, RelativeStagingFolderGoesToTheRecycleBin) {
  const std::string scratch = FreshScratchFolder();
  WriteFile(Join(scratch, "game\\inner\\file.txt"), "x");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
  PinnedTree tree(scratch);
  EXPECT_TRUE(DiscardStagingFolder(tree, "game"));
  SetCurrentDirectoryA(previous);
  EXPECT_FALSE(Exists(Join(scratch, "game")));
  EXPECT_TRUE(InRecycleBin("game"));
}

// Only a plain file at the staging folder's top level is the marker: never
// a folder, a path into the tree, or a separator.
TEST(IsMarkerEntry, APlainTopLevelFileInAnyAsciiCase) {
  struct Row {
    const char* relative;
    bool isFolder;
    const char* marker;
    bool expected;
  };
  const Row rows[] = {
      {"ready", false, "ready", true},       {"READY", false, "ready", true},
      {"ready", true, "ready", false},       {"sub\\ready", false, "ready", false},
      {"sub\\ready", false, "sub\\ready", false}, {"sub", true, "sub\\", false},
      {"ready", false, "\\ready", false},    {"ready", false, "/ready", false},
      {"ready", false, "", false},           {"ready.txt", false, "ready", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, IsMarkerEntry(row.relative, row.isFolder, row.marker)) << row.relative << " / " << row.marker;
  }
}
