#include <gtest/gtest.h>

#include "launcher/data_folder.h"

TEST(IsPlainFolderName, AcceptsOrdinaryNames) {
  for (const char* name : {"Acme", "Acme Games", "Ultra-Game 2", "en", "x.y", ".hidden", "\xc4pfel"}) {
    EXPECT_TRUE(IsPlainFolderName(name)) << name;
  }
}

TEST(IsPlainFolderName, RefusesNamesThatAreNotOneFolderLevel) {
  for (const char* name : {"", ".", "..", "a\\b", "a/b", "C:", "C:\\Windows", "\\\\srv\\share", "a:b", "what?",
                           "a*", "a<b", "a>b", "a|b", "a\"b", "trailing.", "trailing ", "CON", "con", "NUL.txt",
                           "com1", "LPT9", "aux", "prn", "tab\there"}) {
    EXPECT_FALSE(IsPlainFolderName(name)) << name;
  }
  EXPECT_TRUE(IsPlainFolderName("COM")) << "only COM followed by a digit is a device";
  EXPECT_TRUE(IsPlainFolderName("CONSOLE"));
}

TEST(ComposeAppDataFolders, ThreeLevelsBelowTheRoot) {
  const auto folders = ComposeAppDataFolders(std::string("C:\\ProgramData"), "Acme", "Game", "en");
  ASSERT_TRUE(folders.has_value());
  EXPECT_EQ("Acme\\Game\\en", folders->belowRoot);
  EXPECT_EQ("C:\\ProgramData\\Acme\\Game\\en", folders->dataFolder);
}

TEST(ComposeAppDataFolders, EmptyProductOrLangDropsOut) {
  EXPECT_EQ("C:\\PD\\Acme\\en", ComposeAppDataFolders(std::string("C:\\PD"), "Acme", "", "en")->dataFolder);
  EXPECT_EQ("C:\\PD\\Acme", ComposeAppDataFolders(std::string("C:\\PD"), "Acme", "", "")->dataFolder);
}

TEST(ComposeAppDataFolders, RefusesWhatWouldActOnOtherProgramsData) {
  const OptionalPath root = std::string("C:\\ProgramData");
  EXPECT_FALSE(ComposeAppDataFolders(root, "", "", ""));
  EXPECT_FALSE(ComposeAppDataFolders(root, "", "Game", "en"));
  EXPECT_FALSE(ComposeAppDataFolders(root, "..", "Game", "en"));
  EXPECT_FALSE(ComposeAppDataFolders(root, "Acme", "..\\..", "en"));
  EXPECT_FALSE(ComposeAppDataFolders(root, "Acme", "Game", "C:\\Windows"));
  EXPECT_FALSE(ComposeAppDataFolders(root, "Acme", "Game", "NUL"));
  EXPECT_FALSE(ComposeAppDataFolders(OptionalPath(), "Acme", "Game", "en"));
  EXPECT_FALSE(ComposeAppDataFolders(std::string("relative"), "Acme", "Game", "en"));
  EXPECT_FALSE(ComposeAppDataFolders(root, "Acme", std::string(200, 'p'), std::string(60, 'l')))
      << "a data folder beyond MAX_PATH";
}

// Each row a game.xml whose settings the launcher must not act on: it runs
// the game from the install folder instead.
TEST(ComposeAppDataFolders, RefusesEveryUnusableSetting) {
  const OptionalPath root = std::string("C:\\ProgramData");
  const struct {
    const char* company;
    const char* product;
    const char* lang;
  } rows[] = {
      {"", "", ""},
      {"", "Game", "en"},
      {"..", "Acme", ""},
      {"Acme\\..\\Acmex", "", ""},
      {"C:\\windows", "", ""},
      {"Acme", "..", ""},
      {"Acme", "", "a/b"},
      {"Acme", "NUL", ""},
      {"Acme", "trailing.", ""},
  };
  for (const auto& row : rows) {
    EXPECT_FALSE(ComposeAppDataFolders(root, row.company, row.product, row.lang))
        << row.company << " | " << row.product << " | " << row.lang;
  }
  EXPECT_FALSE(ComposeAppDataFolders(root, "Acme", std::string(150, 'p'), std::string(100, 'l')));
}
