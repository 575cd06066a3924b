// The packer judges updates by the launcher's rules: here they meet the
// launcher itself. Random releases with hostile names: every one the packer
// accepts, the real launcher installs exactly; every one it refuses, the
// launcher would not. Staging folders the packer would never write end as
// written down here, and as the packer's dry run foretells.
#include <gtest/gtest.h>

#include "packer/checks.h"
#include "packer/files.h"
#include "packer/names.h"
#include "packer/release.h"
#include "packer/staged_file.h"
#include "rungame_update.h"
#include "tests/packer/packer_support.h"
#include "tests/packer/random_release.h"
#include "tests/support/launcher_test.h"

using namespace testing_support;
using namespace packer_testing;

namespace {

// Writes as much of `tree` as Windows takes; what it makes of the rest
// (a device name opened, a trailing dot dropped) shows in what is read back.
void WriteWhatWindowsTakes(const std::string& root, const Tree& tree) {
  (void)packer::MakeHostParents(packer::HostJoin(root, "x"));
  (void)packer::MakeHostFolder(root);
  for (const auto& entry : tree) {
    const std::string path = packer::HostJoin(root, entry.first);
    if (IsFolderEntry(entry.second)) {
      (void)packer::MakeHostFolder(path);
      continue;
    }
    packer::HostFile file = packer::OpenHostFile(path, "wb");
    if (file) std::fwrite(entry.second.data(), 1, entry.second.size(), file.Get());
  }
}

// A refused release staged as the packer would have staged it, had it not
// refused: files plain, those named like packed files packed once more so
// that they arrive under their own names, and those longer than `longest`
// packed, so that the launcher makes its temporary name of them as it would
// of any packed file.
Tree StageAsIs(const Tree& release, std::size_t longest) {
  Tree staging;
  for (const auto& entry : release) {
    if (IsFolderEntry(entry.second)) {
      AddFolder(staging, entry.first);
    } else if (rules::IsPackedName(packer::BaseName(entry.first)) || entry.first.size() > longest) {
      AddFile(staging, entry.first + ".zip", packer::GzipBytes(entry.second));
    } else {
      AddFile(staging, entry.first, entry.second);
    }
  }
  AddFile(staging, "update.ready", "");
  return staging;
}

}  // namespace

using PackerAgreement = LauncherTest;

TEST_F(PackerAgreement, HostileNamesPackOnlyWhereTheLauncherInstallsThemExactly) {
  RandomReleaseOptions options;
  options.previousGameDll = ReadFile(TestGameDll(1));
  options.nextGameDll = ReadFile(TestGameDll(2));
  // Working-folder mode: the install folder is the data folder, and it lies
  // exactly as deep as the packer assumes, so that the packer's path rule
  // and the launcher's own limits meet.
  options.gameXml = SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.ready"}});
  const std::vector<packer::PlayerFolder> players = packer::PlayerFolders("false", "", "", "");
  ASSERT_EQ(1u, players.size());
  const std::size_t installLength = players[0].length;
  const std::string launcherExe = ReadFile(LauncherExe());
  unsigned accepted = 0;
  unsigned refused = 0;
  const std::vector<unsigned> seeds = PropertySeeds(16);
  for (unsigned seed : seeds) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun with PACKER_PROPERTY_SEED=" + std::to_string(seed) +
                 " PACKER_PROPERTY_CASES=1)");
    const std::string root = Join(scratch, "s" + std::to_string(seed));
    ASSERT_LT(root.size() + 2, installLength);
    const std::string install = Join(root, "i" + std::string(installLength - root.size() - 2, 'p'));
    const std::string next = Join(root, "n");
    const std::string update = Join(root, "u");
    ReleasePair pair = HostileReleasePair(seed, options);
    // A packed file one short of, at, or one over the longest path that fits.
    const std::size_t length = rules::LongestFittingPath(installLength) - 1 + seed % 3;
    AddFile(pair.next, "levels\\" + std::string(length - 7, 'b'), Compressible(3000, seed));
    MakeFolders(root);
    WriteTree(install, pair.previous);
    WriteWhatWindowsTakes(next, pair.next);
    const Tree release = ReadTree(next);  // what the packer sees
    Tree expected = release;
    AddFile(expected, "launcher.exe", launcherExe);
    AddFile(expected, "update.ready", "");

    const CliResult packed = RunCli({"pack", install, next, update});
    ASSERT_NE(2, packed.exitCode) << packed.err;
    WriteFile(Join(install, "launcher.exe"), launcherExe);
    if (packed.exitCode == 0) {
      ++accepted;
      ASSERT_EQ(RUNGAME_STAGED, RunGameStageUpdate(update.c_str(), nullptr, install.c_str(), "update.ready", nullptr, 0));
      ASSERT_EQ(0, Run(Install{install, Join(install, "launcher.exe")}));
      EXPECT_EQ("", TreeDifference(ReadTree(install), expected)) << "accepted, yet not installed exactly";
    } else {
      ++refused;
      ASSERT_NE(std::string::npos, packed.err.find("  refused: ")) << packed.err;
      // Names outside ASCII follow the player's code page: the launcher
      // installs them under some code pages (this Wine's, say) and not under
      // others, and the packer refuses them for that.
      if (packed.err.find("player's code page") != std::string::npos) continue;
      WriteTree(Join(install, "game"), StageAsIs(release, rules::LongestFittingPath(installLength)));
      ASSERT_EQ(0, Run(Install{install, Join(install, "launcher.exe")}));
      EXPECT_NE("", TreeDifference(ReadTree(install), expected)) << "refused, yet the launcher installs it exactly:\n"
                                                                 << packed.err;
    }
    if (HasFailure()) return;
  }
  RecordProperty("accepted", static_cast<int>(accepted));
  RecordProperty("refused", static_cast<int>(refused));
  if (seeds.size() >= 8) {
    EXPECT_TRUE(accepted >= 2 && refused >= 2) << accepted << " accepted, " << refused << " refused";
  }
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Tree TreeOf(const Entries& files) {
  Tree tree;
  for (const auto& file : files) AddFile(tree, file.first, file.second);
  return tree;
}

