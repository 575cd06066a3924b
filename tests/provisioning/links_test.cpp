// The company folder is writable by everyone after a first start, so anyone
// may plant links in it. Neither the copy nor the access passes may reach a
// file or folder outside it through one.
#include <gtest/gtest.h>

#include "tests/provisioning/provisioning_support.h"

using namespace testing_support;
using namespace provisioning_support;

namespace {

class Links : public CompanyTest {
 protected:
  void SetUp() override {
    CompanyTest::SetUp();
    outside = Join(scratch, "outside");
    outsideFile = Join(outside, "keep.dat");
    WriteFile(outsideFile, "outside");
    ASSERT_TRUE(SetFileAttributesA(outsideFile.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  void TearDown() override {
    for (const std::string& link : links) RemoveLink(link);
    CompanyTest::TearDown();
  }

  void Plant(const std::string& link, const std::string& target) {
    MakeFolders(link.substr(0, link.find_last_of('\\')));
    links.push_back(link);
    ASSERT_TRUE(PlantLink(link, target)) << link;
  }

  void ExpectOutsideUntouched() {
    EXPECT_EQ((std::vector<std::string>{"keep.dat"}), ListFolder(outside));
    EXPECT_EQ("outside", ReadFile(outsideFile));
    EXPECT_TRUE(Attributes(outsideFile) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(EveryoneHasFullAccess(outsideFile));
    EXPECT_FALSE(EveryoneHasFullAccess(outside));
  }

  std::string outside, outsideFile;
  std::vector<std::string> links;
};

}  // namespace

TEST_F(Links, CompanyFolderThatIsALinkMakesTheGameRunFromTheInstallFolder) {
  const Install install = MakeGameInstall();
  Plant(companyFolder, outside);
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  ExpectOutsideUntouched();
}

TEST_F(Links, ProductOrLangFolderThatIsALinkMakesTheGameRunFromTheInstallFolder) {
  const Install install = MakeGameInstall();
  Plant(Join(companyFolder, "Game"), outside);
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  RemoveLink(Join(companyFolder, "Game"));

  Plant(DataFolder(), outside);
  EXPECT_EQ(0, Run(install));
  EXPECT_EQ(install.folder, RanIn());
  ExpectOutsideUntouched();
}

// Only links to folders: Wine 8 shows a unix link to a file as a plain file,
// which no Windows program can tell from one.
TEST_F(Links, AccessPassesNeitherFollowNorChangeLinksAndEndOnLoops) {
  const Install install = MakeGameInstall();
  Plant(Join(companyFolder, "Other\\escape"), outside);
  Plant(Join(companyFolder, "Other\\loop"), companyFolder);
  Plant(Join(companyFolder, "Other\\up"), CommonAppData());

  EXPECT_EQ(0, Run(install));

  EXPECT_EQ(DataFolder(), RanIn());
  EXPECT_TRUE(EveryoneHasFullAccess(Join(DataFolder(), "game.dll"))) << "the passes did run";
  EXPECT_TRUE(EveryoneHasFullAccess(Join(companyFolder, "Other")));
  ExpectOutsideUntouched();
  EXPECT_FALSE(EveryoneHasFullAccess(CommonAppData()));
}

TEST_F(Links, HardLinkToAFileOutsideIsLeftAlone) {
  const Install install = MakeGameInstall();
  MakeFolders(Join(companyFolder, "Other"));
  const std::string hard = Join(companyFolder, "Other\\hard.dat");
  ASSERT_TRUE(CreateHardLinkA(hard.c_str(), outsideFile.c_str(), nullptr));
  const std::string own = Join(companyFolder, "Other\\own.dat");
  WriteFile(own, "own");
  ASSERT_TRUE(SetFileAttributesA(own.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(0, Run(install));

  EXPECT_TRUE(EveryoneHasFullAccess(own));
  EXPECT_FALSE(Attributes(own) & FILE_ATTRIBUTE_READONLY);
  ExpectOutsideUntouched();
  SetFileAttributesA(hard.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Links, CopyRefusesToWriteThroughALinkInTheDataFolder) {
  const Install install = MakeGameInstall();
  WriteFile(Join(install.folder, "properties\\version.xml"), VersionXml("2", "0"));
  WriteFile(Join(install.folder, "copied.txt"), "x");
  ProvisionDataFolder();
  DeleteFileA(Join(DataFolder(), "saves\\slot1.sav").c_str());  // an empty saves folder asks for a copy
  Plant(Join(DataFolder(), "properties"), outside);

  EXPECT_EQ(0, Run(install));

  EXPECT_EQ(install.folder, RanIn()) << "a link in the way: the data folder cannot be filled";
  EXPECT_FALSE(Exists(Join(DataFolder(), "copied.txt"))) << "nothing is copied";
  EXPECT_FALSE(EveryoneHasFullAccess(Join(DataFolder(), "game.dll"))) << "no access pass after a refused copy";
  ExpectOutsideUntouched();
}
