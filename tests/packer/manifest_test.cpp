// The manifest a game's downloader checks an update against.
#include <gtest/gtest.h>

#include "packer/manifest.h"

using namespace packer;

namespace {

const std::string kDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string WithHeader(const std::string& body) { return std::string(kManifestHeader) + "\n" + body; }

}  // namespace

TEST(Manifest, ReadsBackWhatItWrites) {
  Manifest manifest;
  manifest.from = "1.0";
  manifest.to = "1.1";
  manifest.marker = "update.ready";
  manifest.entries = {{true, 0, "", "levels"},
                      {false, 1234, kDigest, "levels\\level one.dat.zip"},
                      {false, 0, kDigest, "update.ready"}};
  std::string error;
  const auto read = ParseManifest(FormatManifest(manifest), error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ("1.0", read->from);
  EXPECT_EQ("1.1", read->to);
  EXPECT_EQ("update.ready", read->marker);
  ASSERT_EQ(3u, read->entries.size());
  EXPECT_TRUE(read->entries[0].isFolder);
  EXPECT_EQ("levels", read->entries[0].path);
  EXPECT_EQ(1234u, read->entries[1].size);
  EXPECT_EQ("levels\\level one.dat.zip", read->entries[1].path);
  EXPECT_EQ(kDigest, read->entries[2].sha256);
}

TEST(Manifest, WindowsLineEndsAreRead) {
  std::string error;
  const auto read = ParseManifest(WithHeader("from 1.0\r\nto 1.1\r\nmarker m\r\nfile 3 " + kDigest + " a.txt\r\n"), error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ("m", read->marker);
  EXPECT_EQ("a.txt", read->entries.at(0).path);
}

TEST(Manifest, RefusesWhatIsNoManifestOrLeavesTheFolder) {
  for (const std::string& text :
       {std::string(""), std::string("file 3 " + kDigest + " a.txt\n"), WithHeader("file x " + kDigest + " a.txt\n"),
        WithHeader("file 3 abc a.txt\n"), WithHeader("file 3 " + kDigest + "\n"), WithHeader("unknown 1\n"),
        WithHeader("file 3 " + kDigest + " ..\\outside.txt\n"), WithHeader("file 3 " + kDigest + " C:\\x.txt\n"),
        WithHeader("file 3 " + kDigest + " \\rooted.txt\n"), WithHeader("folder a\\\\b\n"),
        WithHeader("folder a/b\n"), WithHeader("folder .\n")}) {
    std::string error;
    EXPECT_FALSE(ParseManifest(text, error)) << text;
    EXPECT_NE("", error);
  }
}

TEST(Manifest, LivesBesideTheUpdateFolder) {
  EXPECT_EQ("out/update-1.1.manifest", DefaultManifestPath("out/update-1.1"));
  EXPECT_EQ("out/update-1.1.manifest", DefaultManifestPath("out/update-1.1/"));
  EXPECT_EQ("C:\\dl\\update.manifest", DefaultManifestPath("C:\\dl\\update\\"));
}
