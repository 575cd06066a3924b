// The manifest's check values: the FIPS 180-4 test vectors, and digests that
// do not depend on how the data is split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "hash/sha256.h"

#include "packer/sha256.h"

using packer::Sha256;
using packer::Sha256Hex;
using packer::ToHex;

TEST(Sha256, KnownVectors) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Sha256Hex(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Sha256Hex("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
            Sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                      "mnopqrstnopqrstu"));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", Sha256Hex(std::string(1000000, 'a')));
}

TEST(Sha256, SplitInputGivesTheSameDigest) {
  // Lengths around the 64-byte block and the 56-byte padding boundary.
  for (std::size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<char>(i * 31 + 7);
    for (std::size_t split = 0; split <= length; split += 13) {
      Sha256 hash;
      hash.Add(data.data(), split);
      hash.Add(data.data() + split, length - split);
      EXPECT_EQ(Sha256Hex(data), ToHex(hash.Finish())) << "length " << length << " split " << split;
    }
  }
}

// The fast hash, with the processor's instructions and without, against
// libsodium's: random lengths (every padding case below 300 bytes) fed in
// random pieces, and a megabyte in blocks as the launcher reads files.
TEST(FastSha256, AgreesWithLibsodiumForAnyLengthAndSplit) {
  std::mt19937 random(20261209);
  std::string data(1 << 20, '\0');
  for (char& c : data) c = static_cast<char>(random());
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length < 300; ++length) lengths.push_back(length);
  lengths.push_back(data.size());
  for (const int instructions : {1, 0}) {
    for (const std::size_t length : lengths) {
      FastSha256 hash;
      FastSha256Init(&hash, instructions);
      for (std::size_t fed = 0; fed < length;) {
        const std::size_t piece = std::min<std::size_t>(length - fed, random() % 150000);
        FastSha256Update(&hash, data.data() + fed, piece);
        fed += piece;
      }
      std::array<std::uint8_t, 32> digest{};
      FastSha256Final(&hash, digest.data());
      EXPECT_EQ(Sha256Hex(data.substr(0, length)), ToHex(digest)) << "length " << length << " instructions "
                                                                  << instructions;
    }
  }
  std::printf("the SHA instructions are %sused here\n", FastSha256HasInstructions() ? "" : "not ");
}
