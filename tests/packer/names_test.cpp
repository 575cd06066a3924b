// The names the launcher and Windows treat specially.
#include <gtest/gtest.h>

#include "packer/names.h"

using namespace packer;

TEST(LauncherNames, PackedOnlyWithExactlyLowerCaseZipAfterAStem) {
  EXPECT_TRUE(IsPackedName("level.dat.zip"));
  EXPECT_TRUE(IsPackedName("x.zip"));
  EXPECT_TRUE(IsPackedName("my file.zip"));
  EXPECT_FALSE(IsPackedName(".zip"));
  EXPECT_FALSE(IsPackedName("x.ZIP"));
  EXPECT_FALSE(IsPackedName("x.Zip"));
  EXPECT_FALSE(IsPackedName("x.zipx"));
  EXPECT_FALSE(IsPackedName("xzip"));
  EXPECT_TRUE(HasOtherCaseZipExtension("x.ZIP"));
  EXPECT_TRUE(HasOtherCaseZipExtension("x.zIp"));
  EXPECT_FALSE(HasOtherCaseZipExtension("x.zip"));
  EXPECT_FALSE(HasOtherCaseZipExtension("x.txt"));
}

TEST(LauncherNames, TemporarySuffixInAnyCase) {
  EXPECT_TRUE(IsLauncherTemporaryName("a.dat.unpacking~launcher"));
  EXPECT_TRUE(IsLauncherTemporaryName("a.dat.UNPACKING~Launcher"));
  EXPECT_FALSE(IsLauncherTemporaryName("a.dat.unpacking"));
}

TEST(WindowsNames, ForbiddenNames) {
  EXPECT_EQ("", WindowsNameProblem("level 1.dat"));
  EXPECT_EQ("", WindowsNameProblem(".hidden"));
  EXPECT_EQ("", WindowsNameProblem("console.txt"));
  EXPECT_EQ("", WindowsNameProblem("com10"));
  for (const char* bad : {"a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\\b", "a/b", "tab\there", "dot.",
                          "space ", "CON", "nul.txt", "Com1", "lpt9.log", "aux", ""}) {
    EXPECT_NE("", WindowsNameProblem(bad)) << bad;
  }
}

TEST(Paths, Components) {
  EXPECT_EQ("c.txt", BaseName("a\\b\\c.txt"));
  EXPECT_EQ("a\\b", ParentPath("a\\b\\c.txt"));
  EXPECT_EQ("", ParentPath("c.txt"));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c.txt"}), SplitPath("a\\b\\c.txt"));
  EXPECT_EQ("abc.zip", FoldCase("AbC.ZIP"));
}
