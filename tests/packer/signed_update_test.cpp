// Signed updates: one table of updates, each run through every reader of
// its bytes, which all give one answer: the packer's verify --key
// everywhere, and under Windows the game-side helper's check and staging,
// each program's own reading of the data folder's version, the launcher's
// trust check and its update pass.
#include <gtest/gtest.h>

#include <cstring>

#include <sodium.h>

#include "packer/files.h"
#include "packer/keys.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "rungame_format.h"
#include "tests/packer/packer_support.h"

#ifdef _WIN32
#include <windows.h>

#include "fs/pinned_tree.h"
#include "rules/config_files.h"
#include "rungame_signed.h"
#include "rungame_update.h"
#include "update/signed_update.h"
#include "update/update.h"
#endif

using namespace packer;
using namespace packer_testing;
using packer_testing::Tree;  // not the packer's own

namespace {

// A row's update, packed and signed with `secretKey` from `previous` to
// `next`, and the data folder (a copy of `previous`) it is checked against.
struct Scene {
  std::string update, data, previous, next, secretKey, otherKey;
};

// What a row does to the update or the data folder before every reader
// reads them, and the answers: the helper's check (a RunGameSignedResult,
// which every other reader's answer follows) and its staging (a
// RunGameStageResult, from the unsigned manifest beside the update).
struct Damage {
  const char* name;
  int helperResult;
  int stageResult;
  void (*apply)(const Scene& scene);
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

// The full path, which the launcher's update pass takes.
std::string Absolute(const std::string& path) {
#ifdef _WIN32
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
#else
  return path;
#endif
}

// A full path Windows takes as it is: no device name read into "nul.txt".
std::string Verbatim(const std::string& path) {
#ifdef _WIN32
  return "\\\\?\\" + path;
#else
  return path;
#endif
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  HostFile file = OpenHostFile(Verbatim(path), "wb");
  ASSERT_TRUE(file && std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) == bytes.size()) << path;
  ASSERT_TRUE(file.Close());
}

std::string ReadBytes(const std::string& path) {
  HostFile file = OpenHostFile(path, "rb");
  std::string bytes;
  char block[4096];
  std::size_t got;
  while (file && (got = std::fread(block, 1, sizeof block, file.Get())) > 0) bytes.append(block, got);
  return bytes;
}

// Packs again, replacing the update: unsigned, or with another key.
void Repack(const Scene& scene, const std::vector<std::string>& extra) {
  ASSERT_TRUE(RemoveHostTree(scene.update) && RemoveHostTree(scene.update + ".manifest"));
  std::vector<std::string> arguments = {"pack", scene.previous, scene.next, scene.update};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  const CliResult result = RunCli(arguments);
  ASSERT_EQ(0, result.exitCode) << result.err;
}

std::string Marker(const std::string& update) { return HostJoin(update, "update.ready"); }

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(std::string::npos, at) << from;
  text.replace(at, from.size(), to);
}

// Signs anew, with the studio's key, the marker's signed part as `edit`
// leaves it; the unsigned manifest lists the new marker, so that only what
// was edited differs.
void Resign(const Scene& scene, void (*edit)(std::string& signedPart)) {
  const std::string text = ReadBytes(Marker(scene.update));
  std::string signedPart = text.substr(0, text.rfind("signature "));
  edit(signedPart);
  std::string error;
  const auto pair = LoadSecretKey(scene.secretKey, error);
  ASSERT_TRUE(pair) << error;
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  PublicKey publicKey{};
  crypto_sign_seed_keypair(publicKey.data(), secret, pair->seed.data());
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(signedPart.data()),
                       signedPart.size(), secret);
  const std::string marker = signedPart + "signature " + BytesToHex(signature, sizeof signature) + "\n";
  WriteBytes(Marker(scene.update), marker);
  std::string manifest = ReadBytes(scene.update + ".manifest");
  ReplaceOnce(manifest, "file " + std::to_string(text.size()) + " " + Sha256Hex(text) + " update.ready",
              "file " + std::to_string(marker.size()) + " " + Sha256Hex(marker) + " update.ready");
  WriteBytes(scene.update + ".manifest", manifest);
}

// The data folder's version file, as a row writes it.
void WriteVersion(const Scene& scene, const std::string& text) {
  WriteBytes(HostJoin(scene.data, "properties\\version.xml"), text);
}

#define VERSION_ROW(name, helper, stage, text) \
  {name, helper, stage, [](const Scene& s) { WriteVersion(s, text); }}

