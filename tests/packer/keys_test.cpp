// Key files: a new pair loads back, and a damaged file never loads.
#include <gtest/gtest.h>

#include "packer/files.h"
#include "packer/keys.h"
#include "packer/record.h"
#include "tests/packer/packer_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace packer;
using namespace packer_testing;

TEST(Keys, Keygen_WritesAPairThatLoadsBack) {
  const std::string root = FreshFolder();
  const std::string secret = HostJoin(root, "studio.key");
  const std::string pub = HostJoin(root, "studio.pub");
  const CliResult result = RunCli({"keygen", secret, pub});
  ASSERT_EQ(0, result.exitCode) << result.err;
  std::string error;
  const auto pair = LoadSecretKey(secret, error);
  ASSERT_TRUE(pair) << error;
  const auto key = LoadPublicKey(pub, error);
  ASSERT_TRUE(key) << error;
  EXPECT_EQ(pair->publicKey, *key);
  EXPECT_NE(std::string::npos, result.out.find(PublicKeyHex(*key)));
#ifndef _WIN32
  struct stat status {};
  ASSERT_EQ(0, stat(secret.c_str(), &status));
  EXPECT_EQ(0600u, status.st_mode & 0777u);
#endif
  // Never over an existing key, and never a public key where a secret one is due.
  EXPECT_EQ(1, RunCli({"keygen", secret, HostJoin(root, "other.pub")}).exitCode);
  EXPECT_EQ(1, RunCli({"pack", root, root, HostJoin(root, "update"), "--sign", pub}).exitCode);
}

// Every file cut short, every byte changed, anything appended: refused.
TEST(Keys, DamagedKeyFiles_AreRefused) {
  const KeyPair pair = MakeKeyPair();
  const std::string secret = FormatSecretKey(pair);
  const std::string pub = FormatPublicKey(pair.publicKey);
  std::string error;
  ASSERT_TRUE(ParseSecretKey(secret, error)) << error;
  ASSERT_TRUE(ParsePublicKey(pub, error)) << error;
  const auto damaged = [](const std::string& text) {
    std::vector<std::string> variants;
    for (std::size_t length = 0; length < text.size(); ++length) variants.push_back(text.substr(0, length));
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::string changed = text;
      changed[i] = static_cast<char>(changed[i] ^ 0x01);
      variants.push_back(changed);
    }
    variants.push_back(text + "\n");
    variants.push_back(text + "seed 00\n");
    return variants;
  };
  for (const std::string& variant : damaged(secret)) EXPECT_FALSE(ParseSecretKey(variant, error)) << variant;
  for (const std::string& variant : damaged(pub)) EXPECT_FALSE(ParsePublicKey(variant, error)) << variant;
  EXPECT_FALSE(ParsePublicKey(secret, error));
  EXPECT_FALSE(ParseSecretKey(pub, error));
}

// A release's record: written by `record`, and told apart from one that no
// longer fits the release, which `pack --sign` and `publish` warn of.
TEST(Keys, ReleaseRecord_FitsOnlyTheReleaseAndKeyItWasMadeFor) {
  const std::string root = FreshFolder();
  const std::string secret = HostJoin(root, "studio.key"), other = HostJoin(root, "other.key");
  ASSERT_EQ(0, RunCli({"keygen", secret, HostJoin(root, "studio.pub")}).exitCode);
  ASSERT_EQ(0, RunCli({"keygen", other, HostJoin(root, "other.pub")}).exitCode);
  std::string error;
  const PublicKey key = LoadSecretKey(secret, error)->publicKey;
  struct Row {
    const char* name;
    const char* recordKey;      // signs the record; none: no record
    const char* changedFile;    // written after recording; none: nothing
    std::string changedContent;
    const char* problem;        // part of ReleaseRecordProblem's answer; "": none
  };
  const Row rows[] = {
      {"recorded", "studio", nullptr, "", ""},
      {"never recorded", nullptr, nullptr, "", "no properties\\release.signed"},
      {"signed by another key", "other", nullptr, "", "properties\\release.signed:"},
      {"a module changed after", "studio", "game.dll", "MZ another module", "does not list what the release holds"},
      {"a DLL added after", "studio", "extra.dll", "MZ", "does not list what the release holds"},
      {"the version raised after", "studio", "properties\\version.xml", VersionXml(1, 2), "another version"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string release = HostJoin(root, "release"), previous = HostJoin(root, "previous");
    ASSERT_TRUE(RemoveHostTree(release) && RemoveHostTree(previous));
    WriteTree(previous, MinimalRelease(0));
    WriteTree(release, MinimalRelease(1));
    if (row.recordKey) {
      const CliResult recorded =
          RunCli({"record", release, "--key", std::string(row.recordKey) == "studio" ? secret : other});
      ASSERT_EQ(0, recorded.exitCode) << recorded.err;
    }
    if (row.changedFile) {
      HostFile out = OpenHostFile(HostJoin(release, row.changedFile), "wb");
      ASSERT_TRUE(out && std::fwrite(row.changedContent.data(), 1, row.changedContent.size(), out.Get()) ==
                             row.changedContent.size());
    }
    const std::string problem = ReleaseRecordProblem(release, key);
    if (*row.problem == '\0') {
      EXPECT_EQ("", problem);
    } else {
      EXPECT_NE(std::string::npos, problem.find(row.problem)) << problem;
    }
    const std::string update = HostJoin(root, "update");
    ASSERT_TRUE(RemoveHostTree(update) && RemoveHostTree(update + ".manifest"));
    const CliResult packed = RunCli({"pack", previous, release, update, "--sign", secret});
    EXPECT_EQ(0, packed.exitCode) << packed.err;
    EXPECT_EQ(!problem.empty(), packed.out.find("warning: " + problem) != std::string::npos) << packed.out;
  }
}
