#include <gtest/gtest.h>

#include "settings/settings.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

// Writes game.xml into a scratch folder made the working folder.
class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    previous_ = cwd;
    folder_ = FreshScratchFolder();
    SetCurrentDirectoryA(folder_.c_str());
  }
  void TearDown() override { SetCurrentDirectoryA(previous_.c_str()); }
  void Write(const std::string& xml) { WriteFile(Join(folder_, "game.xml"), xml); }

  std::string folder_;
  std::string previous_;
};

}  // namespace

TEST_F(SettingsFile, ElementNameAnyCaseAttributeNameExact) {
  Write("<SETTINGS company=\"Acme\" Product=\"P\"/>");
  EXPECT_EQ("Acme", ReadSetting("company"));
  EXPECT_EQ("", ReadSetting("product"));
  EXPECT_EQ("P", ReadSetting("Product"));
}

TEST_F(SettingsFile, OnlyTopLevelElementsCount) {
  Write("<root><settings company=\"Hidden\"/></root>");
  EXPECT_EQ("", ReadSetting("company"));
}

TEST_F(SettingsFile, FirstElementCarryingTheKeyWins) {
  Write("<?xml version=\"1.0\"?>\n<settings product=\"X\"/>\n<other company=\"No\"/>\n"
        "<Settings company=\"Y\" product=\"Z\"/>");
  EXPECT_EQ("X", ReadSetting("product"));
  EXPECT_EQ("Y", ReadSetting("company"));
}

TEST_F(SettingsFile, PresentEmptyValueStopsTheSearch) {
  Write("<settings lang=\"\"/><settings lang=\"en\"/>");
  EXPECT_EQ("", ReadSetting("lang"));
}

TEST_F(SettingsFile, EntitiesDecodedAndNothingTrimmed) {
  Write("<settings company=\" A &amp; B \"/>");
  EXPECT_EQ(" A & B ", ReadSetting("company"));
}

TEST_F(SettingsFile, MissingOrMalformedFileReadsEmpty) {
  EXPECT_EQ("", ReadSetting("company"));
  Write("<settings company=\"Acme\"");
  EXPECT_EQ("", ReadSetting("company"));
  Write("");
  EXPECT_EQ("", ReadSetting("company"));
  Write(std::string("\xff\xfe<\0s\0", 6));
  EXPECT_EQ("", ReadSetting("company"));
}

TEST_F(SettingsFile, ReadFromTheWorkingFolderOfTheMoment) {
  Write("<settings company=\"First\"/>");
  EXPECT_EQ("First", ReadSetting("company"));
  const std::string other = Join(folder_, "other");
  WriteFile(Join(other, "game.xml"), "<settings company=\"Second\"/>");
  SetCurrentDirectoryA(other.c_str());
  EXPECT_EQ("Second", ReadSetting("company"));
}

TEST(SettingIsTrue, OnlyExactFalseIsFalse) {
  EXPECT_FALSE(SettingIsTrue("false"));
  for (const char* value : {"", "true", "False", "FALSE", "0", "no", "false ", " false"}) {
    EXPECT_TRUE(SettingIsTrue(value)) << "'" << value << "'";
  }
}
