// The model of the launcher's update pass the packer's checks rest on. Its
// agreement with the real launcher is tested under Wine.
#include <gtest/gtest.h>

#include "packer/launcher_model.h"
#include "packer/staged_file.h"
#include "tests/packer/packer_support.h"

using namespace packer;
using namespace packer_testing;

TEST(LauncherModel, WithoutTheMarkerNothingIsInstalled) {
  Tree staging;
  AddFile(staging, "a.txt", "new");
  Tree data;
  AddFile(data, "a.txt", "old");
  const LauncherOutcome outcome = ApplyLikeLauncher(staging, data, "update.ready");
  EXPECT_FALSE(outcome.installed);
  EXPECT_EQ("", TreeDifference(outcome.data, data));
}

TEST(LauncherModel, UnpacksMergesAndMovesTheMarkerLast) {
  Tree staging;
  AddFile(staging, "levels\\level.dat.zip", GzipBytes("level"));
  AddFile(staging, "plain.txt.zip", "no magic");
  AddFile(staging, "upper.ZIP", "as is");
  AddFile(staging, "stale.dat.unpacking~launcher", "leftover");
  AddFile(staging, "update.ready", "");
  Tree data;
  AddFile(data, "levels\\other.dat", "kept");
  AddFile(data, "LEVELS\\LEVEL.DAT", "old");
  const LauncherOutcome outcome = ApplyLikeLauncher(staging, data, "update.ready");
  EXPECT_TRUE(outcome.installed && outcome.complete);
  Tree expected;
  AddFile(expected, "levels\\other.dat", "kept");
  AddFile(expected, "levels\\level.dat", "level");
  AddFile(expected, "plain.txt", "no magic");
  AddFile(expected, "upper.ZIP", "as is");
  AddFile(expected, "update.ready", "");
  // A replaced file takes the staged name's letter case.
  EXPECT_EQ("", TreeDifference(outcome.data, expected));
  EXPECT_EQ("update.ready", outcome.steps[outcome.steps.size() - 2].substr(8, 12));
}

TEST(LauncherModel, DamagedPackedFileArrivesUnderItsZipName) {
  Tree staging;
  AddFile(staging, "a.dat.zip", GzipBytes(std::string(5000, 'x')).substr(0, 30));
  AddFile(staging, "update.ready", "");
  Tree data;
  AddFile(data, "a.dat", "old");
  const LauncherOutcome outcome = ApplyLikeLauncher(staging, data, "update.ready");
  EXPECT_TRUE(outcome.installed);
  EXPECT_FALSE(outcome.complete);
  EXPECT_EQ("old", outcome.data.at("a.dat").content);
  EXPECT_EQ(1u, outcome.data.count("a.dat.zip"));
}

TEST(LauncherModel, AFileNeverReplacesAFolderAndThenNothingIsInstalled) {
  Tree staging;
  AddFile(staging, "music", "a file");
  AddFile(staging, "other.txt", "would move");
  AddFile(staging, "update.ready", "");
  Tree data;
  AddFile(data, "music\\theme.ogg", "x");
  const LauncherOutcome outcome = ApplyLikeLauncher(staging, data, "update.ready");
  EXPECT_FALSE(outcome.complete);
  EXPECT_EQ("", TreeDifference(outcome.data, data)) << "all or nothing: the data folder is unchanged";
}

TEST(LauncherModel, ChainedZipNamesDependOnTheUnpackingOrder) {
  // Why the packer never stages both "x.zip" and "x.zip.zip" packed: the
  // outcome would depend on the order the folder walk returns them.
  Tree staging;
  AddFile(staging, "x.zip", GzipBytes("content of x"));
  AddFile(staging, "x.zip.zip", GzipBytes("PK archive named x.zip"));
  AddFile(staging, "update.ready", "");
  const LauncherOutcome forward = ApplyLikeLauncher(staging, Tree(), "update.ready", UnpackOrder::Forward);
  const LauncherOutcome backward = ApplyLikeLauncher(staging, Tree(), "update.ready", UnpackOrder::Backward);
  EXPECT_NE("", TreeDifference(forward.data, backward.data));
}
