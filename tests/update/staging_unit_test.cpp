// The pieces of the staging pass that need no launcher process.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/harness.h"
#include "tests/update/update_support.h"
#include "update/staging.h"
#include "update/unpack.h"

using namespace testing_support;
using namespace update_testing;

TEST(CollectPackedFiles, ExactLowerCaseZipFilesAtAnyDepthOnly) {
  const std::string folder = FreshScratchFolder();
  WriteFile(Join(folder, "a.zip"), "");
  WriteFile(Join(folder, "b.ZIP"), "");
  WriteFile(Join(folder, "c.zipx"), "");
  WriteFile(Join(folder, ".zip"), "");
  WriteFile(Join(folder, "d.tar.zip"), "");
  WriteFile(Join(folder, "sub\\deeper\\e.zip"), "");
  WriteFile(Join(folder, "pack.zip\\f.zip"), "");
  PathList packed;
  CollectPackedFiles(folder, packed);
  std::sort(packed.begin(), packed.end());
  EXPECT_EQ((PathList{Join(folder, "a.zip"), Join(folder, "d.tar.zip"), Join(folder, "pack.zip\\f.zip"),
                      Join(folder, "sub\\deeper\\e.zip")}),
            packed);
}

TEST(CollectPackedFiles, MissingFolderAddsNothing) {
  PathList packed{"kept"};
  CollectPackedFiles(Join(FreshScratchFolder(), "missing"), packed);
  EXPECT_EQ(PathList{"kept"}, packed);
}

// The disposal acts on a staging folder and nothing else: never on the
// working folder through an empty path, never on a folder of another name.
TEST(DiscardStagingFolder, RefusesAnythingButAStagingFolder) {
  const std::string scratch = FreshScratchFolder();
  WriteFile(Join(scratch, "keep.txt"), "x");
  WriteFile(Join(scratch, "other\\keep.txt"), "x");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
  EXPECT_FALSE(DiscardStagingFolder(""));
  EXPECT_FALSE(DiscardStagingFolder(Join(scratch, "other")));
  EXPECT_FALSE(DiscardStagingFolder("other"));
  EXPECT_FALSE(DiscardStagingFolder("..\\game"));
  EXPECT_FALSE(DiscardStagingFolder(Join(scratch, "game")));
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(Exists(Join(scratch, "keep.txt")));
  EXPECT_TRUE(Exists(Join(scratch, "other\\keep.txt")));
}

TEST(DiscardStagingFolder, RelativeStagingFolderGoesToTheRecycleBin) {
  const std::string scratch = FreshScratchFolder();
  WriteFile(Join(scratch, "game\\inner\\file.txt"), "x");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
  EXPECT_TRUE(DiscardStagingFolder("game"));
  SetCurrentDirectoryA(previous);
  EXPECT_FALSE(Exists(Join(scratch, "game")));
  EXPECT_TRUE(InRecycleBin("game"));
}
