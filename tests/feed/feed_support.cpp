#include "tests/feed/feed_support.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include "tests/support/harness.h"
#endif

#include <gtest/gtest.h>
#include <sodium.h>

#include <random>

#include "feed/feed_chunker.h"
#include "feed/feed_envelope.h"
#include "tests/packer/packer_support.h"

namespace feed_testing {

packer::KeyPair TestKey(unsigned char seed) {
  packer::KeyPair pair;
  for (std::size_t i = 0; i < pair.seed.size(); ++i) pair.seed[i] = static_cast<std::uint8_t>(seed + i);
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(pair.publicKey.data(), secret, pair.seed.data());
  return pair;
}

std::pair<std::string, std::string> WriteTestKey(const std::string& folder, unsigned char seed) {
  const std::string secret = folder + "/key" + std::to_string(seed) + ".secret";
  const std::string open = folder + "/key" + std::to_string(seed) + ".public";
  std::string error;
  if (!packer::WriteKeyPair(TestKey(seed), secret, open, error)) ADD_FAILURE_AT(__FILE__, __LINE__);
  return {secret, open};
}

std::string Signed(const std::string& header, const std::string& body, const packer::KeyPair& key) {
  FeedText text{};
  FeedBeginSigned(&text, header.c_str(), key.seed.data());
  FeedTextAppend(&text, body.data(), body.size());
  const bool signedOk = FeedEndSigned(&text, key.seed.data()) != 0;
  std::string result = signedOk ? std::string(text.data, text.size) : std::string();
  FeedTextFree(&text);
  return result;
}

std::string GameBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    // A run of noise, then a repeat of something earlier.
    const std::size_t noise = 64 + random() % 512;
    for (std::size_t i = 0; i < noise && bytes.size() < size; ++i) bytes.push_back(static_cast<char>(random() & 0xff));
    if (bytes.size() > 4096) {
      const std::size_t from = random() % (bytes.size() - 2048);
      const std::size_t length = std::min<std::size_t>(256 + random() % 1792, size - bytes.size());
      for (std::size_t i = 0; i < length; ++i) bytes.push_back(bytes[from + i]);
    }
  }
  return bytes;
}

Cut CutInto(const std::string& bytes) {
  FeedChunker chunker;
  FeedChunkerInit(&chunker);
  Cut cut;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = FeedChunkLength(&chunker, data + at, bytes.size() - at);
    unsigned char digest[32];
    crypto_hash_sha256(digest, data + at, length);
    cut.hashes.emplace_back(reinterpret_cast<const char*>(digest), 32);
    cut.sizes.push_back(length);
    at += length;
  }
  return cut;
}

testing_support::Tree Release(int minor, const std::vector<std::pair<std::string, std::string>>& files) {
  testing_support::Tree tree = packer_testing::MinimalRelease(minor);
  for (const auto& file : files) packer_testing::AddFile(tree, file.first, file.second);
  return tree;
}

bool MakeLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  const auto windows = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return std::filesystem::absolute(path).string();
  };
  return testing_support::PlantLink(windows(link), windows(target));
#else
  std::error_code error;
  if (std::filesystem::is_directory(target)) {
    std::filesystem::create_directory_symlink(target, link, error);
  } else {
    std::filesystem::create_symlink(target, link, error);
  }
  return !error;
#endif
}

void RemoveLinkedTree(const std::string& folder) {
#ifdef _WIN32
  std::string path = std::filesystem::absolute(folder).string();
  std::replace(path.begin(), path.end(), '/', '\\');
  testing_support::RemoveTree(path);
#else
  std::error_code error;
  std::filesystem::remove_all(folder, error);
#endif
}

}  // namespace feed_testing
