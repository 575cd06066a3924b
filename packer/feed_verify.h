#pragma once
// `packer verify` of a feed folder: every channel's index and every
// manifest it lists signed with the key (and the manifest the very one the
// index pins), every chunk present and its bytes hashing to its name, every
// file's chunks adding up to its size and SHA-256, every version's pack
// list (where there is one) signed and pointing at its chunks' very bytes,
// no link anywhere in the folder. One line a fault, each saying what and why.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packer/keys.h"

namespace packer {

struct FeedReport {
  std::vector<std::string> problems;
  std::size_t channels = 0;
  std::size_t versions = 0;
  std::size_t files = 0;
  std::size_t chunks = 0;  // distinct chunks checked
  // Files no listed version needs (what `prune` removes): not faults, as a
  // stopped publish or a shortened channel leaves them.
  std::vector<std::string> orphans;
  std::uint64_t orphanBytes = 0;
};

[[nodiscard]] FeedReport VerifyFeed(const std::string& feed, const PublicKey& key);

}  // namespace packer
