// Key files: a new pair loads back, and a damaged file never loads.
#include <gtest/gtest.h>

#include "packer/files.h"
#include "packer/keys.h"
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
