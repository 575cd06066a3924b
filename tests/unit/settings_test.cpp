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

std::string Repeat(const std::string& piece, size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

// Nesting deep enough to exhaust the stack of a recursive parser.
TEST_F(SettingsFile, DeeplyNestedFileReadsAsMalformed) {
  const std::string settings = "<settings company=\"Acme\"/>\n";
  Write(settings + Repeat("<a>", 100000) + Repeat("</a>", 100000));
  EXPECT_EQ("", ReadSetting("company"));
  Write(settings + Repeat("<a x='/>'>", kMaxXmlDepth + 1));
  EXPECT_EQ("", ReadSetting("company")) << "markup inside quoted values is no end tag";
  Write(settings + Repeat("<a>", kMaxXmlDepth) + Repeat("</a>", kMaxXmlDepth));
  EXPECT_EQ("Acme", ReadSetting("company"));
}

TEST_F(SettingsFile, OversizedFileReadsAsMalformed) {
  const std::string settings = "<settings company=\"Acme\"/>\n<!--";
  const std::string padding(kMaxXmlFileBytes - settings.size() - 3, 'x');
  Write(settings + padding + "-->");
  EXPECT_EQ("Acme", ReadSetting("company")) << "exactly at the limit";
  Write(settings + padding + "x-->");
  EXPECT_EQ("", ReadSetting("company"));
}

TEST_F(SettingsFile, ElementWithTooManyAttributesReadsAsMalformed) {
  std::string attributes;
  for (size_t i = 1; i < kMaxXmlAttributes; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
  Write("<settings company=\"Acme\"" + attributes + "/>");
  EXPECT_EQ("Acme", ReadSetting("company"));
  Write("<settings company=\"Acme\"" + attributes + " extra=\"\"/>");
  EXPECT_EQ("", ReadSetting("company"));
}

// Markup TinyXML skips (comments, CDATA, quoted values, declarations,
// unknown nodes) opens no element; everything it could nest is counted.
TEST(XmlLimits, CountsNestingAsTheParserSeesIt) {
  const std::string deep = Repeat("<a>", kMaxXmlDepth + 1);
  EXPECT_TRUE(IsWithinXmlLimits(Repeat("<a/>", 10000)));
  EXPECT_TRUE(IsWithinXmlLimits("<r>" + Repeat("<!-- <a> -->", 1000) + "</r>"));
  EXPECT_TRUE(IsWithinXmlLimits("<r>" + Repeat("<![CDATA[<a>]]>", 1000) + "</r>"));
  EXPECT_TRUE(IsWithinXmlLimits("<r>" + Repeat("<a x=\"<b>\" y='<c>'></a>", 1000) + "</r>"));
  EXPECT_TRUE(IsWithinXmlLimits("<!DOCTYPE r>" + Repeat("<r></r >", 1000)));
  EXPECT_TRUE(IsWithinXmlLimits("<!-- " + deep));
  EXPECT_FALSE(IsWithinXmlLimits(deep));
  EXPECT_FALSE(IsWithinXmlLimits(Repeat("<_>", kMaxXmlDepth + 1)));
  EXPECT_FALSE(IsWithinXmlLimits(Repeat("<\xc3\xa9>", kMaxXmlDepth + 1)));
  EXPECT_FALSE(IsWithinXmlLimits("<r>" + Repeat("<a x='</r>'>", kMaxXmlDepth)));
  EXPECT_FALSE(IsWithinXmlLimits("<r>" + Repeat("<?xml v=\"</r>\"?><a>", kMaxXmlDepth)));
  EXPECT_FALSE(IsWithinXmlLimits("<?xml v=\"x>" + deep));
  // The size is the file's, counted where it is read.
  EXPECT_FALSE(ParseTopLevelElements(std::string(kMaxXmlFileBytes + 1, ' ')).has_value());
}

TEST(SettingIsTrue, OnlyExactFalseIsFalse) {
  EXPECT_FALSE(SettingIsTrue("false"));
  for (const char* value : {"", "true", "False", "FALSE", "0", "no", "false ", " false"}) {
    EXPECT_TRUE(SettingIsTrue(value)) << "'" << value << "'";
  }
}
