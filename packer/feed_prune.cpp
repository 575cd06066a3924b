#include "packer/feed_prune.h"

#include <algorithm>
#include <list>
#include <set>
#include <utility>

#include "feed/feed_index.h"
#include "feed/feed_manifest.h"
#include "feed/feed_store.h"
#include "packer/feed_folder.h"
#include "packer/feed_packs.h"
#include "packer/files.h"

namespace packer {

const char kFeedLockName[] = "packer.lock";

namespace {

struct Channel {
  std::string file;  // feed-relative URL
  OwnedIndex owned;
};

// Every channel's index, read as signed with `key`; false with the reason
// when one is not.
bool ReadChannels(const std::string& feed, const PublicKey& key, std::list<Channel>& channels, std::string& error) {
  std::vector<HostEntry> entries;
  if (!ListHostFolder(HostJoin(feed, "channels"), entries)) {
    error = "no channel index in " + feed;
    return false;
  }
  std::sort(entries.begin(), entries.end(), [](const HostEntry& a, const HostEntry& b) { return a.name < b.name; });
  for (const HostEntry& entry : entries) {
    const std::size_t dot = entry.name.size() > 6 ? entry.name.size() - 6 : 0;
    if (entry.kind != EntryKind::File || dot == 0 || entry.name.compare(dot, 6, ".index") != 0) continue;
    channels.emplace_back();
    Channel& channel = channels.back();
    channel.file = "channels/" + entry.name;
    std::string reason;
    if (!ReadSignedFeedFile(FeedPath(feed, channel.file), FEED_MAX_INDEX, key, FeedReadIndex, channel.owned, reason)) {
      error = channel.file + ": " + reason;
      return false;
    }
  }
  if (channels.empty()) error = "no channel index in " + feed;
  return !channels.empty();
}

std::string VersionText(long x, long y) { return std::to_string(x) + "." + std::to_string(y); }

// What the versions `kept` need, as feed-relative URLs: each one's manifest,
// pack list and every pack it points into, its chunks, and the update
// markers of the steps to it.
bool NeededBy(const std::string& feed, const PublicKey& key, const std::set<std::pair<long, long>>& kept,
              std::set<std::string>& needed, std::string& error) {
  std::vector<HostEntry> versions;
  (void)ListHostFolder(HostJoin(feed, "versions"), versions);
  for (const auto& version : kept) {
    char url[FEED_VERSION_PATH_BYTES];
    FeedManifestPath(version.first, version.second, url);
    OwnedManifest owned;
    std::string reason;
    if (!ReadSignedFeedFile(FeedPath(feed, url), FEED_MAX_MANIFEST, key, FeedReadManifest, owned, reason)) {
      error = std::string(url) + ": " + reason;
      return false;
    }
    needed.insert(url);
    for (std::size_t i = 0; i < owned.value.chunkCount; ++i) {
      char chunk[FEED_CHUNK_PATH_BYTES];
      FeedChunkPath(owned.value.chunks[i].sha256, chunk);
      needed.insert(chunk);
    }
    char packsUrl[FEED_PACKS_PATH_BYTES];
    FeedPacksPath(version.first, version.second, packsUrl);
    if (KindOf(FeedPath(feed, packsUrl)) != EntryKind::Missing) {
      OwnedPacks list;
      const std::string problem = ReadPackList(feed, version.first, version.second, key, list);
      if (!problem.empty()) {
        error = std::string(packsUrl) + ": " + problem;
        return false;
      }
      needed.insert(packsUrl);
      for (std::size_t i = 0; i < list.value.count; ++i) {
        char pack[FEED_PACK_PATH_BYTES];
        FeedPackPath(list.value.chunks[i].packX, list.value.chunks[i].packY, pack);
        needed.insert(pack);
      }
    }
    // A player of any version, listed or not, may still step to a kept one.
    const std::string steps = VersionText(version.first, version.second) + ".from-";
    for (const HostEntry& entry : versions) {
      if (entry.name.compare(0, steps.size(), steps) == 0) needed.insert("versions/" + entry.name);
    }
  }
  return true;
}

// The plain files of the feed's stores, as feed-relative URLs with sizes.
void StoredFiles(const std::string& feed, std::vector<std::pair<std::string, std::uint64_t>>& files) {
  const auto add = [&](const std::string& folder) {
    std::vector<HostEntry> entries;
    if (!ListHostFolder(FeedPath(feed, folder), entries)) return;
    for (const HostEntry& entry : entries) {
      if (entry.kind != EntryKind::File) continue;
      files.emplace_back(folder + "/" + entry.name, entry.size);
    }
  };
  add("versions");
  add("packs");
  std::vector<HostEntry> fans;
  if (!ListHostFolder(FeedPath(feed, "chunks"), fans)) return;
  for (const HostEntry& fan : fans) {
    if (fan.kind == EntryKind::Folder) add("chunks/" + fan.name);
  }
}

FeedUse Unneeded(const std::string& feed, const std::set<std::string>& needed) {
  FeedUse use;
  std::vector<std::pair<std::string, std::uint64_t>> files;
  StoredFiles(feed, files);
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    if (needed.count(file.first) > 0) continue;
    use.unneeded.push_back(file.first);
    use.unneededBytes += file.second;
  }
  return use;
}

std::set<std::pair<long, long>> Listed(const std::list<Channel>& channels) {
  std::set<std::pair<long, long>> listed;
  for (const Channel& channel : channels) {
    for (std::size_t i = 0; i < channel.owned.value.count; ++i) {
      listed.emplace(channel.owned.value.versions[i].x, channel.owned.value.versions[i].y);
    }
  }
  return listed;
}

}  // namespace