// Staging folders by hand onto a data folder: what arrives, and the dry
// run's exit code (0: installed whole).
struct StagedByHandRow {
  const char* what;
  Entries data;
  Entries staging;
  Entries arrives;
  int dryRun;
};

TEST_F(PackerAgreement, StagedByHandEndsAsTheDryRunSays) {
  const std::string damaged = packer::GzipBytes(Compressible(5000, 1)).substr(0, 40);
  const StagedByHandRow rows[] = {
      {"packing rules and damage",
       {{"levels\\level.dat", "installed level"}, {"keep.dat", "installed, damaged update"}},
       {{"levels\\level.dat.zip", packer::GzipBytes("new level")},
        {"keep.dat.zip", damaged},
        {"plain.txt.zip", "no gzip magic"},
        {"empty.bin.zip", ""},
        {"upper.ZIP", packer::GzipBytes("as it is")},
        {"bundle.zip\\inner.txt.zip", packer::GzipBytes("inner")},
        {"both.txt", "plain neighbour"},
        {"both.txt.zip", packer::GzipBytes("from packed")},
        {"stale.unpacking~launcher", "leftover"},
        {"update.ready", ""}},
       {{"levels\\level.dat", "new level"},
        {"keep.dat.zip", damaged},
        {"plain.txt", "no gzip magic"},
        {"empty.bin", ""},
        {"upper.ZIP", packer::GzipBytes("as it is")},
        {"bundle.zip\\inner.txt", "inner"},
        {"both.txt", "from packed"},
        {"update.ready", ""}},
       1},
      {"merged into a folder", {{"levels\\old.dat", "kept"}},
       {{"levels\\new.dat.zip", packer::GzipBytes("new")}, {"readme.txt", "read"}, {"update.ready", ""}},
       {{"levels\\new.dat", "new"}, {"readme.txt", "read"}, {"update.ready", ""}}, 0},
      {"no marker", {{"a.txt", "installed"}}, {{"a.txt", "staged"}}, {}, 1},
      {"a file over a folder", {{"music\\theme.ogg", "installed"}},
       {{"music", "a file now"}, {"other.txt", "moves"}, {"update.ready", ""}}, {}, 1},
  };
  for (const StagedByHandRow& row : rows) {
    SCOPED_TRACE(row.what);
    // Working-folder mode: the install folder is the data folder.
    const Install install = MakeInstall(Join(scratch, std::string("i") + std::to_string(&row - rows)),
                                        SettingsXml({{"use_app_data_folder", "false"}, {"update_semaphore", "update.ready"}}));
    WriteTree(install.folder, TreeOf(row.data));
    Tree expected = ReadTree(install.folder);
    for (const auto& file : row.arrives) AddFile(expected, file.first, file.second);
    WriteTree(Join(install.folder, "game"), TreeOf(row.staging));
    const CliResult planned = RunCli({"dry-run", Join(install.folder, "game"), "--onto", install.folder});
    EXPECT_EQ(row.dryRun, planned.exitCode) << planned.out << planned.err;
    ASSERT_EQ(0, Run(install));
    EXPECT_EQ("", TreeDifference(ReadTree(install.folder), expected));
  }
}
