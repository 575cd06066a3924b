#include <gtest/gtest.h>

#include "fs/path.h"
#include "fs/path_list.h"

TEST(JoinPath, InsertsOneBackslash) {
  EXPECT_EQ("C:\\Data\\game", JoinPath("C:\\Data", "game").value());
  EXPECT_EQ("C:\\Data\\game", JoinPath("C:\\Data\\", "game").value());
  EXPECT_EQ("C:\\Data", JoinPath("C:\\Data", "").value());
  EXPECT_EQ("properties\\version.xml", JoinPath("properties", "version.xml").value());
}

TEST(JoinPath, FailsRatherThanPassTheLimit) {
  const std::string base = "C:\\" + std::string(250, 'a');
  EXPECT_TRUE(JoinPath(base, "b").has_value());
  EXPECT_FALSE(JoinPath(base, std::string(10, 'b')).has_value());
  EXPECT_FALSE(JoinPath("C:\\" + std::string(400, 'a'), "").has_value());
  EXPECT_FALSE(JoinPath(OptionalPath(), "game").has_value()) << "a failed join stays failed";
}

TEST(JoinPath, RefusesComponentsThatLeaveTheBase) {
  for (const char* component : {"..", ".", "a\\..\\..\\Windows", "..\\x", "a/../b", "C:\\Windows", "D:x",
                                "\\\\server\\share", ".. ", "a\\.. \\..\\x", "...", ". "}) {
    EXPECT_FALSE(JoinPath("C:\\Data\\Co", component).has_value()) << component;
  }
  EXPECT_EQ("C:\\Data\\a\\b", JoinPath("C:\\Data", "a\\b").value());
  EXPECT_EQ("C:\\Data\\...x", JoinPath("C:\\Data", "...x").value()) << "dotted names are kept as they are";
  EXPECT_EQ("C:\\Data\\..x", JoinPath("C:\\Data", "..x").value());
  EXPECT_EQ("C:\\Data\\game", JoinPath("C:\\Data", "\\game").value());
}

TEST(IsRootOrRelative, OnlyAbsoluteNonRootPathsPass) {
  EXPECT_TRUE(IsRootOrRelative(""));
  EXPECT_TRUE(IsRootOrRelative("game"));
  EXPECT_TRUE(IsRootOrRelative("\\game"));
  EXPECT_TRUE(IsRootOrRelative("C:game"));
  EXPECT_TRUE(IsRootOrRelative("C:\\"));
  EXPECT_FALSE(IsRootOrRelative("C:\\Data\\game"));
  EXPECT_FALSE(IsRootOrRelative("\\\\server\\share\\game"));
}

TEST(MultiString, EachPathEndsWithNulAndTheListWithAnother) {
  const std::vector<char> two = ToMultiString({"A", "BC"});
  EXPECT_EQ(std::string("A\0BC\0\0", 6), std::string(two.begin(), two.end()));
  const std::vector<char> none = ToMultiString({});
  EXPECT_EQ(std::string("\0", 1), std::string(none.begin(), none.end()));
}
