#pragma once
// `packer publish`: a release added to a feed folder (layout: feed/feed_store.h).
//
// New chunks first (each written under a temporary name and renamed in,
// never rewritten), then the version's pack and its signed pack list, then
// its signed manifest, then the channel's signed index, replaced in one
// rename: a reader of the index never sees a version whose manifest,
// chunks or packs are not all there, nor a list pointing at no pack. A publish that fails
// half-way may leave unreferenced chunks, never a changed index. Everything
// written is a function of the release and the key, so publishing the same
// release again writes nothing but what the feed has lost since.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "packer/keys.h"
#include "packer/release.h"

namespace packer {

struct PublishSummary {
  Version version;
  bool unchanged = false;  // already published: nothing written
  std::size_t files = 0;
  std::size_t chunks = 0;     // listed, counting each distinct chunk once
  std::size_t newChunks = 0;  // written now
  std::uint64_t releaseBytes = 0;
  std::uint64_t newChunkBytes = 0;  // as stored (compressed)
  std::size_t upgradeMarkers = 0;   // signed update markers, one per earlier version
  std::size_t packedChunks = 0;     // in the version's new pack: those no earlier pack holds
  std::uint64_t packBytes = 0;
  bool packsAdded = false;  // already published before feeds had packs: its pack and list added now
  bool republished = false;       // the channel lists this very content already
  bool manifestRestored = false;  // republished: its manifest was missing, written back now
  std::size_t markersRestored = 0;  // republished: markers of the steps to it that were missing, written back now
};

// Told how far a publish is, in bytes of the release: "chunked" as it reads
// and cuts the files (`total` 0: not known yet), then "stored" as it writes
// the chunks the feed lacks.
using PublishProgress = std::function<void(const char* step, std::uint64_t done, std::uint64_t total)>;

// False, with the reason in `error`, when refused or not done.
[[nodiscard]] bool Publish(const std::string& release, const std::string& feed, const std::string& channel,
                           const KeyPair& key, PublishSummary& summary, std::string& error,
                           const PublishProgress& progress = PublishProgress());

}  // namespace packer
