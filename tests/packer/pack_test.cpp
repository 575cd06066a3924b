// Packing two releases through the command line: the update folder's layout,
// its manifest, and each refusal and warning with its exit code.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "packer/files.h"
#include "packer/manifest.h"
#include "packer/sha256.h"
#include "packer/staged_file.h"
#include "tests/packer/packer_support.h"

using namespace packer;
using namespace packer_testing;
using packer_testing::Tree;  // not the packer's own

namespace {

class Pack : public ::testing::Test {
 protected:
  std::string root = FreshFolder();
  std::string previousFolder = HostJoin(root, "previous");
  std::string nextFolder = HostJoin(root, "next");
  std::string update = HostJoin(root, "update");
  Tree previous = MinimalRelease(0);
  Tree next = MinimalRelease(1);
  // Files a tree cannot hold beside its others: names equal but for case.
  std::vector<std::pair<std::string, std::string>> alsoInNext;

  // Both releases on disk, as the trees say.
  void Prepare() {
    ASSERT_TRUE(RemoveHostTree(previousFolder) && RemoveHostTree(nextFolder));
    WriteTree(previousFolder, previous);
    WriteTree(nextFolder, next);
    for (const auto& file : alsoInNext) {
      HostFile out = OpenHostFile(HostJoin(nextFolder, file.first), "wb");
      ASSERT_TRUE(out && std::fwrite(file.second.data(), 1, file.second.size(), out.Get()) == file.second.size());
    }
  }
  CliResult Run(std::vector<std::string> extra = {}) {
    EXPECT_TRUE(RemoveHostTree(update) && RemoveHostTree(update + ".manifest"));
    Prepare();
    std::vector<std::string> arguments = {"pack", previousFolder, nextFolder, update};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunCli(arguments);
  }
  // Refused with a message naming `expected`, and nothing written.
  void ExpectRefused(const std::string& expected, std::vector<std::string> extra = {}) {
    const CliResult result = Run(extra);
    EXPECT_EQ(1, result.exitCode) << expected << "\n" << result.out << result.err;
    EXPECT_NE(std::string::npos, result.err.find(expected)) << result.err;
    EXPECT_EQ(EntryKind::Missing, KindOf(update));
    EXPECT_EQ(EntryKind::Missing, KindOf(update + ".manifest"));
  }
};

}  // namespace

TEST_F(Pack, WritesTheStagingLayoutAndItsManifest) {
  const std::string level = Compressible(50000, 1);
  const std::string texture = Incompressible(30000, 2);
  const std::string archive = ZipArchiveBytes(3);
  AddFile(previous, "levels\\level1.dat", Compressible(50000, 9));
  AddFile(previous, "readme.txt", "unchanged");
  next = MinimalRelease(1, "MZ game module, version 1.1");
  AddFile(next, "readme.txt", "unchanged");
  AddFile(next, "levels\\level1.dat", level);
  AddFile(next, "textures\\stone.bin", texture);
  AddFile(next, "mods\\archive.zip", archive);
  AddFile(next, "empty.txt", "");
  AddFolder(next, "saves-template\\slot");

  const CliResult result = Run();
  ASSERT_EQ(0, result.exitCode) << result.out << result.err;

  Tree expected;
  AddFile(expected, "game.dll", "MZ game module, version 1.1");
  AddFile(expected, "properties\\version.xml", VersionXml(1, 1));
  AddFile(expected, "levels\\level1.dat.zip", GzipBytes(level));
  AddFile(expected, "textures\\stone.bin", texture);           // packing would not save space
  AddFile(expected, "mods\\archive.zip.zip", GzipBytes(archive));  // arrives under its own name
  AddFile(expected, "empty.txt", "");
  AddFolder(expected, "saves-template\\slot");
  AddFile(expected, "update.ready", "");
  EXPECT_EQ("", TreeDifference(ReadTree(update), expected));

  std::string error;
  const auto manifest = ParseManifest(ReadTree(root).at("update.manifest"), error);
  ASSERT_TRUE(manifest) << error;
  EXPECT_EQ("1.0", manifest->from);
  EXPECT_EQ("1.1", manifest->to);
  EXPECT_EQ("update.ready", manifest->marker);
  // Every entry, folders before what they hold, the marker last.
  std::size_t files = 0;
  for (const ManifestEntry& entry : manifest->entries) {
    const auto staged = expected.find(entry.path);
    ASSERT_NE(expected.end(), staged) << entry.path;
    EXPECT_EQ(staged->first, entry.path);
    EXPECT_EQ(IsFolderEntry(staged->second), entry.isFolder) << entry.path;
    if (entry.isFolder) continue;
    ++files;
    EXPECT_EQ(staged->second.size(), entry.size) << entry.path;
    EXPECT_EQ(Sha256Hex(staged->second), entry.sha256) << entry.path;
  }
  EXPECT_EQ(expected.size(), manifest->entries.size());
  EXPECT_EQ(7u, files);
  EXPECT_EQ("update.ready", manifest->entries.back().path);

  const CliResult verified = RunCli({"verify", update});
  EXPECT_EQ(0, verified.exitCode) << verified.out << verified.err;
}

