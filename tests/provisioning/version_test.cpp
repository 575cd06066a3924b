// The version file rules and the version order, without a launcher run.
#include <gtest/gtest.h>

#include "provisioning/version_file.h"
#include "tests/provisioning/provisioning_support.h"
#include "tests/support/harness.h"

using namespace testing_support;
using provisioning_support::VersionXml;

namespace {

XmlElement Element(const std::string& name, std::vector<std::pair<std::string, std::string>> attributes) {
  return XmlElement{name, std::move(attributes)};
}

bool Same(const std::optional<VersionPair>& got, long x, long y) { return got && got->x == x && got->y == y; }

}  // namespace

TEST(VersionNumber, ReadsLikeStrtolInBaseTenSaturatingAt32Bits) {
  EXPECT_EQ(7, ParseVersionNumber("07"));
  EXPECT_EQ(10, ParseVersionNumber("010")) << "not octal";
  EXPECT_EQ(1, ParseVersionNumber("1.2"));
  EXPECT_EQ(1, ParseVersionNumber("1.9"));
  EXPECT_EQ(0, ParseVersionNumber("beta"));
  EXPECT_EQ(0, ParseVersionNumber(""));
  EXPECT_EQ(0, ParseVersionNumber("0x10")) << "no hex prefix";
  EXPECT_EQ(12, ParseVersionNumber(" \t\n12"));
  EXPECT_EQ(3, ParseVersionNumber("  3"));
  EXPECT_EQ(3, ParseVersionNumber("+3"));
  EXPECT_EQ(-4, ParseVersionNumber("-4rc"));
  EXPECT_EQ(2147483647, ParseVersionNumber("2147483647"));
  EXPECT_EQ(2147483647, ParseVersionNumber("2147483648"));
  EXPECT_EQ(2147483647, ParseVersionNumber("99999999999999999999999"));
  EXPECT_EQ(-2147483647, ParseVersionNumber("-2147483647"));
  EXPECT_EQ(-2147483647 - 1, ParseVersionNumber("-2147483649"));
  EXPECT_EQ(-2147483647 - 1, ParseVersionNumber("-99999999999999999999999"));
}

TEST(VersionElements, FirstTopLevelVersionElementWithBothAttributesWins) {
  EXPECT_TRUE(Same(VersionFromElements({Element("version", {{"x", "1"}, {"y", "2"}})}), 1, 2));
  EXPECT_TRUE(Same(VersionFromElements({Element("VERSION", {{"y", "4"}, {"x", "3"}})}), 3, 4));
  EXPECT_TRUE(Same(VersionFromElements({Element("vErSiOn", {{"x", "3"}, {"y", "4"}})}), 3, 4));
  EXPECT_TRUE(Same(VersionFromElements({Element("version", {{"x", "1"}}), Element("version", {{"x", "2"}, {"y", "0"}})}),
                   2, 0));
  EXPECT_TRUE(Same(VersionFromElements({Element("settings", {{"x", "9"}, {"y", "9"}}),
                                        Element("version", {{"x", "1"}, {"y", "1"}}),
                                        Element("version", {{"x", "5"}, {"y", "5"}})}),
                   1, 1));
  EXPECT_FALSE(VersionFromElements({Element("version", {{"X", "1"}, {"Y", "2"}})}));
  EXPECT_FALSE(VersionFromElements({Element("versions", {{"x", "1"}, {"y", "2"}})}));
  EXPECT_FALSE(VersionFromElements({Element("version", {{"y", "2"}})}));
  EXPECT_FALSE(VersionFromElements({}));
}

TEST(VersionOrder, MajorFirstThenMinorNumerically) {
  EXPECT_TRUE(IsNewerVersion({1, 10}, {1, 9}));
  EXPECT_TRUE(IsNewerVersion({2, 0}, {1, 99}));
  EXPECT_FALSE(IsNewerVersion({1, 5}, {1, 5}));
  EXPECT_FALSE(IsNewerVersion({1, 4}, {2, 0}));
  EXPECT_FALSE(IsNewerVersion({1, 99}, {2, 0}));
  EXPECT_TRUE(IsNewerVersion({0, 0}, {-1, 5}));
}