const Damage kDamages[] = {
    {"Intact", 0, 0, [](const Scene&) {}},
    {"Unsigned", 3, 0, [](const Scene& s) { Repack(s, {}); }},
    {"SignedByAnotherKey", 3, 0, [](const Scene& s) { Repack(s, {"--sign", s.otherKey}); }},
    {"KeyLineNamesAnotherKey", 3, 0,
     [](const Scene& s) { Resign(s, [](std::string& part) { part.replace(part.find("\nkey ") + 5, 16, std::string(16, 'a')); }); }},
    {"LinesEndInCrLf", 3, 0,
     [](const Scene& s) {
       Resign(s, [](std::string& part) {
         for (std::size_t at = part.find('\n'); at != std::string::npos; at = part.find('\n', at + 2)) part.insert(at, "\r");
       });
     }},
    {"DeviceNameListed", 3, 6,
     [](const Scene& s) {
       const std::string entry = "file 0 " + Sha256Hex("") + " nul.txt\n";
       Resign(s, [](std::string& part) { part += "file 0 " + Sha256Hex("") + " nul.txt\n"; });
       std::string manifest = ReadBytes(s.update + ".manifest");
       WriteBytes(s.update + ".manifest", manifest.insert(manifest.find("\nfile ") + 1, entry));
       WriteBytes(HostJoin(s.update, "nul.txt"), "");
     }},
    {"LeftoverOfTheLauncherIsNoPartOfIt", 0, 0,
     [](const Scene& s) { WriteBytes(HostJoin(s.update, "levels\\level2.dat.unpacking~launcher"), "MZ"); }},
    {"FileChangedAfterSigning", 5, 7,
     [](const Scene& s) {
       std::string level = ReadBytes(HostJoin(s.update, "levels\\level2.dat"));
       level[level.size() / 2] ^= 0x20;
       WriteBytes(HostJoin(s.update, "levels\\level2.dat"), level);
     }},
    {"FileGrownAfterSigning", 5, 7,
     [](const Scene& s) { WriteBytes(HostJoin(s.update, "game.dll"), ReadBytes(HostJoin(s.update, "game.dll")) + "x"); }},
    {"ExtraFile", 5, 7, [](const Scene& s) { WriteBytes(HostJoin(s.update, "evil.dll"), "MZ"); }},
    {"ExtraFolder", 5, 7, [](const Scene& s) { ASSERT_TRUE(MakeHostFolder(HostJoin(s.update, "plugins"))); }},
    {"MissingFile", 5, 7, [](const Scene& s) { ASSERT_TRUE(RemoveHostTree(HostJoin(s.update, "game.dll"))); }},
    {"OlderSignedUpdateReplayed", 4, 8, [](const Scene& s) { WriteVersion(s, VersionXml(1, 2)); }},
    {"MadeFromAnOlderVersion", 4, 8, [](const Scene& s) { WriteVersion(s, VersionXml(0, 9)); }},
    {"SameVersionReplayed", 4, 8, [](const Scene& s) { WriteVersion(s, VersionXml(1, 1)); }},
    {"SignatureCutShort", 3, 7,
     [](const Scene& s) {
       const std::string text = ReadBytes(Marker(s.update));
       WriteBytes(Marker(s.update), text.substr(0, text.size() - 11) + "\n");
     }},
    {"SignatureCutOff", 3, 7,
     [](const Scene& s) {
       const std::string text = ReadBytes(Marker(s.update));
       WriteBytes(Marker(s.update), text.substr(0, text.rfind("signature ")));
     }},
    {"SignatureDamaged", 3, 7,
     [](const Scene& s) {
       std::string text = ReadBytes(Marker(s.update));
       text[text.size() - 20] = text[text.size() - 20] == '0' ? '1' : '0';
       WriteBytes(Marker(s.update), text);
     }},
    {"SignedVersionChanged", 3, 7,
     [](const Scene& s) {
       std::string text = ReadBytes(Marker(s.update));
       ReplaceOnce(text, "\nto 1.1\n", "\nto 9.1\n");
       WriteBytes(Marker(s.update), text);
     }},
    {"NoDataVersionTakesAny", 0, 0,
     [](const Scene& s) { ASSERT_TRUE(RemoveHostTree(HostJoin(s.data, "properties\\version.xml"))); }},
    {"MarkerMissing", 2, 7, [](const Scene& s) { ASSERT_TRUE(RemoveHostTree(Marker(s.update))); }},
    {"MarkerIsAFolder", 2, 7,
     [](const Scene& s) { ASSERT_TRUE(RemoveHostTree(Marker(s.update)) && MakeHostFolder(Marker(s.update))); }},
    {"MarkerTooLarge", 2, 7,
     [](const Scene& s) {
       WriteBytes(Marker(s.update), ReadBytes(Marker(s.update)) + std::string(RUNGAME_SIGNED_MAX_MARKER, '\n'));
     }},
    // The data folder's version (the update is from 1.0), as both programs
    // read it: references decoded, signs and spaces as strtol takes them,
    // 32-bit saturation; a text TinyXML refuses has no version at all.
    VERSION_ROW("VersionByCharacterReferences", 0, 0, "<version x=\"&#49;\" y=\"&#x30;\"/>"),
    VERSION_ROW("VersionWithSigns", 0, 0, "<version x=\"+1\" y=\"-0\"/>"),
    VERSION_ROW("VersionNegative", 4, 8, "<version x=\"-1\" y=\"0\"/>"),
    VERSION_ROW("VersionAfterSpaces", 0, 0, "<version x=\" \v\f1\" y=\"\t0 \"/>"),
    VERSION_ROW("VersionHuge", 4, 8, "<version x=\"1\" y=\"99999999999999999999\"/>"),
    VERSION_ROW("VersionAfterOneWithoutY", 0, 0, "<version x=\"0\"/><Version y=\"0\" x=\"1\"></Version>"),
    VERSION_ROW("VersionNestedIsNone", 0, 0, "<root><version x=\"0\" y=\"9\"/></root>"),
    VERSION_ROW("VersionLeftOpenIsNone", 0, 0, "<version x=\"0\" y=\"9\">"),
    VERSION_ROW("VersionBeforeAFaultIsNone", 0, 0, "<version x=\"0\" y=\"9\"/><a></b>"),
    VERSION_ROW("VersionAttributeTwiceIsNone", 0, 0, "<version x=\"0\" y=\"9\" x=\"1\"/>"),
    VERSION_ROW("VersionAfterTextIsNone", 0, 0, "<a/>text<version x=\"0\" y=\"9\"/>"),
    VERSION_ROW("VersionNotANumber", 4, 8, "<version x=\"beta\" y=\"1.9\"/>"),
};

