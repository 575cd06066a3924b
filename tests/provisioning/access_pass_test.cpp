// The access pass called directly on a folder tree.
#include <gtest/gtest.h>

#include "fs/pinned_tree.h"
#include "provisioning/access.h"
#include "provisioning/install_copy.h"
#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

// The pass as the launcher runs it: in a tree rooted above the folder.
bool OpenUp(const std::string& folder) {
  const std::size_t slash = folder.find_last_of('\\');
  PinnedTree tree(folder.substr(0, slash));
  return OpenUpAccess(tree, folder.substr(slash + 1));
}

}  // namespace

// Root, as the tests run, may write to a read-only file anyway: the attribute
// is what is checked.
TEST(OpenUpAccess, ClearsOnlyTheReadOnlyBitOfFilesAtAnyDepth) {
  const std::string root = FreshScratchFolder();
  const std::string deep = Join(root, "a\\b\\c\\deep.dat");
  const std::string top = Join(root, "top.dat");
  const std::string plain = Join(root, "a\\plain.dat");
  WriteFile(deep, "d");
  WriteFile(top, "t");
  WriteFile(plain, "p");
  ASSERT_TRUE(SetFileAttributesA(deep.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA(top.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  const DWORD deepBefore = Attributes(deep);
  const DWORD plainBefore = Attributes(plain);
  ASSERT_TRUE(deepBefore & FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(OpenUp(root));

  EXPECT_EQ(deepBefore & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), Attributes(deep));
  EXPECT_TRUE(Attributes(deep) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(Attributes(deep) & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(IsWritable(deep));
  EXPECT_FALSE(Attributes(top) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(plainBefore, Attributes(plain));
}

// The files a first-start copy made open are passed over, by the names the
// copy gives them below the folder the pass starts from; the rest is opened.
TEST(OpenUpAccess, PassesOverWhatTheCopyMadeOpen) {
  const std::string root = FreshScratchFolder();
  const std::string made = Join(root, "Co\\G\\sub\\made.dat");
  const std::string other = Join(root, "Co\\G\\other.dat");
  for (const std::string& file : {made, other}) {
    WriteFile(file, "x");
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  CopyPlan plan;
  plan.items = {{"sub", true, 0}, {"SUB\\Made.dat", false, 1}};
  PinnedTree tree(root);
  EXPECT_TRUE(OpenUpAccess(tree, "Co", CopiedFiles(plan, "Co\\G")));
  EXPECT_TRUE(Attributes(made) & FILE_ATTRIBUTE_READONLY) << "passed over";
  EXPECT_FALSE(Attributes(other) & FILE_ATTRIBUTE_READONLY);
}

TEST(OpenUpAccess, OpensEveryFileAndFolderAndTheFolderItself) {
  const std::string root = FreshScratchFolder();
  const std::string file = Join(root, "x\\y\\f.dat");
  WriteFile(file, "f");
  ASSERT_FALSE(EveryoneHasFullAccess(file)) << "the check must see the difference";
  ASSERT_FALSE(EveryoneHasFullAccess(root));
  EXPECT_TRUE(OpenUp(root));
  for (const std::string& path : {file, Join(root, "x\\y"), Join(root, "x"), root}) {
    EXPECT_TRUE(EveryoneHasFullAccess(path)) << path;
  }
}

TEST(OpenUpAccess, LeavesAFolderThatIsALinkAlone) {
  const std::string root = FreshScratchFolder();
  const std::string outside = Join(root, "outside");
  WriteFile(Join(outside, "f.dat"), "f");
  const std::string link = Join(root, "link");
  ASSERT_TRUE(PlantLink(link, outside));
  ASSERT_TRUE(SetFileAttributesA(Join(outside, "f.dat").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(OpenUp(link));
  EXPECT_FALSE(EveryoneHasFullAccess(outside));
  EXPECT_FALSE(EveryoneHasFullAccess(Join(outside, "f.dat")));
  EXPECT_TRUE(Attributes(Join(outside, "f.dat")) & FILE_ATTRIBUTE_READONLY);
  RemoveLink(link);
}
