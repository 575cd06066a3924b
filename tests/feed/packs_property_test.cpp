// The pack list's writer and reader against random lists: what is written
// reads back as it was, and a list shuffled or pushed out of shape is read
// exactly when it keeps the reader's promises (in pack order, no overlap
// within a pack, sizes within a zlib stream's bounds, no pack newer than
// the version), since the download batches runs on those promises.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "feed/feed_envelope.h"
#include "feed/feed_packs.h"
#include "tests/feed/feed_support.h"

namespace {

const long kVersionX = 1, kVersionY = 5;

bool Keeps(const std::vector<FeedPackedChunk>& chunks) {
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const FeedPackedChunk& chunk = chunks[i];
    if (chunk.size == 0 || chunk.size > FEED_PACKED_CHUNK_MAX || chunk.packY > kVersionY) return false;
    if (i == 0) continue;
    const FeedPackedChunk& before = chunks[i - 1];
    if (chunk.packY < before.packY || (chunk.packY == before.packY && chunk.offset < before.offset + before.size)) {
      return false;
    }
  }
  return true;
}

std::string Body(const std::vector<FeedPackedChunk>& chunks) {
  std::string body = "version 1.5\n";
  for (const FeedPackedChunk& chunk : chunks) {
    body += "chunk " + std::string(64, static_cast<char>('a' + chunk.sha256[0] % 6)) + " 1." +
            std::to_string(chunk.packY) + " " + std::to_string(chunk.offset) + " " + std::to_string(chunk.size) + "\n";
  }
  return body;
}

TEST(FeedPacks, RandomListsReadBackAndOnlySoundOnesAreRead) {
  const packer::KeyPair key = feed_testing::TestKey();
  std::mt19937 random(20261209);
  for (int round = 0; round < 2000; ++round) {
    // A sound list: packs 1.0 to 1.5 in order, ranges touching or apart.
    std::vector<FeedPackedChunk> chunks(random() % 12);
    unsigned long long offset = 0;
    long pack = 0;
    for (FeedPackedChunk& chunk : chunks) {
      if (random() % 3 == 0 && pack < kVersionY) pack += 1, offset = 0;
      chunk = FeedPackedChunk{};
      std::memset(chunk.sha256, 0xaa, sizeof chunk.sha256);
      chunk.sha256[0] = static_cast<unsigned char>(random() % 6);
      chunk.packX = kVersionX;
      chunk.packY = pack;
      chunk.offset = offset + (random() % 2 ? 0 : random() % 100);
      chunk.size = random() % 4 == 0 ? FEED_PACKED_CHUNK_MAX : 1 + random() % 70000;
      offset = chunk.offset + chunk.size;
    }
    // Then, half the time, one thing out of shape.
    if (!chunks.empty() && random() % 2) {
      FeedPackedChunk& chunk = chunks[random() % chunks.size()];
      switch (random() % 4) {
        case 0: chunk.offset = chunk.offset > 0 ? chunk.offset - 1 : 0; break;
        case 1: chunk.size = random() % 2 ? 0 : FEED_PACKED_CHUNK_MAX + 1; break;
        case 2: chunk.packY = kVersionY + 1; break;
        default: std::swap(chunk, chunks[random() % chunks.size()]);
      }
    }
    const std::string text = feed_testing::Signed(FEED_PACKS_HEADER, Body(chunks), key);
    FeedPacks read{};
    const char* reason = nullptr;
    const bool taken = FeedReadPacks(text.data(), text.size(), key.publicKey.data(), &read, &reason) != 0;
    ASSERT_EQ(Keeps(chunks), taken) << Body(chunks) << (reason ? reason : "");
    if (!taken) continue;
    // What was read writes back to the very same text.
    FeedText written{};
    ASSERT_TRUE(FeedWritePacks(&read, key.seed.data(), &written));
    EXPECT_EQ(text, std::string(written.data, written.size));
    FeedTextFree(&written);
    FeedFreePacks(&read);
  }
}

}  // namespace