TEST_F(Pack, MakesTheFoldersOnTheWayToTheUpdate) {
  Prepare();
  const std::string nested = HostJoin(root, "out\\1.1\\update");
  const CliResult result = RunCli({"pack", previousFolder, nextFolder, nested});
  ASSERT_EQ(0, result.exitCode) << result.err;
  EXPECT_EQ(EntryKind::Folder, KindOf(nested));
  EXPECT_EQ(EntryKind::File, KindOf(nested + ".manifest"));
}

TEST_F(Pack, AFileAndItsZipNeighbourKeepTheirNames) {
  // Packed, "data.bin" would stage as "data.bin.zip", the name the shipped
  // archive unpacks to: it goes plain instead.
  AddFile(next, "data.bin", Compressible(20000, 4));
  AddFile(next, "data.bin.zip", Compressible(20000, 5));
  AddFile(next, "other.bin", Compressible(20000, 6));
  ASSERT_EQ(0, Run().exitCode);
  const Tree staged = ReadTree(update);
  EXPECT_EQ(1u, staged.count("data.bin"));
  EXPECT_EQ(1u, staged.count("data.bin.zip.zip"));
  EXPECT_EQ(0u, staged.count("data.bin.zip"));
  EXPECT_EQ(1u, staged.count("other.bin.zip"));
}

TEST_F(Pack, ZipChainThatCannotArriveIsRefused) {
  AddFile(next, "bundle.zip", "a");
  AddFile(next, "bundle.zip.zip", "b");
  ExpectRefused("bundle.zip and bundle.zip.zip");
}

