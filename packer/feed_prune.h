#pragma once
// `packer prune`: a feed that lasts. Each channel keeps its newest versions;
// what no version any channel lists needs any more (its manifest, pack list,
// the update markers of the steps to it, chunks and packs no kept version
// uses, a stopped publish's leftovers) is removed. The indexes are replaced
// first, so a reader never sees a listed version without its files; a
// download that started before meets a missing file and is told to start
// again, never a mix. Publish and prune take the feed's lock, so neither
// removes nor lists what the other is writing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packer/keys.h"

namespace packer {

// The feed's files (feed-relative URLs) in versions/, packs/ and chunks/
// that no version a channel lists needs: what prune removes.
struct FeedUse {
  std::vector<std::string> unneeded;
  std::uint64_t unneededBytes = 0;
};
// Empty `error` when every channel's index and every listed manifest (and
// pack list) could be read as signed with `key`; else nothing is unneeded.
[[nodiscard]] FeedUse FindUnneeded(const std::string& feed, const PublicKey& key, std::string& error);

struct PruneSummary {
  std::size_t versionsDropped = 0;  // listings removed from channels
  std::size_t filesRemoved = 0;
  std::uint64_t bytesRemoved = 0;
};

// Keeps the newest `keep` (at least 1) versions of every channel, signed
// anew with `key`, then removes what nothing kept needs. False, with the
// reason, when the feed is locked, not signed with the key, or not whole
// enough to tell what its versions need: then nothing was removed.
[[nodiscard]] bool PruneFeed(const std::string& feed, const KeyPair& key, std::size_t keep, PruneSummary& summary,
                             std::string& error);

// The feed's lock file, which publish and prune hold while they run.
extern const char kFeedLockName[];

}  // namespace packer
