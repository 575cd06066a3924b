#include "packer/feed_verify.h"

#include <zlib.h>

#include <cstring>
#include <map>
#include <set>

#include "feed/feed_chunker.h"
#include "feed/feed_index.h"
#include "feed/feed_manifest.h"
#include "feed/feed_store.h"
#include "packer/feed_folder.h"
#include "packer/feed_packs.h"
#include "packer/feed_prune.h"
#include "packer/files.h"
#include "packer/signature.h"
#include "format/rungame_format.h"
#include "packer/sha256.h"

namespace packer {

namespace {

// Links and other non-files anywhere below `folder`: a web server may
// follow them out of the feed.
void FindLinks(const std::string& folder, const std::string& relative, std::vector<std::string>& problems) {
  std::vector<HostEntry> entries;
  if (!ListHostFolder(HostJoin(folder, relative), entries)) {
    problems.push_back("unreadable  " + (relative.empty() ? std::string(".") : relative));
    return;
  }
  for (const HostEntry& entry : entries) {
    const std::string path = relative.empty() ? entry.name : relative + "/" + entry.name;
    if (entry.kind == EntryKind::Folder) {
      FindLinks(folder, path, problems);
    } else if (entry.kind != EntryKind::File) {
      problems.push_back("not a file  " + path + ": a link or special file in the feed folder");
    }
  }
}

class Checker {
 public:
  Checker(const std::string& feed, const PublicKey& key, FeedReport& report) : feed_(feed), key_(key), report_(report) {}

  void Channel(const std::string& file) {
    const std::string url = "channels/" + file;
    OwnedIndex owned;
    std::string reason;
    if (!ReadSignedFeedFile(FeedPath(feed_, url), FEED_MAX_INDEX, key_, FeedReadIndex, owned, reason)) {
      Problem("bad index  " + url + ": " + reason);
      return;
    }
    ++report_.channels;
    if (std::string(owned.value.channel) + ".index" != file) {
      Problem("bad index  " + url + ": it names the channel " + owned.value.channel);
    }
    for (std::size_t i = 0; i < owned.value.count; ++i) Version(url, owned.value.versions[i]);
    for (std::size_t to = 1; to < owned.value.count; ++to) {
      for (std::size_t from = 0; from < to; ++from) UpgradeMarker(owned.value.versions[from], owned.value.versions[to]);
    }
  }

 private:
  // A step's signed update marker, where publish wrote one: signed with the
  // key, for that very step.
  void UpgradeMarker(const FeedVersion& from, const FeedVersion& to) {
    char url[FEED_UPGRADE_PATH_BYTES];
    FeedUpgradeMarkerPath(to.x, to.y, from.x, from.y, url);
    if (KindOf(FeedPath(feed_, url)) == EntryKind::Missing || !checked_.insert(url).second) return;
    const auto text = ReadHostFile(FeedPath(feed_, url), RUNGAME_SIGNED_MAX_MARKER);
    std::string error = "cannot be read";
    const auto manifest = text ? OpenSignedManifest(*text, key_, error) : std::nullopt;
    if (!manifest) {
      Problem("bad marker  " + std::string(url) + ": " + error);
    } else if (manifest->from != std::to_string(from.x) + "." + std::to_string(from.y) ||
               manifest->to != std::to_string(to.x) + "." + std::to_string(to.y)) {
      Problem("bad marker  " + std::string(url) + ": it names another step");
    }
  }

  void Problem(const std::string& text) { report_.problems.push_back(text); }

  void Version(const std::string& indexUrl, const FeedVersion& listed) {
    char url[FEED_VERSION_PATH_BYTES];
    FeedManifestPath(listed.x, listed.y, url);
    ++report_.versions;
    const auto text = ReadHostFile(FeedPath(feed_, url), FEED_MAX_MANIFEST);
    if (!text) {
      Problem("missing  " + std::string(url) + ", listed by " + indexUrl);
      return;
    }
    unsigned char digest[32];
    Sha256Digest(text->data(), text->size(), digest);
    if (text->size() != listed.manifestSize || std::memcmp(digest, listed.manifestSha256, 32) != 0) {
      Problem("bad manifest  " + std::string(url) + ": not the manifest " + indexUrl + " lists (size or SHA-256)");
      return;
    }
    if (!checked_.insert(url).second) return;
    OwnedManifest owned;
    const char* reason = "";
    if (!FeedReadManifest(text->data(), text->size(), key_.data(), &owned.value, &reason)) {
      Problem("bad manifest  " + std::string(url) + ": " + reason);
      return;
    }
    if (owned.value.x != listed.x || owned.value.y != listed.y) {
      Problem("bad manifest  " + std::string(url) + ": it names another version");
    }
    for (std::size_t i = 0; i < owned.value.count; ++i) File(url, owned.value, owned.value.entries[i]);
    PackList(listed, owned.value);
  }