TEST_F(Pack, DeletedFilesAreListedAndRefusedUnlessAllowed) {
  AddFile(previous, "old\\retired.dat", "x");
  AddFile(previous, "gone.txt", "y");
  ExpectRefused("gone.txt");
  const CliResult refused = Run();
  EXPECT_NE(std::string::npos, refused.err.find("old\\retired.dat")) << refused.err;
  EXPECT_NE(std::string::npos, refused.err.find("old\\\n")) << refused.err;

  const CliResult allowed = Run({"--allow-deleted"});
  EXPECT_EQ(0, allowed.exitCode) << allowed.err;
  EXPECT_NE(std::string::npos, allowed.out.find("warning: 3 entries")) << allowed.out;

  // Signed, the update removes them, each file with its bytes in the previous
  // release, the folder after what it held; --allow-deleted changes nothing.
  const std::string key = HostJoin(root, "studio.key");
  ASSERT_EQ(0, RunCli({"keygen", key, HostJoin(root, "studio.pub")}).exitCode);
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"--sign", key},
                                                 std::vector<std::string>{"--sign", key, "--allow-deleted"}}) {
    const CliResult removing = Run(extra);
    EXPECT_EQ(0, removing.exitCode) << removing.err;
    EXPECT_EQ(std::string::npos, removing.out.find("gone from the new one")) << removing.out;
    const std::string manifest = ReadHostFile(update + ".manifest", 1 << 20).value_or("");
    EXPECT_NE(std::string::npos, manifest.find("remove 1 " + Sha256Hex("y") + " gone.txt\n")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("remove 1 " + Sha256Hex("x") + " old\\retired.dat\nremove-folder old\n"))
        << manifest;
    // dry-run tells them, after every file the update brings, before the marker.
    const std::string dry = RunCli({"dry-run", update, "--onto", previousFolder}).out;
    for (const char* removal : {"remove  gone.txt (a keyed launcher, when it still holds the 1 bytes",
                                "remove  old\\retired.dat (a keyed launcher", "remove  old (a keyed launcher"}) {
      EXPECT_LT(dry.find(removal), dry.find("(the marker, last)")) << removal << "\n" << dry;
      EXPECT_NE(std::string::npos, dry.find("(the marker, last)")) << dry;
    }
  }
}

// Every name a release may not ship, with the words of the reason. Those a
// Windows build machine cannot hold are written only where the host can.
TEST_F(Pack, RefusesWhatTheLauncherWouldNotInstallNamingFileAndRule) {
  struct Row {
    const char* path;
    const char* reason;
    bool windowsCanHold;
  };
  const Row rows[] = {
      {"data\\cache.unpacking~launcher", "launcher's temporary files", true},
      {".unpacking~launcher", "launcher's temporary files", true},
      {"x.COPYING~launcher", "launcher's temporary files", true},
      {"game\\level.dat", "launcher's own", true},
      {"~upd.journal", "launcher's own", true},
      {"~UPD\\x.dat", "launcher's own", true},
      {"~upd.journal.tmp", "launcher's own", true},
      {"~new\\x.dat", "launcher's own", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "player's code page", true},
      {"caf\xC3\xA9.txt", "player's code page", true},
      {"M\xC3\x9ASICA\\new.ogg", "player's code page", true},
      {"a\xEF\xBC\xBC" "b.txt", "player's code page", true},
      {"\xEF\xBD\x83\xEF\xBD\x8F\xEF\xBD\x8E.txt", "player's code page", true},
      {"..two", "beginning with \"..\"", true},
      {"aux.txt", "device name", false},
      {"COM0", "device name", false},
      {"nul .txt", "device name", false},
      {"levels\\what?.dat", "forbids", false},
      {"dot.", "ending in a dot", false},
  };
  for (const Row& row : rows) {
#ifdef _WIN32
    if (!row.windowsCanHold) continue;
#endif
    SCOPED_TRACE(row.path);
    next = MinimalRelease(1);
    AddFile(next, row.path, "x");
    ExpectRefused(std::string(row.path) + ": ");
    ExpectRefused(row.reason);
  }
}

#ifndef _WIN32
TEST_F(Pack, NamesEqualButForCase) {
  AddFile(next, "Readme.txt", "a");
  alsoInNext = {{"README.txt", "b"}};
  ExpectRefused("equal but for letter case");
}
#endif

TEST_F(Pack, UpperCaseZipIsShippedAsItIsWithAWarning) {
  const std::string archive = ZipArchiveBytes(7);
  AddFile(next, "data\\PACK.ZIP", archive);
  const CliResult result = Run();
  ASSERT_EQ(0, result.exitCode) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("warning: data\\PACK.ZIP")) << result.out;
  EXPECT_EQ(archive, ReadTree(update).at("data\\PACK.ZIP"));
}