FeedUse FindUnneeded(const std::string& feed, const PublicKey& key, std::string& error) {
  std::list<Channel> channels;
  std::set<std::string> needed;
  error.clear();
  if (!ReadChannels(feed, key, channels, error) || !NeededBy(feed, key, Listed(channels), needed, error)) return {};
  return Unneeded(feed, needed);
}

bool PruneFeed(const std::string& feed, const KeyPair& key, std::size_t keep, PruneSummary& summary,
               std::string& error) {
  summary = PruneSummary();
  const HostLock lock(HostJoin(feed, kFeedLockName));
  if (!lock.Held()) {
    error = "another publish or prune holds " + HostJoin(feed, kFeedLockName);
    return false;
  }
  std::list<Channel> channels;
  if (keep == 0 || !ReadChannels(feed, key.publicKey, channels, error)) {
    if (keep == 0) error = "--keep must keep at least one version";
    return false;
  }
  // What the kept versions need is known before any index changes: a feed
  // too damaged to tell is left as it is.
  std::set<std::pair<long, long>> kept;
  for (const Channel& channel : channels) {
    const FeedIndex& index = channel.owned.value;
    for (std::size_t i = index.count > keep ? index.count - keep : 0; i < index.count; ++i) {
      kept.emplace(index.versions[i].x, index.versions[i].y);
    }
  }
  std::set<std::string> needed;
  if (!NeededBy(feed, key.publicKey, kept, needed, error)) return false;
  // The shorter indexes first, each replaced in one step; then what they no
  // longer list.
  for (const Channel& channel : channels) {
    const FeedIndex& index = channel.owned.value;
    if (index.count <= keep) continue;
    FeedIndex shorter = index;
    shorter.versions = index.versions + (index.count - keep);
    shorter.count = keep;
    OwnedText text;
    if (!FeedWriteIndex(&shorter, key.seed.data(), &text.value) ||
        !WriteFeedFile(FeedPath(feed, channel.file), TextBytes(text.value), true, error)) {
      if (error.empty()) error = "cannot sign " + channel.file;
      return false;
    }
    summary.versionsDropped += index.count - keep;
  }
  const FeedUse use = Unneeded(feed, needed);
  for (const std::string& url : use.unneeded) {
    if (!RemoveHostTree(FeedPath(feed, url))) {
      error = "cannot remove " + FeedPath(feed, url);
      return false;
    }
    ++summary.filesRemoved;
  }
  summary.bytesRemoved = use.unneededBytes;
  return true;
}

}  // namespace packer
