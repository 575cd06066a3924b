// Signed updates: one table of damaged updates, each refused by every reader
// of the signed manifest: the packer's verify --key everywhere, and under
// Windows the game-side helper and the launcher's trust check.
#include <gtest/gtest.h>

#include <cstring>

#include <sodium.h>

#include "packer/files.h"
#include "packer/keys.h"
#include "packer/release.h"
#include "packer/sha256.h"
#include "rungame_signed_manifest.h"
#include "tests/packer/packer_support.h"

#ifdef _WIN32
#include "rungame_signed.h"
#include "update/signed_update.h"
#endif

using namespace packer;
using namespace packer_testing;

namespace {

// What a damage does to an update folder before it is checked.
struct Damage {
  const char* name;
  int helperResult;  // RunGameSignedResult
  // Changes the packed update; `other` is a second key of another studio.
  void (*apply)(const std::string& update, const std::string& data, const std::string& previous,
                const std::string& next, const std::string& otherKey);
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

void WriteBytes(const std::string& path, const std::string& bytes) {
  HostFile file = OpenHostFile(path, "wb");
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
void Repack(const std::string& update, const std::string& previous, const std::string& next,
            const std::vector<std::string>& extra) {
  ASSERT_TRUE(RemoveHostTree(update) && RemoveHostTree(update + ".manifest"));
  std::vector<std::string> arguments = {"pack", previous, next, update};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  const CliResult result = RunCli(arguments);
  ASSERT_EQ(0, result.exitCode) << result.err;
}

std::string Marker(const std::string& update) { return HostJoin(update, "update.ready"); }

const Damage kDamages[] = {
    {"Intact", 0, [](auto&, auto&, auto&, auto&, auto&) {}},
    {"Unsigned", 3, [](auto& update, auto&, auto& previous, auto& next, auto&) { Repack(update, previous, next, {}); }},
    {"SignedByAnotherKey", 3,
     [](auto& update, auto&, auto& previous, auto& next, auto& other) {
       Repack(update, previous, next, {"--sign", other});
     }},
    {"FileChangedAfterSigning", 5,
     [](auto& update, auto&, auto&, auto&, auto&) {
       std::string level = ReadBytes(HostJoin(update, "levels\\level2.dat"));
       level[level.size() / 2] ^= 0x20;
       WriteBytes(HostJoin(update, "levels\\level2.dat"), level);
     }},
    {"FileGrownAfterSigning", 5,
     [](auto& update, auto&, auto&, auto&, auto&) {
       WriteBytes(HostJoin(update, "game.dll"), ReadBytes(HostJoin(update, "game.dll")) + "x");
     }},
    {"ExtraFile", 5, [](auto& update, auto&, auto&, auto&, auto&) { WriteBytes(HostJoin(update, "evil.dll"), "MZ"); }},
    {"ExtraFolder", 5,
     [](auto& update, auto&, auto&, auto&, auto&) { ASSERT_TRUE(MakeHostFolder(HostJoin(update, "plugins"))); }},
    {"MissingFile", 5,
     [](auto& update, auto&, auto&, auto&, auto&) { ASSERT_TRUE(RemoveHostTree(HostJoin(update, "game.dll"))); }},
    {"OlderSignedUpdateReplayed", 4,
     [](auto&, auto& data, auto&, auto&, auto&) {
       WriteBytes(HostJoin(data, "properties\\version.xml"), VersionXml(1, 2));
     }},
    {"MadeFromAnOlderVersion", 4,
     [](auto&, auto& data, auto&, auto&, auto&) {
       WriteBytes(HostJoin(data, "properties\\version.xml"), VersionXml(0, 9));
     }},
    {"SameVersionReplayed", 4,
     [](auto&, auto& data, auto&, auto&, auto&) {
       WriteBytes(HostJoin(data, "properties\\version.xml"), VersionXml(1, 1));
     }},
    {"SignatureCutShort", 3,
     [](auto& update, auto&, auto&, auto&, auto&) {
       const std::string text = ReadBytes(Marker(update));
       WriteBytes(Marker(update), text.substr(0, text.size() - 11) + "\n");
     }},
    {"SignatureCutOff", 3,
     [](auto& update, auto&, auto&, auto&, auto&) {
       const std::string text = ReadBytes(Marker(update));
       WriteBytes(Marker(update), text.substr(0, text.rfind("signature ")));
     }},
    {"SignatureDamaged", 3,
     [](auto& update, auto&, auto&, auto&, auto&) {
       std::string text = ReadBytes(Marker(update));
       text[text.size() - 20] = text[text.size() - 20] == '0' ? '1' : '0';
       WriteBytes(Marker(update), text);
     }},
    {"SignedVersionChanged", 3,
     [](auto& update, auto&, auto&, auto&, auto&) {
       std::string text = ReadBytes(Marker(update));
       text.replace(text.find("\nto 1.1\n"), 8, "\nto 9.1\n");
       WriteBytes(Marker(update), text);
     }},
    {"NoDataVersionTakesAny", 0,
     [](auto&, auto& data, auto&, auto&, auto&) {
       ASSERT_TRUE(RemoveHostTree(HostJoin(data, "properties\\version.xml")));
     }},
    {"MarkerMissing", 2,
     [](auto& update, auto&, auto&, auto&, auto&) { ASSERT_TRUE(RemoveHostTree(Marker(update))); }},
    {"MarkerIsAFolder", 2,
     [](auto& update, auto&, auto&, auto&, auto&) {
       ASSERT_TRUE(RemoveHostTree(Marker(update)) && MakeHostFolder(Marker(update)));
     }},
    {"MarkerTooLarge", 2,
     [](auto& update, auto&, auto&, auto&, auto&) {
       WriteBytes(Marker(update), ReadBytes(Marker(update)) + std::string(RUNGAME_SIGNED_MAX_MARKER, '\n'));
     }},
};

class SignedUpdate : public ::testing::TestWithParam<Damage> {
 protected:
  std::string root = FreshFolder();
  std::string previous = HostJoin(root, "previous");
  std::string next = HostJoin(root, "next");
  std::string update = HostJoin(root, "update");
  std::string data = HostJoin(root, "data");
  std::string secretKey = HostJoin(root, "studio.key");
  std::string publicKey = HostJoin(root, "studio.pub");
  std::string otherKey = HostJoin(root, "other.key");
  std::string keyHex;

  void SetUp() override {
    ASSERT_EQ(0, RunCli({"keygen", secretKey, publicKey}).exitCode);
    ASSERT_EQ(0, RunCli({"keygen", otherKey, HostJoin(root, "other.pub")}).exitCode);
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
    WriteTree(previous, before);
    WriteTree(next, after);
    WriteTree(data, before);
    Repack(update, previous, next, {"--sign", secretKey});
  }

#ifdef _WIN32
  // The staging folder's entries as the launcher's walk lists them: all but
  // the top-level marker.
  std::vector<StagedEntryFact> Staged() const {
    std::vector<StagedEntryFact> staged;
    for (const ReleaseEntry& entry : ListRelease(update).entries) {
      if (entry.path != "update.ready") staged.push_back({entry.path, HostJoin(update, entry.path), entry.isFolder});
    }
    return staged;
  }
#endif
};

}  // namespace

TEST_P(SignedUpdate, EveryReaderAgrees) {
  const Damage& damage = GetParam();
  damage.apply(update, data, previous, next, otherKey);
  if (HasFatalFailure()) return;
  const bool trusted = damage.helperResult == 0;

  // The studio's check knows no data folder: a replayed update is intact.
  const CliResult verified = RunCli({"verify", update, "--key", publicKey});
  EXPECT_EQ(trusted || damage.helperResult == 4 ? 0 : 1, verified.exitCode) << verified.out << verified.err;

#ifdef _WIN32
  EXPECT_EQ(damage.helperResult, RunGameCheckSignedUpdate(update.c_str(), data.c_str(), "update.ready", keyHex.c_str()));
  const std::string versionText = ReadBytes(HostJoin(data, "properties\\version.xml"));
  long x = 0, y = 0;
  std::optional<std::pair<long, long>> dataVersion;
  if (RunGameParseVersionText(versionText.data(), versionText.size(), &x, &y)) dataVersion = std::make_pair(x, y);
  const UpdateTrust trust = CheckUpdateTrustWithKey(keyHex, Marker(update), Staged(), dataVersion);
  EXPECT_EQ(trusted ? UpdateTrust::Trusted : UpdateTrust::Refused, trust);
  // Without a key, the launcher installs it as before.
  EXPECT_EQ(UpdateTrust::NotRequired, CheckUpdateTrustWithKey("", Marker(update), Staged(), dataVersion));
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

// The data folder's version as the helper reads it.
TEST(SignedUpdateVersion, VersionText_ReadsTheFirstTopLevelVersion) {
  const struct {
    const char* text;
    int found;
    long x, y;
  } cases[] = {
      {"<version x=\"1\" y=\"4\"/>", 1, 1, 4},
      {"<?xml version=\"1.0\"?>\n<!-- <version x='9' y='9'/> -->\n<VERSION y='2' x='3'></VERSION>", 1, 3, 2},
      {"<game><version x=\"9\" y=\"9\"/></game><version x=\"1\" y=\"0\"/>", 1, 1, 0},
      {"<version x=\"1\"/><version x=\"2\" y=\"5\"/>", 1, 2, 5},
      {"<version x=\"99999999999\" y=\"-3\"/>", 1, 2147483647L, -3},
      {"<version X=\"1\" Y=\"2\"/>", 0, 0, 0},
      {"<version x=\"1\" y=\"2", 0, 0, 0},
      {"", 0, 0, 0},
  };
  for (const auto& c : cases) {
    long x = 0, y = 0;
    EXPECT_EQ(c.found, RunGameParseVersionText(c.text, std::strlen(c.text), &x, &y)) << c.text;
    if (c.found) {
      EXPECT_EQ(std::make_pair(c.x, c.y), std::make_pair(x, y)) << c.text;
    }
  }
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
  const std::string head = "rungame-signed-update 1\nkey 0123456789abcdef\nrungame-update-manifest 1\n";
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
    RunGameSignedManifest manifest{};
    EXPECT_EQ(c.opens, RunGameOpenSignedManifest(text.data(), text.size(), key.data(), &manifest) != 0) << c.body;
    if (c.opens) {
      EXPECT_EQ(2u, manifest.count);
      EXPECT_EQ(std::make_pair(1L, 1L), std::make_pair(manifest.toX, manifest.toY));
      const RunGameSignedEntry* entry = RunGameFindSignedEntry(&manifest, "a\\b.txt");
      ASSERT_NE(nullptr, entry);
      EXPECT_EQ(3u, entry->size);
    }
    RunGameCloseSignedManifest(&manifest);
  }
}