TEST_F(Pack, CaseOnlyRenameAndFileBecomingFolderAreRefused) {
  AddFile(previous, "Intro.txt", "a");
  AddFile(next, "intro.txt", "a");
  ExpectRefused("only in letter case");
  previous = MinimalRelease(0);
  next = MinimalRelease(1);
  AddFile(previous, "music", "a file");
  AddFile(next, "music\\theme.ogg", "a folder now");
  ExpectRefused("cannot replace one by the other");
}

#ifndef _WIN32
// Releases whose own folders pass Windows' path limit: on the build machine
// only. The limit is set by the deepest folder players may have: Windows XP's
// data folder, or the assumed install folder in working-folder mode.
TEST_F(Pack, PathsThatWouldNotFitOnPlayersMachinesAreRefused) {
  struct Row {
    std::string gameXml;
    std::size_t limit;  // 259 - folder - "\\game\\" - ".unpacking~launcher"
    std::string where;
  };
  const Row rows[] = {
      {GameXml(), 259 - 79 - 25, "C:\\Documents and Settings\\All Users\\Application Data\\Acme Studio\\Rocket Game\\en "},
      {"<settings company=\"A\" update_semaphore=\"update.ready\"/>", 259 - 54 - 25,
       "Application Data\\A "},
      {"<settings use_app_data_folder=\"false\" company=\"A\" update_semaphore=\"update.ready\"/>", 259 - 100 - 25,
       "an install folder of 100 characters"},
      {"<settings update_semaphore=\"update.ready\"/>", 259 - 100 - 25, "an install folder of 100 characters"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.gameXml);
    previous = MinimalRelease(0);
    next = MinimalRelease(1);
    AddFile(previous, "game.xml", row.gameXml);
    AddFile(next, "game.xml", row.gameXml);
    const std::string fits = std::string(100, 'f') + "\\" + std::string(row.limit - 101, 'n');
    AddFile(next, fits, Incompressible(100, 1));
    const CliResult fitting = Run();
    ASSERT_EQ(0, fitting.exitCode) << fitting.err;
    const std::string over = fits + "x";
    AddFile(next, over, "does not fit");
    ExpectRefused(over + ": a path of " + std::to_string(row.limit + 1) + " characters; at most " +
                  std::to_string(row.limit) + " fit below ");
    const CliResult refused = Run();
    EXPECT_NE(std::string::npos, refused.err.find(row.where)) << refused.err;
    const CliResult allowed = Run({"--allow-long-paths"});
    EXPECT_EQ(0, allowed.exitCode) << allowed.err;
    EXPECT_NE(std::string::npos, allowed.out.find("warning: " + over)) << allowed.out;
    if (HasFailure()) return;
  }
}
#endif

TEST_F(Pack, ReleaseSettingsThatCannotShip) {
  next.erase("game.dll");
  ExpectRefused("no game.dll");
  next = MinimalRelease(0);
  ExpectRefused("does not increase (1.0 to 1.0)");
  AddFile(next, "properties\\version.xml", "<version x=\"1\"/>");
  ExpectRefused("new release has no readable properties\\version.xml");
  next = MinimalRelease(1);
  AddFile(next, "game.xml", GameXml("other.flag"));
  ExpectRefused("update_semaphore changes");
  AddFile(previous, "game.xml", GameXml(""));
  AddFile(next, "game.xml", GameXml(""));
  ExpectRefused("no update_semaphore");
  AddFile(previous, "game.xml", GameXml("ready.zip"));
  AddFile(next, "game.xml", GameXml("ready.zip"));
  ExpectRefused("a name the launcher unpacks");
  AddFile(previous, "game.xml", GameXml());
  AddFile(next, "game.xml", GameXml());
  AddFile(next, "update.ready", "shipped");
  ExpectRefused("under the marker's name");
}

TEST_F(Pack, VersionComparedAsTheLauncherReadsIt) {
  AddFile(previous, "properties\\version.xml", "<version x=\"1\" y=\"9\"/>");
  AddFile(next, "properties\\version.xml", "<VERSION x=\"1\" y=\"10\"/>");
  ASSERT_EQ(0, Run().exitCode);
}

