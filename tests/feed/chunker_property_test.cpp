// The chunker's properties over random data: sizes within bounds, cuts that
// do not depend on how the bytes are handed in, and cuts that follow the
// content, so an edit changes only the chunks around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "feed/feed_chunker.h"
#include "tests/feed/feed_support.h"

namespace {

using feed_testing::CutInto;
using feed_testing::GameBytes;

constexpr std::size_t kFileSize = 8u * 1024 * 1024;

// Chunks of `after` that `before` does not hold.
std::size_t NewChunks(const std::string& before, const std::string& after) {
  const auto old = CutInto(before).hashes;
  const std::set<std::string> known(old.begin(), old.end());
  std::size_t fresh = 0;
  for (const std::string& hash : CutInto(after).hashes) fresh += known.count(hash) ? 0 : 1;
  return fresh;
}

TEST(FeedChunker, SizesStayWithinBoundsAndAverageNearTheTarget) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const auto cut = CutInto(GameBytes(kFileSize, seed));
    for (std::size_t i = 0; i < cut.sizes.size(); ++i) {
      EXPECT_LE(cut.sizes[i], FEED_CHUNK_MAX) << "seed " << seed << ", chunk " << i;
      if (i + 1 < cut.sizes.size()) {
        EXPECT_GE(cut.sizes[i], FEED_CHUNK_MIN) << "seed " << seed << ", chunk " << i;
      }
    }
    const std::size_t average = kFileSize / cut.sizes.size();
    EXPECT_GE(average, FEED_CHUNK_AVERAGE / 2) << "seed " << seed;
    EXPECT_LE(average, FEED_CHUNK_AVERAGE * 2) << "seed " << seed;
  }
}

TEST(FeedChunker, CutsDoNotDependOnHowMuchFollows) {
  FeedChunker chunker;
  FeedChunkerInit(&chunker);
  // Long runs of one byte give no content cut: the forced cuts at the
  // maximum must not depend on what follows either.
  const std::string bytes = GameBytes(kFileSize / 4, 4) + std::string(kFileSize / 4, '\0') + GameBytes(kFileSize / 4, 5);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto whole = CutInto(bytes).sizes;
  std::vector<std::size_t> windowed;
  std::mt19937 random(4);
  for (std::size_t at = 0; at < bytes.size();) {
    // Anything from the chunker's reach to the rest of the file.
    const std::size_t rest = bytes.size() - at;
    const std::size_t given = std::min<std::size_t>(rest, FEED_CHUNK_MAX + random() % (2 * FEED_CHUNK_MAX));
    windowed.push_back(FeedChunkLength(&chunker, data + at, given));
    at += windowed.back();
  }
  EXPECT_EQ(whole, windowed);
}

TEST(FeedChunker, AnEditChangesOnlyTheChunksAroundIt) {
  std::mt19937 random(5);
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const std::string before = GameBytes(kFileSize, seed + 10);
    const std::size_t at = random() % (64 * 1024);
    const std::string inserted = GameBytes(1 + random() % 200, seed + 20);
    std::string after = before;
    after.insert(at, inserted);
    EXPECT_LE(NewChunks(before, after), 2u) << "seed " << seed << ": " << inserted.size() << " bytes inserted at " << at;
    std::string removed = before;
    removed.erase(at, inserted.size());
    EXPECT_LE(NewChunks(before, removed), 2u) << "seed " << seed << ": bytes removed at " << at;
    std::string changed = before;
    changed[kFileSize / 2] = static_cast<char>(changed[kFileSize / 2] ^ 0x55);
    EXPECT_LE(NewChunks(before, changed), 2u) << "seed " << seed << ": one byte changed in the middle";
  }
}

}  // namespace
