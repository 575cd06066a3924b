// After a first-start copy the whole company folder is open to everyone and
// its files are writable.
#include <gtest/gtest.h>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

class Access : public CompanyTest {};

}  // namespace

TEST_F(Access, ReadOnlyFileThreeFoldersDownBecomesWritableKeepingHiddenAndSystem) {
  const Install install = MakeGameInstall();
  const std::string deep = Join(companyFolder, "a\\b\\c\\deep.dat");
  WriteFile(deep, "deep");
  ASSERT_TRUE(SetFileAttributesA(deep.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  EXPECT_EQ(0, Run(install));

  const DWORD attributes = Attributes(deep);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(IsWritable(deep));
}

TEST_F(Access, WholeCompanyFolderIsOpenedUpOtherProductsIncluded) {
  const Install install = MakeGameInstall();
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("1", "0"));
  const std::string other = Join(companyFolder, "Other Game\\fr");
  const std::string otherFile = Join(other, "saves\\slot.sav");
  WriteFile(otherFile, "other");
  ASSERT_TRUE(SetFileAttributesA(otherFile.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_FALSE(EveryoneHasFullAccess(otherFile)) << "the check must see the difference";
  ASSERT_FALSE(EveryoneHasFullAccess(companyFolder));

  EXPECT_EQ(0, Run(install));

  const std::string data = DataFolder();
  for (const std::string& path : {otherFile, other, Join(companyFolder, "Other Game"), Join(data, "game.dll"),
                                  Join(data, "properties\\version.xml"), Join(data, "properties"), data,
                                  Join(companyFolder, "Game"), companyFolder}) {
    EXPECT_TRUE(EveryoneHasFullAccess(path)) << path;
  }
  EXPECT_TRUE(IsWritable(otherFile));
}

TEST_F(Access, NothingIsOpenedUpWithoutACopy) {
  const Install install = MakeGameInstall();
  ProvisionDataFolder();
  const std::string file = Join(DataFolder(), "saves\\slot1.sav");
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(0, Run(install));
  EXPECT_TRUE(Attributes(file) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(EveryoneHasFullAccess(file));
  EXPECT_FALSE(EveryoneHasFullAccess(companyFolder));
}