TEST(VersionFile, ReadsOnlyTopLevelElementsOfARealFile) {
  const std::string folder = FreshScratchFolder();
  const std::string path = Join(folder, "version.xml");
  WriteFile(path, "<?xml version=\"1.0\"?>\n<game><version x=\"9\" y=\"9\"/></game>\n<Version x=\" 2\" y=\"+3\"/>\n");
  EXPECT_TRUE(Same(ReadVersionFile(path), 2, 3));
  WriteFile(path, "<game><version x=\"9\" y=\"9\"/></game>\n");
  EXPECT_FALSE(ReadVersionFile(path)) << "a nested version element does not count";
  WriteFile(path, "<version x=\"1\" y=");
  EXPECT_FALSE(ReadVersionFile(path));
  EXPECT_FALSE(ReadVersionFile(Join(folder, "missing.xml")));
}

// Past the size or nesting limit a version file reads as malformed instead
// of exhausting the stack.
TEST(VersionFile, OverLimitsReadsAsMalformed) {
  const std::string folder = FreshScratchFolder();
  const std::string path = Join(folder, "version.xml");
  std::string deep = "<version x=\"2\" y=\"3\"/>";
  for (int i = 0; i < 100000; ++i) deep += "<v>";
  WriteFile(path, deep);
  EXPECT_FALSE(ReadVersionFile(path));
  WriteFile(path, "<version x=\"2\" y=\"3\"/>" + std::string(kMaxXmlFileBytes, ' '));
  EXPECT_FALSE(ReadVersionFile(path));
}

// Both version files read from real files, then compared: the launcher
// refills the data folder exactly when both read and the installed one is
// newer.
TEST(VersionFile, InstalledVersionIsNewer) {
  const std::string folder = FreshScratchFolder();
  const std::string installed = Join(folder, "installed.xml");
  const std::string data = Join(folder, "data.xml");
  const auto xml = [](const std::string& body) { return "<?xml version=\"1.0\"?>\n" + body + "\n"; };
  struct Row {
    std::string installed, data;
    bool newer;
  };
  const Row rows[] = {
      {VersionXml("1", "10"), VersionXml("1", "9"), true},
      {VersionXml("2", "0"), VersionXml("1", "99"), true},
      {VersionXml("1", "5"), VersionXml("1", "5"), false},
      {VersionXml("1", "4"), VersionXml("2", "0"), false},
      {VersionXml("07", "0"), VersionXml("6", "0"), true},
      {VersionXml("010", "0"), VersionXml("9", "0"), true},
      {VersionXml("1.9", "5"), VersionXml("1", "4"), true},
      {VersionXml("beta", "0"), VersionXml("-1", "0"), true},
      {VersionXml("0x10", "0"), VersionXml("1", "0"), false},
      {VersionXml("  3", "0"), VersionXml("2", "0"), true},
      {VersionXml("+3", "0"), VersionXml("2", "0"), true},
      {VersionXml("99999999999", "0"), VersionXml("2147483646", "0"), true},
      {VersionXml("99999999999", "0"), VersionXml("2147483647", "0"), false},
      {VersionXml("-2147483647", "0"), VersionXml("-99999999999", "0"), true},
      {xml("<VERSION x=\"2\" y=\"0\"/>"), VersionXml("1", "0"), true},
      {xml("<version X=\"2\" Y=\"0\"/>"), VersionXml("1", "0"), false},
      {xml("<version x=\"1\"/>\n<version x=\"2\" y=\"0\"/>"), VersionXml("1", "5"), true},
      {xml("<version x=\"1\" y=\"0\"/>\n<version x=\"2\" y=\"0\"/>"), VersionXml("1", "5"), false},
      {xml("<game><version x=\"9\" y=\"9\"/></game>"), VersionXml("1", "0"), false},
  };
  for (const Row& row : rows) {
    WriteFile(installed, row.installed);
    WriteFile(data, row.data);
    const auto a = ReadVersionFile(installed);
    const auto b = ReadVersionFile(data);
    EXPECT_EQ(row.newer, a && b && IsNewerVersion(*a, *b)) << row.installed << " over " << row.data;
  }
}