TEST_F(Pack, CompanyChangeIsOnlyAWarning) {
  AddFile(next, "game.xml", GameXml("update.ready", "Other Studio"));
  const CliResult result = Run();
  ASSERT_EQ(0, result.exitCode) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("warning: game.xml changes company")) << result.out;
}

// One set of exit codes for every command: 2 only for the command line's
// shape, 1 for whatever the paths hold.
TEST_F(Pack, ExitCodes) {
  Prepare();
  const std::string missing = HostJoin(root, "missing");
  const std::string inside = HostJoin(nextFolder, "update");
  struct Row {
    std::vector<std::string> arguments;
    int exitCode;
    const char* says;
  };
  const std::vector<Row> rows = {
      {{}, 2, "usage"},
      {{"pack", "a", "b"}, 2, "usage"},
      {{"pack", "a", "b", "c", "--frobnicate"}, 2, "usage"},
      {{"verify"}, 2, "usage"},
      {{"unpack", update}, 2, "usage"},
      {{"pack", missing, HostJoin(root, "missing2"), update}, 1, "is not a folder"},
      {{"pack", previousFolder, nextFolder, inside}, 1, "inside the release"},
      {{"pack", previousFolder, nextFolder, HostJoin(previousFolder, "x\\y")}, 1, "inside the release"},
      {{"pack", previousFolder, nextFolder, update, "--manifest", HostJoin(nextFolder, "m")}, 1, "inside the release"},
      {{"verify", missing}, 1, "cannot read the manifest"},
      {{"dry-run", missing}, 1, "cannot read the update folder"},
  };
  for (const Row& row : rows) {
    const CliResult result = RunCli(row.arguments);
    std::string line;
    for (const std::string& word : row.arguments) line += word + " ";
    EXPECT_EQ(row.exitCode, result.exitCode) << line << "\n" << result.out << result.err;
    EXPECT_NE(std::string::npos, result.err.find(row.says)) << line << "\n" << result.err;
  }
  EXPECT_EQ(EntryKind::Missing, KindOf(inside)) << "refused before anything was written";
  // An update folder that already holds something is never overwritten.
  WriteTree(update, MinimalRelease(3));
  EXPECT_EQ(1, RunCli({"pack", previousFolder, nextFolder, update}).exitCode);
  EXPECT_EQ(3u, ReadTree(update).size() - 1);
}

TEST_F(Pack, TrailingSeparatorsOnEveryPath) {
  Prepare();
#ifdef _WIN32
  const std::string separator = "\\";
#else
  const std::string separator = "/";
#endif
  const CliResult packed = RunCli({"pack", previousFolder + separator, nextFolder + separator + separator,
                                   update + separator});
  ASSERT_EQ(0, packed.exitCode) << packed.err;
  EXPECT_EQ("", packed.err) << "no progress line where the output is no terminal";
  EXPECT_EQ(EntryKind::File, KindOf(update + ".manifest"));
  EXPECT_EQ(0, RunCli({"verify", update + separator}).exitCode);
  EXPECT_EQ(0, RunCli({"dry-run", update + separator, "--onto", previousFolder + separator}).exitCode);
}

