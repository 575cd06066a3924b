// Random release pairs, packed, verified, and planned onto the previous
// release by the dry run (the launcher's own planner): every one installs
// whole. The Wine tests install them with the real launcher.
#include <gtest/gtest.h>

#include "packer/files.h"
#include "tests/packer/packer_support.h"
#include "tests/packer/random_release.h"

using namespace packer;
using namespace packer_testing;

namespace {

CliResult PackPair(const std::string& root, const ReleasePair& pair, std::vector<std::string> extra = {}) {
  const std::string previous = HostJoin(root, "previous");
  const std::string next = HostJoin(root, "next");
  const std::string update = HostJoin(root, "update");
  EXPECT_TRUE(RemoveHostTree(previous) && RemoveHostTree(next) && RemoveHostTree(update) &&
              RemoveHostTree(update + ".manifest"));
  WriteTree(previous, pair.previous);
  WriteTree(next, pair.next);
  std::vector<std::string> arguments = {"pack", previous, next, update};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  const CliResult packed = RunCli(arguments);
  if (packed.exitCode == 0) {
    const CliResult verified = RunCli({"verify", update});
    EXPECT_EQ(0, verified.exitCode) << verified.out;
    const CliResult planned = RunCli({"dry-run", update, "--onto", previous});
    EXPECT_EQ(0, planned.exitCode) << planned.out << planned.err;
    EXPECT_NE(std::string::npos, planned.out.find("the launcher would install it completely")) << planned.out;
  }
  return packed;
}

// Natively many cases; under Wine, where files are slower, fewer: the same
// generator then also drives the real launcher's cases.
#ifdef _WIN32
constexpr unsigned kCases = 30;
#else
constexpr unsigned kCases = 150;
#endif

}  // namespace

TEST(PackerProperty, EveryPackedPairVerifiesAndPlansWhole) {
  const std::string root = FreshFolder();
  for (unsigned seed : PropertySeeds(kCases)) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun with PACKER_PROPERTY_SEED=" + std::to_string(seed) +
                 " PACKER_PROPERTY_CASES=1)");
    const ReleasePair pair = RandomReleasePair(seed);
    const CliResult packed = PackPair(root, pair);
    ASSERT_EQ(0, packed.exitCode) << packed.out << packed.err;
    if (HasFailure()) return;
  }
}

TEST(PackerProperty, DeletedFilesAreRefusedUnlessAllowed) {
  const std::string root = FreshFolder();
  RandomReleaseOptions options;
  options.deleteFiles = true;
  for (unsigned seed : PropertySeeds(kCases / 4)) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const ReleasePair pair = RandomReleasePair(seed, options);
    ASSERT_FALSE(pair.deleted.empty());
    const CliResult refused = PackPair(root, pair);
    ASSERT_EQ(1, refused.exitCode) << refused.out;
    for (const std::string& path : pair.deleted) {
      EXPECT_NE(std::string::npos, refused.err.find("\n    " + path + "\n")) << path << refused.err;
    }
    const CliResult allowed = PackPair(root, pair, {"--allow-deleted"});
    ASSERT_EQ(0, allowed.exitCode) << allowed.err;
    if (HasFailure()) return;
  }
}
