// The shared rules, one table: each name with what every rule says of it.
// The launcher, the packer and the helper all ask these functions.
#include <gtest/gtest.h>

#include "packer/names.h"
#include "rules/config_files.h"
#include "rules/rules.h"

using namespace rules;

namespace {

struct NameRow {
  const char* name;
  bool plain;        // Windows holds it as it is
  bool device;       // a reserved device name
  bool packed;       // the launcher unpacks it
  bool temporary;    // the launcher's temporary files
  bool topReserved;  // the launcher's own at the top of the data folder
  bool marker;       // a plain marker name
};

const NameRow kNames[] = {
    // name                     plain  device packed temp   top    marker
    {"level 1.dat",             true,  false, false, false, false, true},
    {".hidden",                 true,  false, false, false, false, true},
    {"console.txt",             true,  false, false, false, false, true},
    {"com10",                   true,  false, false, false, false, true},
    {"COM",                     true,  false, false, false, false, true},
    {"update.ready",            true,  false, false, false, false, true},
    {"x.zip",                   true,  false, true,  false, false, false},
    {"my file.zip",             true,  false, true,  false, false, false},
    {".zip",                    true,  false, false, false, false, true},
    {"x.ZIP",                   true,  false, false, false, false, true},
    {"x.zipx",                  true,  false, false, false, false, true},
    {"a.dat.unpacking~launcher", true, false, false, true,  false, false},
    {"A.DAT.Unpacking~Launcher", true, false, false, true,  false, false},
    {".unpacking~launcher",     true,  false, false, true,  false, false},
    {"b.copying~launcher",      true,  false, false, true,  false, false},
    {"a.dat.unpacking",         true,  false, false, false, false, true},
    {"game",                    true,  false, false, false, true,  false},
    {"GAME",                    true,  false, false, false, true,  false},
    {"~upd",                    true,  false, false, false, true,  false},
    {"~UPD.journal",            true,  false, false, false, true,  false},
    {"~upd.journal.tmp",        true,  false, false, false, true,  false},
    {"~new",                    true,  false, false, false, true,  false},
    {"~upd.old",                true,  false, false, false, false, true},
    {"caf\xC3\xA9.txt",         true,  false, false, false, false, false},
    {"CON",                     false, true,  false, false, false, false},
    {"nul.txt",                 false, true,  false, false, false, false},
    {"nul .txt",                false, true,  false, false, false, false},
    {"Com1",                    false, true,  false, false, false, false},
    {"COM0",                    false, true,  false, false, false, false},
    {"lpt9.log",                false, true,  false, false, false, false},
    {"LPT0",                    false, true,  false, false, false, false},
    {"conout$",                 false, true,  false, false, false, false},
    {"aux.tar.gz",              false, true,  false, false, false, false},
    {"a:b",                     false, false, false, false, false, false},
    {"a*b",                     false, false, false, false, false, false},
    {"a?b",                     false, false, false, false, false, false},
    {"a\"b",                    false, false, false, false, false, false},
    {"a<b",                     false, false, false, false, false, false},
    {"a|b",                     false, false, false, false, false, false},
    {"a\\b",                    false, false, false, false, false, false},
    {"a/b",                     false, false, false, false, false, false},
    {"/",                       false, false, false, false, false, false},
    {"tab\there",               false, false, false, false, false, false},
    {"dot.",                    false, false, false, false, false, false},
    {"space ",                  false, false, false, false, false, false},
    {"..two",                   false, false, false, false, false, false},
    {"..",                      false, false, false, false, false, false},
    {".",                       false, false, false, false, false, false},
    {"",                        false, false, false, false, false, false},
};

}  // namespace

TEST(Rules, NameTable) {
  for (const NameRow& row : kNames) {
    SCOPED_TRACE(std::string("name \"") + row.name + "\"");
    EXPECT_EQ(row.plain, IsPlainName(row.name));
    EXPECT_EQ(row.plain, WindowsNameProblem(row.name).empty());
    EXPECT_EQ(row.device, IsReservedDeviceName(row.name));
    EXPECT_EQ(row.packed, IsPackedName(row.name));
    EXPECT_EQ(row.temporary, IsLauncherTemporaryName(row.name));
    EXPECT_EQ(row.topReserved, IsReservedTopLevelName(row.name));
    EXPECT_EQ(row.marker, IsPlainMarkerName(row.name));
    // The plain C core says the same.
    EXPECT_EQ(row.marker, rungame_is_plain_marker_name(row.name) != 0);
    // A release may hold it at the top exactly when every rule lets it through.
    if (std::string(row.name).find('\\') != std::string::npos) continue;  // a path to the release
    const bool shippable = row.plain && !row.temporary && !row.topReserved && IsAsciiName(row.name);
    EXPECT_EQ(shippable, ReleaseNameProblem(row.name).empty()) << ReleaseNameProblem(row.name);
    EXPECT_EQ(shippable, rungame_is_installable_path(row.name, 0) != 0);
    // The launcher removes only files of its temporary names.
    const bool shippableFolder = row.plain && !row.topReserved && IsAsciiName(row.name);
    EXPECT_EQ(shippableFolder, ReleaseNameProblem(row.name, true).empty());
    EXPECT_EQ(shippableFolder, rungame_is_installable_path(row.name, 1) != 0);
  }
  EXPECT_TRUE(IsOtherCaseZipName("x.ZIP") && IsOtherCaseZipName("x.zIp"));
  EXPECT_FALSE(IsOtherCaseZipName("x.zip") || IsOtherCaseZipName(".ZIP"));
  EXPECT_EQ(std::string(RUNGAME_NAME_LIMIT, 'n'), std::string(255, 'n'));
  EXPECT_TRUE(IsPlainName(std::string(255, 'n')));
  EXPECT_FALSE(IsPlainName(std::string(256, 'n')));
  EXPECT_FALSE(IsPlainName(std::string("a\0b", 3)));
}

