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

// The disposal sends the data folder's staging folder to the Recycle Bin
// and nothing else: not the data folder, nor a "game" folder beside it.
TEST(DiscardStagingFolder, SendsOnlyTheDataFoldersOwn) {
  const std::string scratch = FreshScratchFolder();
  WriteFile(Join(scratch, "data\\game\\inner\\file.txt"), "x");
  WriteFile(Join(scratch, "data\\keep.txt"), "x");
  WriteFile(Join(scratch, "game\\keep.txt"), "x");
  PinnedTree tree(scratch, "data");
  EXPECT_FALSE(DisposeEntry(tree, "")) << "the data folder itself";
  EXPECT_FALSE(DisposeEntry(tree, "..\\game"));
  EXPECT_TRUE(DiscardStagingFolder(tree));
  EXPECT_FALSE(Exists(Join(scratch, "data\\game")));
  EXPECT_TRUE(InRecycleBin("game"));
  EXPECT_TRUE(Exists(Join(scratch, "data\\keep.txt")));
  EXPECT_TRUE(Exists(Join(scratch, "game\\keep.txt")));
  EXPECT_FALSE(DiscardStagingFolder(tree)) << "a staging folder that is not there";
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