#ifndef _WIN32
// A FIFO never blocks the packer: in a release, as a release's game.xml, as
// a manifest.
TEST_F(Pack, FifosAreRefusedWithoutWaiting) {
  Prepare();
  ASSERT_EQ(0, mkfifo(HostJoin(nextFolder, "pipe").c_str(), 0600));
  CliResult result = RunCli({"pack", previousFolder, nextFolder, update});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos, result.err.find("pipe: neither a plain file nor a folder")) << result.err;
  ASSERT_TRUE(RemoveHostTree(HostJoin(nextFolder, "pipe")) && RemoveHostTree(HostJoin(nextFolder, "game.xml")));
  ASSERT_EQ(0, mkfifo(HostJoin(nextFolder, "game.xml").c_str(), 0600));
  EXPECT_EQ(1, RunCli({"pack", previousFolder, nextFolder, update}).exitCode);
  ASSERT_EQ(0, mkfifo(HostJoin(root, "fifo.manifest").c_str(), 0600));
  EXPECT_EQ(1, RunCli({"verify", previousFolder, "--manifest", HostJoin(root, "fifo.manifest")}).exitCode);
  EXPECT_EQ(1, RunCli({"dry-run", previousFolder, "--manifest", HostJoin(root, "fifo.manifest")}).exitCode);
}
#endif

namespace {

class Verify : public Pack {
 protected:
  void SetUp() override {
    AddFile(next, "levels\\level1.dat", Compressible(40000, 3));
    ASSERT_EQ(0, Run().exitCode);
  }
  void Overwrite(const std::string& path, const std::string& content) {
    HostFile file = OpenHostFile(HostJoin(update, path), "wb");
    ASSERT_TRUE(file);
    std::fwrite(content.data(), 1, content.size(), file.Get());
  }
  CliResult Check() { return RunCli({"verify", update}); }
};

}  // namespace

TEST_F(Verify, DamagedMissingAndUnexpectedEntriesAreFound) {
  std::string packed = ReadTree(update).at("levels\\level1.dat.zip");
  packed[packed.size() / 2] ^= 1;
  Overwrite("levels\\level1.dat.zip", packed);
  CliResult result = Check();
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos, result.out.find("damaged     levels\\level1.dat.zip (SHA-256 differs)")) << result.out;

  Overwrite("levels\\level1.dat.zip", packed.substr(0, 100));
  EXPECT_NE(std::string::npos, Check().out.find("(100 bytes,"));

  ASSERT_TRUE(RemoveHostTree(HostJoin(update, "update.ready")));
  Overwrite("stray.txt", "x");
  result = Check();
  EXPECT_NE(std::string::npos, result.out.find("missing     update.ready")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("unexpected  stray.txt")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("NOT intact (3 problems")) << result.out;
}

TEST_F(Verify, ManifestElsewhereOrMissing) {
  ASSERT_TRUE(RenameHostPath(update + ".manifest", HostJoin(root, "m.txt")));
  EXPECT_EQ(1, Check().exitCode);
  EXPECT_EQ(0, RunCli({"verify", update, "--manifest", HostJoin(root, "m.txt")}).exitCode);
}

// Manifests the packer never writes are refused by verify and dry-run alike.
TEST_F(Verify, StrictManifests) {
  const std::string manifestPath = update + ".manifest";
  const std::string good = ReadTree(root).at("update.manifest");
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string fileLines = good.substr(good.find("\nfile ") + 1);
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"garbage", "not an update manifest"},
      {replaced("marker update.ready", "marker ..\\update.ready"), "no plain file name"},
      {replaced("marker update.ready", "marker C:\\update.ready"), "no plain file name"},
      {replaced("marker update.ready", "marker levels\\level1.dat.zip"), "no plain file name"},
      {replaced("marker update.ready\n", ""), "no marker line"},
      {good + fileLines, "listed twice"},
      {replaced("folder levels\n", ""), "folder is not listed"},
      {good + "file 0 " + std::string(64, '0') + " ..\\x\n", "Windows cannot hold"},
      {good + "folder ~upd\n", "launcher's own"},
  };
  for (const auto& row : rows) {
    Overwrite("..\\update.manifest", row.first);
    for (const char* command : {"verify", "dry-run"}) {
      const CliResult result = RunCli({command, update});
      EXPECT_EQ(1, result.exitCode) << command << "\n" << row.first;
      EXPECT_NE(std::string::npos, result.err.find(row.second)) << command << "\n" << result.err;
    }
  }
  // dry-run reads the manifest it is given, also with --onto.
  Overwrite("..\\update.manifest", good);
  WriteTree(HostJoin(root, "garbage"), Tree());
  HostFile garbage = OpenHostFile(HostJoin(root, "garbage.manifest"), "wb");
  ASSERT_TRUE(garbage && std::fputs("garbage", garbage.Get()) >= 0 && garbage.Close());
  EXPECT_EQ(1, RunCli({"dry-run", update, "--onto", previousFolder, "--manifest", HostJoin(root, "garbage.manifest")}).exitCode);
  EXPECT_EQ(0, RunCli({"dry-run", update, "--onto", previousFolder}).exitCode);
}

