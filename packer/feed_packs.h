#pragma once
// A feed's packs on the studio's disk (format: feed/feed_packs.h): the pack
// of the chunks a version is the first to pack, and the signed list of where
// every chunk of the version lies, so a player fetches runs of chunks with
// one ranged request each.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "feed/feed_packs.h"
#include "packer/feed_folder.h"
#include "packer/keys.h"

namespace packer {

using OwnedPacks = Owned<FeedPacks, FeedFreePacks>;

// "" when the pack named by `chunk` holds, at its range, the very bytes of
// the chunk's file in the feed; else what is wrong.
[[nodiscard]] std::string PackRangeProblem(const std::string& feed, const FeedPackedChunk& chunk);

// Version (x, y)'s list, when it is there, signed with `key` and naming
// that version; "" then, else why not.
[[nodiscard]] std::string ReadPackList(const std::string& feed, long x, long y, const PublicKey& key,
                                       OwnedPacks& list);

struct PackResult {
  bool written = false;  // false: the version's list was there already
  std::size_t packedChunks = 0;
  std::uint64_t packBytes = 0;
};

// Writes the pack of version (x, y) (its chunks no earlier version's list
// locates, in the order of `chunks`, its distinct chunks in manifest order,
// all stored already), then its list, each under a temporary name renamed
// in. Nothing when the version's list is there already.
[[nodiscard]] bool WritePacks(const std::string& feed, long x, long y,
                              const std::vector<std::array<std::uint8_t, 32>>& chunks, const KeyPair& key,
                              PackResult& result, std::string& error);

}  // namespace packer