class SignedUpdate : public ::testing::TestWithParam<Damage> {
 protected:
  std::string root = Absolute(FreshFolder());
  Scene scene{HostJoin(root, "update"),     HostJoin(root, "data"),      HostJoin(root, "previous"),
              HostJoin(root, "next"),       HostJoin(root, "studio.key"), HostJoin(root, "other.key")};
  std::string publicKey = HostJoin(root, "studio.pub");
  std::string keyHex;

  void SetUp() override {
    ASSERT_EQ(0, RunCli({"keygen", scene.secretKey, publicKey}).exitCode);
    ASSERT_EQ(0, RunCli({"keygen", scene.otherKey, HostJoin(root, "other.pub")}).exitCode);
    std::string error;
    const auto key = LoadPublicKey(publicKey, error);
    ASSERT_TRUE(key) << error;
    keyHex = PublicKeyHex(*key);
    Tree before = MinimalRelease(0);
    AddFile(before, "levels\\level1.dat", Compressible(40000, 1));
    Tree after = MinimalRelease(1, "MZ game module 1.1");
    AddFile(after, "levels\\level1.dat", Compressible(40000, 1));
    AddFile(after, "levels\\level2.dat", Incompressible(30000, 2));
    AddFile(after, "levels\\packed.dat", Compressible(60000, 3));
    AddFolder(after, "saves\\empty");
    WriteTree(scene.previous, before);
    WriteTree(scene.next, after);
    WriteTree(scene.data, before);
    Repack(scene, {"--sign", scene.secretKey});
  }

#ifdef _WIN32
  // Names Windows takes for devices ("nul.txt") go too, for the next run.
  void TearDown() override { RemoveVerbatim(root); }