  // The version's pack list, where publish wrote one (feeds published before
  // packs have none): signed with the key, naming the version, listing only
  // its chunks, each at bytes of its pack that are the chunk file's own.
  void PackList(const FeedVersion& listed, const FeedManifest& manifest) {
    char url[FEED_PACKS_PATH_BYTES];
    FeedPacksPath(listed.x, listed.y, url);
    if (KindOf(FeedPath(feed_, url)) == EntryKind::Missing) return;
    OwnedPacks list;
    const std::string reason = ReadPackList(feed_, listed.x, listed.y, key_, list);
    if (!reason.empty()) {
      Problem("bad pack list  " + std::string(url) + ": " + reason);
      return;
    }
    std::set<std::string> chunks;
    for (std::size_t i = 0; i < manifest.chunkCount; ++i) {
      chunks.insert(std::string(reinterpret_cast<const char*>(manifest.chunks[i].sha256), 32));
    }
    for (std::size_t i = 0; i < list.value.count; ++i) {
      const FeedPackedChunk& chunk = list.value.chunks[i];
      char chunkUrl[FEED_CHUNK_PATH_BYTES];
      FeedChunkPath(chunk.sha256, chunkUrl);
      if (!chunks.count(std::string(reinterpret_cast<const char*>(chunk.sha256), 32))) {
        Problem("bad pack list  " + std::string(url) + ": it lists " + chunkUrl + ", no chunk of its version");
        continue;
      }
      char packUrl[FEED_PACK_PATH_BYTES];
      FeedPackPath(chunk.packX, chunk.packY, packUrl);
      // Lists share ranges: each is read once; a bad chunk is reported as such already.
      const std::string range =
          std::string(chunkUrl) + " " + packUrl + " " + std::to_string(chunk.offset) + " " + std::to_string(chunk.size);
      if (bad_.count(chunkUrl) || badPacks_.count(packUrl) || !ranges_.insert(range).second) continue;
      const std::string problem = PackRangeProblem(feed_, chunk);
      if (!problem.empty()) {
        badPacks_.insert(packUrl);
        Problem("bad pack  " + std::string(packUrl) + ": " + problem + " (listed by " + url + ")");
      }
    }
  }

  // Every chunk of the file, in order, its bytes hashed on into the file's.
  void File(const std::string& manifestUrl, const FeedManifest& manifest, const FeedEntry& entry) {
    if (entry.isFolder) return;
    ++report_.files;
    Sha256 whole;
    bool complete = true;
    std::vector<unsigned char> bytes(FEED_CHUNK_MAX);
    for (std::size_t i = 0; i < entry.chunkCount; ++i) {
      const FeedChunk& chunk = manifest.chunks[entry.firstChunk + i];
      char url[FEED_CHUNK_PATH_BYTES];
      FeedChunkPath(chunk.sha256, url);
      const bool first = seen_.insert(url).second;
      report_.chunks += first ? 1 : 0;
      const auto stored = ReadHostFile(FeedPath(feed_, url), compressBound(FEED_CHUNK_MAX) + 64);
      const char* reason = "missing, not a plain file, or larger than any chunk";
      if (!stored || !FeedOpenChunk(reinterpret_cast<const unsigned char*>(stored->data()), stored->size(),
                                    chunk.sha256, static_cast<std::size_t>(chunk.size), bytes.data(), &reason)) {
        if (bad_.insert(url).second) Problem("bad chunk  " + std::string(url) + ": " + reason);
        complete = false;
        continue;
      }
      whole.Add(bytes.data(), static_cast<std::size_t>(chunk.size));
    }
    if (complete && std::memcmp(whole.Finish().data(), entry.sha256, 32) != 0) {
      Problem("bad file  " + std::string(entry.path) + " in " + manifestUrl +
              ": its chunks do not hash to its SHA-256");
    }
  }

  const std::string& feed_;
  const PublicKey& key_;
  FeedReport& report_;
  std::set<std::string> checked_;  // manifests
  std::set<std::string> seen_;     // chunks
  std::set<std::string> bad_;      // chunks already reported
  std::set<std::string> ranges_;   // pack ranges checked
  std::set<std::string> badPacks_;  // packs already reported
};

}  // namespace

FeedReport VerifyFeed(const std::string& feed, const PublicKey& key) {
  FeedReport report;
  if (KindOf(feed) != EntryKind::Folder) {
    report.problems.push_back("not a folder  " + feed);
    return report;
  }
  FindLinks(feed, std::string(), report.problems);
  std::vector<HostEntry> channels;
  if (KindOf(HostJoin(feed, "channels")) != EntryKind::Folder || !ListHostFolder(HostJoin(feed, "channels"), channels)) {
    report.problems.push_back("missing  channels: no channel index in the feed");
    return report;
  }
  std::set<std::string> names;
  for (const HostEntry& entry : channels) {
    const std::size_t dot = entry.name.size() > 6 ? entry.name.size() - 6 : 0;
    if (entry.kind == EntryKind::File && dot > 0 && entry.name.compare(dot, 6, ".index") == 0) names.insert(entry.name);
  }
  Checker checker(feed, key, report);
  for (const std::string& name : names) checker.Channel(name);
  if (report.channels == 0 && names.empty()) report.problems.push_back("missing  channels: no channel index in the feed");
  if (report.problems.empty()) {
    std::string error;
    FeedUse use = FindUnneeded(feed, key, error);
    report.orphans = std::move(use.unneeded);
    report.orphanBytes = use.unneededBytes;
  }
  return report;
}

}  // namespace packer