TEST(Rules, ReservedNamesCountOnlyAtTheTop) {
  for (const char* path : {"~upd.journal", "~upd\\x.txt", "levels\\x.copying~launcher", "levels\\nul .txt",
                           "levels\\", "\\levels", "a\\\\b", "a\\..\\b"}) {
    EXPECT_NE("", ReleaseNameProblem(path)) << path;
    EXPECT_FALSE(rungame_is_installable_path(path, 0)) << path;
  }
  for (const char* path : {"levels\\game", "levels\\~new", "a\\b\\c.zip", "x.unpacking~launcher\\y"}) {
    EXPECT_EQ("", ReleaseNameProblem(path)) << path;
    EXPECT_TRUE(rungame_is_installable_path(path, 0)) << path;
  }
  EXPECT_NE(std::string::npos, ReleaseNameProblem("\xE6\x97\xA5\xE6\x9C\xAC.txt").find("code page"));
}

TEST(Rules, MarkerCountsOnlyAsAPlainFileAtTheTop) {
  EXPECT_EQ(MarkerKind::StagingFolder, ClassifyMarker(""));
  EXPECT_EQ(MarkerKind::PlainFile, ClassifyMarker("update.ready"));
  for (const char* marker : {"/", "\\", "levels\\t.dat.zip", "sub/x", "..\\x", "C:x", "NUL", "*", "x.zip", "game"}) {
    EXPECT_EQ(MarkerKind::NeverPresent, ClassifyMarker(marker)) << marker;
    EXPECT_FALSE(MarkerCountsAsPresent(marker, true, true, true)) << marker;
  }
  EXPECT_TRUE(MarkerCountsAsPresent("update.ready", true, true, true));
  EXPECT_FALSE(MarkerCountsAsPresent("update.ready", true, true, false)) << "a folder of that name";
  EXPECT_FALSE(MarkerCountsAsPresent("update.ready", true, false, false));
  EXPECT_FALSE(MarkerCountsAsPresent("update.ready", false, true, true)) << "a linked staging folder";
  EXPECT_TRUE(MarkerCountsAsPresent("", true, false, false));
}

TEST(Rules, AsciiCaseOnly) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Update.Ready", "update.READY"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9")) << "no locale folding";
  EXPECT_EQ("abc.zip\xC3\x89", FoldAsciiCase("AbC.ZIP\xC3\x89"));
}

TEST(Rules, SettingsSizeIsCountedOnTheFileBytes) {
  const std::string head = "<settings update_semaphore=\"u\">";
  const std::string tail = "</settings>";
  const auto padded = [&](std::size_t size, const std::string& filler, bool asComment) {
    const std::string open = asComment ? head + tail + "<!--" : head;
    const std::string close = asComment ? "-->" : tail;
    std::string text = open;
    while (text.size() + close.size() < size) text += filler;
    text.resize(size - close.size());
    return text + close;
  };
  for (const std::string filler : {"x", "line\r\n", "a &amp; b "}) {
    for (bool asComment : {false, true}) {
      SCOPED_TRACE(filler + (asComment ? " in a comment" : " as text"));
      const auto atLimit = ParseTopLevelElements(padded(kMaxXmlFileBytes, "x", asComment));
      ASSERT_TRUE(atLimit.has_value());
      EXPECT_EQ("u", FindSetting(*atLimit, "update_semaphore"));
      EXPECT_FALSE(ParseTopLevelElements(padded(kMaxXmlFileBytes + 1, filler, asComment)).has_value());
    }
  }
}

TEST(Paths, Components) {
  using namespace packer;
  EXPECT_EQ("c.txt", BaseName("a\\b\\c.txt"));
  EXPECT_EQ("a\\b", ParentPath("a\\b\\c.txt"));
  EXPECT_EQ("", ParentPath("c.txt"));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c.txt"}), SplitPath("a\\b\\c.txt"));
  EXPECT_EQ("abc.zip", FoldCase("AbC.ZIP"));
}