TEST_F(Verify, DryRunShowsWhatTheLauncherDoes) {
  AddFolder(next, "new\\empty");
  ASSERT_EQ(0, Run().exitCode);
  CliResult result = RunCli({"dry-run", update});
  EXPECT_EQ(0, result.exitCode) << result.out << result.err;
  EXPECT_NE(std::string::npos, result.out.find("marker \"update.ready\" (from " + update + ".manifest)")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("unpack  levels\\level1.dat.zip -> levels\\level1.dat")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("update.ready (the marker, last)")) << result.out;

  result = RunCli({"dry-run", update, "--onto", previousFolder});
  EXPECT_EQ(0, result.exitCode) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("replace properties\\version.xml")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("add     levels\\level1.dat")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("add     new\\ (a new folder)")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("add     new\\empty\\ (a new folder)")) << result.out;
  // A folder where a file goes: the plan is refused, naming it.
  const std::string inTheWay = HostJoin(previousFolder, "levels\\level1.dat");
  ASSERT_TRUE(MakeHostParents(inTheWay) && MakeHostFolder(inTheWay));
  result = RunCli({"dry-run", update, "--onto", previousFolder});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos, result.out.find("fail    levels\\level1.dat (the data folder holds something there"))
      << result.out;
  ASSERT_TRUE(RemoveHostTree(inTheWay));

  result = RunCli({"dry-run", update, "--marker", "other.flag"});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos, result.out.find("no marker file \"other.flag\"")) << result.out;
  for (const char* marker : {"levels", "levels\\level1.dat.zip", "\\", "/"}) {
    result = RunCli({"dry-run", update, "--marker", marker});
    EXPECT_EQ(1, result.exitCode) << marker;
    EXPECT_NE(std::string::npos, result.out.find("nothing is installed")) << result.out;
  }

  // Damage the manifest would catch, seen by the launcher's own unpacking.
  ASSERT_TRUE(RemoveHostTree(update + ".manifest"));
  Overwrite("levels\\level1.dat.zip", GzipBytes(Compressible(40000, 3)).substr(0, 500));
  result = RunCli({"dry-run", update, "--marker", "update.ready"});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos, result.out.find("does not unpack completely")) << result.out;
}

// The manifest is the same bytes from every build of the packer (native,
// packer.exe of either architecture): UTF-8 names with '\' separators, LF
// line ends. This test runs in all three.
TEST_F(Pack, ManifestIsTheSameBytesInEveryBuild) {
  AddFile(next, "levels\\a b.txt", "x");
  AddFolder(next, "new\\empty");
  ASSERT_EQ(0, Run().exitCode);
  const std::string version = "bf8e677f09676613d4b07b9a1722d9e0295a32bb84bb492f2c6b9fae36d93448";
  const std::string x = "2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881";
  const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  EXPECT_EQ("rungame-update-manifest 1\nfrom 1.0\nto 1.1\nmarker update.ready\n"
            "folder levels\nfolder new\nfolder new\\empty\nfolder properties\n"
            "file 1 " + x + " levels\\a b.txt\n"
            "file 23 " + version + " properties\\version.xml\n"
            "file 0 " + empty + " update.ready\n",
            ReadTree(root).at("update.manifest"));
}
