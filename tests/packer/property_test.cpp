// Random release pairs, packed and applied by the launcher's rules (modelled
// natively; the Wine tests check the model against the real launcher): the
// previous release's folder always becomes exactly the new release.
#include <gtest/gtest.h>

#include "packer/files.h"
#include "packer/launcher_model.h"
#include "tests/packer/packer_support.h"
#include "tests/packer/random_release.h"

using namespace packer;
using namespace packer_testing;

namespace {

struct Packed {
  CliResult result;
  Tree staging;
};

Packed PackPair(const std::string& root, const ReleasePair& pair, std::vector<std::string> extra = {}) {
  const std::string previous = HostJoin(root, "previous");
  const std::string next = HostJoin(root, "next");
  const std::string update = HostJoin(root, "update");
  EXPECT_TRUE(RemoveHostTree(previous) && RemoveHostTree(next) && RemoveHostTree(update) &&
              RemoveHostTree(update + ".manifest"));
  WriteTree(previous, pair.previous);
  WriteTree(next, pair.next);
  std::vector<std::string> arguments = {"pack", previous, next, update};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  Packed packed;
  packed.result = RunCli(arguments);
  if (packed.result.exitCode == 0) {
    packed.staging = ReadTree(update);
    const CliResult verified = RunCli({"verify", update});
    EXPECT_EQ(0, verified.exitCode) << verified.out;
  }
  return packed;
}

void ExpectInstallsTo(const Tree& staging, const Tree& data, const Tree& expected) {
  for (UnpackOrder order : {UnpackOrder::Forward, UnpackOrder::Backward}) {
    const LauncherOutcome outcome = ApplyLikeLauncher(staging, data, "update.ready", order);
    EXPECT_TRUE(outcome.installed && outcome.complete);
    EXPECT_EQ("", TreeDifference(outcome.data, expected))
        << (order == UnpackOrder::Forward ? "unpacked forward" : "unpacked backward");
  }
}

// Natively many cases; under Wine, where files are slower, fewer: the same
// generator then also drives the real launcher's cases.
#ifdef _WIN32
constexpr unsigned kCases = 30;
#else
constexpr unsigned kCases = 150;
#endif

}  // namespace

TEST(PackerProperty, EveryPackedPairInstallsToExactlyTheNewRelease) {
  const std::string root = FreshFolder();
  for (unsigned seed : PropertySeeds(kCases)) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun with PACKER_PROPERTY_SEED=" + std::to_string(seed) +
                 " PACKER_PROPERTY_CASES=1)");
    const ReleasePair pair = RandomReleasePair(seed);
    const Packed packed = PackPair(root, pair);
    ASSERT_EQ(0, packed.result.exitCode) << packed.result.out << packed.result.err;
    Tree expected = pair.next;
    AddFile(expected, "update.ready", "");
    ExpectInstallsTo(packed.staging, pair.previous, expected);
    if (HasFailure()) return;
  }
}

TEST(PackerProperty, DeletedFilesAreRefusedOrLeftInPlaceWhenAllowed) {
  const std::string root = FreshFolder();
  RandomReleaseOptions options;
  options.deleteFiles = true;
  for (unsigned seed : PropertySeeds(kCases / 4)) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const ReleasePair pair = RandomReleasePair(seed, options);
    ASSERT_FALSE(pair.deleted.empty());
    const Packed refused = PackPair(root, pair);
    ASSERT_EQ(1, refused.result.exitCode) << refused.result.out;
    for (const std::string& path : pair.deleted) {
      EXPECT_NE(std::string::npos, refused.result.err.find("\n    " + path + "\n")) << path << refused.result.err;
    }
    const Packed allowed = PackPair(root, pair, {"--allow-deleted"});
    ASSERT_EQ(0, allowed.result.exitCode) << allowed.result.err;
    Tree expected = pair.next;
    AddFile(expected, "update.ready", "");
    for (const std::string& path : pair.deleted) AddFile(expected, path, pair.previous.at(path).content);
    ExpectInstallsTo(allowed.staging, pair.previous, expected);
    if (HasFailure()) return;
  }
}
