// The launcher's trust check as LAUNCHER_UPDATE_PUBLIC_KEY builds it: this
// program's copy is built with the public key of a fixed test seed.
#include <gtest/gtest.h>

#include "packer/files.h"
#include "packer/keys.h"
#include "packer/release.h"
#include "tests/packer/packer_support.h"
#include "update/signed_update.h"

using namespace packer;
using namespace packer_testing;

namespace {

KeyPair TestKey() {
  std::string error;
  KeyPair pair;
  for (std::size_t i = 0; i < pair.seed.size(); ++i) pair.seed[i] = static_cast<std::uint8_t>(i + 1);
  // A secret key whose public key does not follow from its seed is refused.
  pair.publicKey = *HexToBytes<32>(TEST_UPDATE_PUBLIC_KEY);
  EXPECT_TRUE(ParseSecretKey(FormatSecretKey(pair), error)) << "the compiled-in key is not the test seed's: " << error;
  return pair;
}

std::vector<StagedEntryFact> Staged(const std::string& update) {
  std::vector<StagedEntryFact> staged;
  for (const ReleaseEntry& entry : ListRelease(update).entries) {
    if (entry.path != "update.ready") staged.push_back({entry.path, HostJoin(update, entry.path), entry.isFolder});
  }
  return staged;
}

}  // namespace

TEST(CompiledKey, OnlyUpdatesSignedWithTheCompiledKeyAreTrusted) {
  const std::string root = FreshFolder();
  const KeyPair pair = TestKey();
  std::string error;
  ASSERT_TRUE(WriteKeyPair(pair, HostJoin(root, "test.key"), HostJoin(root, "test.pub"), error)) << error;
  ASSERT_EQ(0, RunCli({"keygen", HostJoin(root, "other.key"), HostJoin(root, "other.pub")}).exitCode);
  WriteTree(HostJoin(root, "a"), MinimalRelease(0));
  WriteTree(HostJoin(root, "b"), MinimalRelease(1, "MZ 1.1"));
  EXPECT_TRUE(UpdateSignatureRequired());
  const struct {
    const char* key;  // "" packs unsigned
    UpdateTrust trust;
  } cases[] = {{"test.key", UpdateTrust::Trusted}, {"other.key", UpdateTrust::Refused}, {"", UpdateTrust::Refused}};
  for (const auto& c : cases) {
    const std::string update = HostJoin(root, std::string("update-") + c.key);
    std::vector<std::string> arguments = {"pack", HostJoin(root, "a"), HostJoin(root, "b"), update};
    if (c.key[0] != '\0') arguments.insert(arguments.end(), {"--sign", HostJoin(root, c.key)});
    ASSERT_EQ(0, RunCli(arguments).exitCode) << c.key;
    EXPECT_EQ(c.trust, CheckUpdateTrust(HostJoin(update, "update.ready"), Staged(update), std::make_pair(1L, 0L)))
        << c.key;
  }
}