  static void RemoveVerbatim(const std::string& folder) {
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(Verbatim(HostJoin(folder, "*")).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      const std::string path = HostJoin(folder, data.cFileName);
      if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveVerbatim(path);
        RemoveDirectoryA(Verbatim(path).c_str());
      } else {
        SetFileAttributesA(Verbatim(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(Verbatim(path).c_str());
      }
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }

  // The update's entries, the marker's aside, as a walk lists them.
  std::vector<StagedEntryFact> Staged() const {
    std::vector<StagedEntryFact> staged;
    for (const ReleaseEntry& entry : ListRelease(scene.update).entries) {
      if (entry.path != "update.ready") {
        staged.push_back({entry.path, HostJoin(scene.update, entry.path), entry.isFolder});
      }
    }
    return staged;
  }
#endif
};

#ifdef _WIN32
// Copies a tree byte for byte, names as they are.
void CopyVerbatim(const std::string& from, const std::string& to) {
  CreateDirectoryA(Verbatim(to).c_str(), nullptr);
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(Verbatim(HostJoin(from, "*")).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CopyVerbatim(HostJoin(from, name), HostJoin(to, name));
    } else {
      EXPECT_TRUE(CopyFileA(Verbatim(HostJoin(from, name)).c_str(), Verbatim(HostJoin(to, name)).c_str(), TRUE));
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
}
#endif

}  // namespace

TEST_P(SignedUpdate, EveryReaderAgrees) {
  const Damage& damage = GetParam();
  damage.apply(scene);
  if (HasFatalFailure()) return;
  const bool trusted = damage.helperResult == 0;

  // The studio's check knows no data folder: a replayed update is intact.
  const CliResult verified = RunCli({"verify", scene.update, "--key", publicKey});
  EXPECT_EQ(trusted || damage.helperResult == 4 ? 0 : 1, verified.exitCode) << verified.out << verified.err;

#ifdef _WIN32
  // The data folder's version, as the launcher reads it and as the helper does.
  const std::string versionFile = HostJoin(scene.data, "properties\\version.xml");
  std::optional<std::pair<long, long>> launcherVersion, helperVersion;
  if (const auto elements = ReadTopLevelElements(versionFile)) {
    if (const auto version = rules::FindVersion(*elements)) launcherVersion = std::make_pair(version->x, version->y);
  }
  long x = 0, y = 0;
  if (RunGameReadVersionFile(versionFile.c_str(), &x, &y)) helperVersion = std::make_pair(x, y);
  EXPECT_EQ(launcherVersion, helperVersion);

  EXPECT_EQ(damage.helperResult,
            RunGameCheckSignedUpdate(scene.update.c_str(), scene.data.c_str(), "update.ready", keyHex.c_str()));
  EXPECT_EQ(trusted ? UpdateTrust::Trusted : UpdateTrust::Refused,
            CheckUpdateTrustWithKey(keyHex, Marker(scene.update), Staged(), launcherVersion));
  // Without a key, the launcher installs it as before.
  EXPECT_EQ(UpdateTrust::NotRequired, CheckUpdateTrustWithKey("", Marker(scene.update), Staged(), launcherVersion));

  // The helper stages a copy; the update pass gets the row's bytes as they
  // are in the staging folder, whatever the helper would have left out.
  const std::string download = HostJoin(root, "download");
  CopyVerbatim(scene.update, download);
  const std::string manifest = scene.update + ".manifest";
  EXPECT_EQ(damage.stageResult,
            RunGameStageUpdate(download.c_str(), manifest.c_str(), scene.data.c_str(), "update.ready", nullptr, 0));
  RemoveVerbatim(HostJoin(scene.data, "game"));
  CopyVerbatim(scene.update, HostJoin(scene.data, "game"));
  const std::string stagedMarker = ReadBytes(Marker(HostJoin(scene.data, "game")));
  PinnedTree tree(scene.data);
  const UpdateReport report = RunUpdatePassWithKey(keyHex, tree, "update.ready");
  EXPECT_EQ(trusted, report.outcome == UpdateReport::Installed) << report.Text();
  if (trusted) {
    // The next release exactly, and the marker: nothing else staged arrives.
    Tree expected = ReadTree(scene.next);
    AddFile(expected, "update.ready", stagedMarker);
    EXPECT_EQ("", TreeDifference(ReadTree(scene.data), expected));
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(Damages, SignedUpdate, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// The secret key never travels: no byte of the seed's hex is in the update.
TEST(SignedUpdateSecret, TheSecretKeyIsNeverWrittenIntoTheUpdate) {
  const std::string root = FreshFolder();
  ASSERT_EQ(0, RunCli({"keygen", HostJoin(root, "k.key"), HostJoin(root, "k.pub")}).exitCode);
  std::string error;
  const auto pair = LoadSecretKey(HostJoin(root, "k.key"), error);
  ASSERT_TRUE(pair) << error;
  WriteTree(HostJoin(root, "a"), MinimalRelease(0));
  WriteTree(HostJoin(root, "b"), MinimalRelease(1, "MZ 1.1"));
  const std::string update = HostJoin(root, "update");
  ASSERT_EQ(0, RunCli({"pack", HostJoin(root, "a"), HostJoin(root, "b"), update, "--sign", HostJoin(root, "k.key")})
                   .exitCode);
  const std::string seed = BytesToHex(pair->seed.data(), pair->seed.size());
  for (const ReleaseEntry& entry : ListRelease(update).entries) {
    if (!entry.isFolder) {
      EXPECT_EQ(std::string::npos, ReadBytes(HostJoin(update, entry.path)).find(seed.substr(0, 16)));
    }
  }
  EXPECT_EQ(std::string::npos, ReadBytes(update + ".manifest").find(seed.substr(0, 16)));
}

#ifdef _WIN32
TEST(SignedUpdateHelper, BadArguments_AreRefusedBeforeAnythingIsRead) {
  const std::string root = FreshFolder();
  const std::string key(64, 'a');
  EXPECT_EQ(RUNGAME_SIGNED_BAD_ARGUMENT, RunGameCheckSignedUpdate(nullptr, root.c_str(), "update.ready", key.c_str()));
  EXPECT_EQ(RUNGAME_SIGNED_BAD_ARGUMENT, RunGameCheckSignedUpdate(root.c_str(), root.c_str(), "a\\b", key.c_str()));
  EXPECT_EQ(RUNGAME_SIGNED_BAD_ARGUMENT, RunGameCheckSignedUpdate(root.c_str(), root.c_str(), "update.ready", "abc"));
  EXPECT_EQ(RUNGAME_SIGNED_BAD_ARGUMENT,
            RunGameCheckSignedUpdate(root.c_str(), root.c_str(), "update.ready", std::string(64, 'g').c_str()));
  EXPECT_EQ(RUNGAME_SIGNED_NO_MARKER,
            RunGameCheckSignedUpdate(HostJoin(root, "missing").c_str(), root.c_str(), "update.ready", key.c_str()));
  // A key the launcher cannot read trusts nothing.
  EXPECT_EQ(UpdateTrust::Refused, CheckUpdateTrustWithKey("abc", HostJoin(root, "update.ready"), {}, std::nullopt));
}

TEST(SignedUpdateLauncher, WithoutACompiledKey_NothingIsRequired) {
  EXPECT_FALSE(UpdateSignatureRequired());
  EXPECT_EQ(UpdateTrust::NotRequired, CheckUpdateTrust("missing\\update.ready", {}, std::nullopt));
}
#endif

// Signed with the key, yet no manifest the launcher can hold to: refused.
TEST(SignedManifestReader, SignedButMalformed_IsRefused) {
  const KeyPair pair = MakeKeyPair();
  const std::string file = "file 3 " + Sha256Hex("abc") + " a\\b.txt\n";
  const std::string head = "rungame-signed-update 1\nkey " + KeyId(pair.publicKey) + "\nrungame-update-manifest 1\n";
  const std::string good = head + "from 1.0\nto 1.1\nmarker update.ready\nfolder a\n" + file;
  const struct {
    std::string body;
    bool opens;
  } cases[] = {
      {good, true},
      {head + "marker update.ready\nfolder a\n" + file, false},                  // no version
      {head + "to 1.1\nfolder a\n" + file, false},                               // no marker
      {head + "to 1.1\nmarker update.ready\n" + file, false},                    // no "from"
      {head + "to 1.x\nmarker update.ready\n" + file, false},                    // a version that is none
      {good + file, false},                                                      // a path listed twice
      {good + "file 3 " + std::string(64, 'A') + " c.txt\n", false},             // upper-case hex
      {good + "file 99999999999999999999 " + Sha256Hex("") + " c.txt\n", false},  // a size beyond any file
      {good + "delete game.dll\n", false},                                       // an unknown line
      {good + std::string("folder x\0y\n", 11), false},                          // a NUL in a path
      {"rungame-signed-update 2\n" + good.substr(24), false},                    // another format
  };
  for (const auto& c : cases) {
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    PublicKey key{};
    crypto_sign_seed_keypair(key.data(), secret, pair.seed.data());
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(c.body.data()), c.body.size(),
                         secret);
    const std::string text = c.body + "signature " + BytesToHex(signature, sizeof signature) + "\n";
    RunGameManifest manifest{};
    EXPECT_EQ(c.opens, rungame_open_signed_manifest(text.data(), text.size(), key.data(), &manifest) != 0) << c.body;
    if (c.opens) {
      EXPECT_EQ(2u, manifest.count);
      EXPECT_EQ(std::make_pair(1L, 1L), std::make_pair(manifest.toX, manifest.toY));
      const RunGameManifestEntry* entry = rungame_find_entry(&manifest, "a\\b.txt");
      ASSERT_NE(nullptr, entry);
      EXPECT_EQ(3u, entry->size);
    }
    rungame_free_manifest(&manifest);
  }
}
