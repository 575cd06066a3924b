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
  EXPECT_FALSE(DiscardStagingFolder(""));
  EXPECT_FALSE(DiscardStagingFolder(Join(working, "other")));
  EXPECT_FALSE(DiscardStagingFolder("other"));
  EXPECT_FALSE(DiscardStagingFolder("..\\game"));
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(Exists(Join(working, "keep.txt")));
  EXPECT_TRUE(Exists(Join(working, "other\\keep.txt")));
  EXPECT_TRUE(Exists(Join(scratch, "game\\keep.txt")));
  EXPECT_FALSE(DiscardStagingFolder(Join(working, "game"))) << "a staging folder that is not there";
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

// A device name exists in every folder, a wildcard matches any entry: only
// an entry the staging folder really holds counts as the marker.
TEST(StagedMarkerExists, DeviceNameOrWildcardIsNeverPresent) {
  const std::string staging = Join(FreshScratchFolder(), "game");
  WriteFile(Join(staging, "staged.txt"), "staged");
  WriteFile(Join(staging, "ab.txt"), "ab");
  MakeFolders(Join(staging, "sub"));
  for (const char* marker : {"CON", "nul", "NUL.txt", "aux", "COM1", "LPT1", "CONOUT$", "*", "a?.txt", "sub\\NUL"}) {
    EXPECT_FALSE(StagedMarkerExists(staging, marker)) << marker;
  }
  EXPECT_TRUE(StagedMarkerExists(staging, "ab.txt"));
  EXPECT_TRUE(StagedMarkerExists(staging, "sub"));
}
