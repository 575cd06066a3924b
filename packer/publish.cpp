#include "packer/publish.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "feed/feed_chunker.h"
#include "feed/feed_envelope.h"
#include "feed/feed_index.h"
#include "feed/feed_manifest.h"
#include "feed/feed_store.h"
#include "packer/cores.h"
#include "packer/feed_folder.h"
#include "packer/feed_packs.h"
#include "packer/feed_prune.h"
#include "packer/files.h"
#include "packer/names.h"
#include "packer/sha256.h"
#include "packer/signature.h"
#include "rules/rungame_rules.h"

namespace packer {

namespace {

using Digest = std::array<std::uint8_t, 32>;

struct PlannedFile {
  std::string path;
  bool isFolder = false;
  std::uint64_t size = 0;
  Digest sha256{};
  std::vector<FeedChunk> chunks;
};

// Reads a file through a buffer that always holds a whole chunk's reach.
class ChunkReader {
 public:
  explicit ChunkReader(HostFile file) : file_(std::move(file)), buffer_(2 * FEED_CHUNK_MAX) {}
  // The next `size` bytes, or the chunker's next chunk when `size` is 0; an
  // empty result at the end. `failed` on a read error.
  [[nodiscard]] std::pair<const unsigned char*, std::size_t> Next(const FeedChunker& chunker, std::size_t size) {
    if (end_ - start_ < FEED_CHUNK_MAX && !eof_) Fill();
    const std::size_t available = end_ - start_;
    const std::size_t length =
        size != 0 ? std::min(size, available) : FeedChunkLength(&chunker, buffer_.data() + start_, available);
    const unsigned char* at = buffer_.data() + start_;
    start_ += length;
    return {at, length};
  }
  bool failed() const { return failed_; }

 private:
  void Fill() {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
    while (end_ < buffer_.size() && !eof_) {
      const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_.Get());
      end_ += got;
      if (got == 0) {
        eof_ = true;
        failed_ = std::ferror(file_.Get()) != 0;
      }
    }
  }
  HostFile file_;
  std::vector<unsigned char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

// Tells `progress` of `done` bytes every few MiB, and at the end of a file.
class Told {
 public:
  Told(const PublishProgress& progress, const char* step, std::uint64_t total)
      : progress_(progress), step_(step), total_(total) {}
  void Add(std::uint64_t bytes, bool fileEnds = false) {
    done_ += bytes;
    if (progress_ && (fileEnds || done_ - told_ >= (4u << 20))) {
      told_ = done_;
      progress_(step_, done_, total_);
    }
  }

 private:
  const PublishProgress& progress_;
  const char* step_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::uint64_t told_ = 0;
};

// Cuts a release file into chunks and hashes it.
bool ChunkFile(const std::string& path, const FeedChunker& chunker, PlannedFile& file, Told& told, std::string& error) {
  HostFile handle = OpenHostFile(path, "rb");
  if (!handle) {
    error = "cannot read " + path;
    return false;
  }
  ChunkReader reader(std::move(handle));
  Sha256 whole;
  for (;;) {
    const auto piece = reader.Next(chunker, 0);
    if (piece.second == 0) break;
    FeedChunk chunk{};
    chunk.size = piece.second;
    Sha256Digest(piece.first, piece.second, chunk.sha256);
    whole.Add(piece.first, piece.second);
    file.size += piece.second;
    file.chunks.push_back(chunk);
    told.Add(piece.second);
  }
  told.Add(0, true);
  file.sha256 = whole.Finish();
  if (reader.failed()) error = "cannot read " + path;
  return !reader.failed();
}

// A folder of the feed, made when missing: never a link or a file there.
bool MakeFeedFolder(const std::string& path, std::string& error) {
  if (KindOf(path) == EntryKind::Missing && !MakeHostFolder(path)) {
    error = "cannot create the folder " + path;
    return false;
  }
  if (KindOf(path) != EntryKind::Folder) {
    error = path + " is not a real folder (a link or a file); the feed is left as it is";
    return false;
  }
  return true;
}

bool CheckFeedFolders(const std::string& feed, std::string& error) {
  for (const char* level : {"", "channels", "versions", "chunks", "packs"}) {
    if (!MakeFeedFolder(*level ? HostJoin(feed, level) : feed, error)) return false;
  }
  return true;
}

// A chunk as the feed stores it, one zlib stream into `packed` (room for
// compressBound of the chunk): deflated, or stored where a sample of its
// start shows that deflating does not pay (packed media, which deflate
// slowly to no gain). Any zlib reader takes either.
bool DeflateChunk(const unsigned char* bytes, std::size_t size, unsigned char* packed, uLongf& packedSize) {
  constexpr std::size_t kSample = 16 * 1024;
  const std::size_t sample = std::min(size, kSample);
  int level = Z_DEFAULT_COMPRESSION;
  if (sample == kSample) {
    uLongf sampleSize = packedSize;
    if (compress2(packed, &sampleSize, bytes, static_cast<uLong>(sample), 1) != Z_OK) return false;
    if (sampleSize > sample - sample / 32) level = Z_NO_COMPRESSION;
  }
  const uLongf room = packedSize;
  if (compress2(packed, &packedSize, bytes, static_cast<uLong>(size), level) != Z_OK) return false;
  if (level != Z_NO_COMPRESSION && packedSize > size) {
    packedSize = room;
    return compress2(packed, &packedSize, bytes, static_cast<uLong>(size), Z_NO_COMPRESSION) == Z_OK;
  }
  return true;
}

// A chunk the feed lacks, read from the release, and where it goes.
struct PendingChunk {
  std::string target;
  std::string bytes;
  std::string of;  // the release file, for a refusal
  uLongf packedSize = 0;
  std::string error;
};

// Deflates and writes the pending chunks on every core; the first failure
// in order is the refusal (the chunks written before it are no fault: no
// index lists them yet).
bool WritePending(std::vector<PendingChunk>& pending, PublishSummary& summary, std::string& error) {
  ForEachOnCores(pending.size(), [&pending](std::size_t i) {
    PendingChunk& chunk = pending[i];
    std::vector<unsigned char> packed(compressBound(static_cast<uLong>(chunk.bytes.size())));
    uLongf packedSize = static_cast<uLongf>(packed.size());
    if (!DeflateChunk(reinterpret_cast<const unsigned char*>(chunk.bytes.data()), chunk.bytes.size(), packed.data(),
                      packedSize)) {
      chunk.error = "zlib cannot compress a chunk of " + chunk.of;
    } else if (WriteFeedFile(chunk.target, std::string(reinterpret_cast<const char*>(packed.data()), packedSize), false,
                             chunk.error)) {
      chunk.packedSize = packedSize;
    }
  });
  for (const PendingChunk& chunk : pending) {
    if (!chunk.error.empty()) {
      error = chunk.error;
      return false;
    }
    ++summary.newChunks;
    summary.newChunkBytes += chunk.packedSize;
  }
  pending.clear();
  return true;
}

// Stores the chunks the feed lacks of every file, read again from the
// release (a file that changed since it was chunked is refused), a batch at
// a time deflated and written on every core.
bool StoreChunks(const std::string& release, const std::vector<PlannedFile>& files, const std::string& feed,
                 PublishSummary& summary, const PublishProgress& progress, std::string& error) {
  constexpr std::size_t kBatchBytes = 32u * 1024u * 1024u;
  Told told(progress, "stored", summary.releaseBytes);
  std::set<std::string> stored;
  std::vector<PendingChunk> pending;
  std::size_t pendingBytes = 0;
  for (const PlannedFile& file : files) {
    if (file.isFolder) continue;
    const std::string path = HostJoin(release, file.path);
    HostFile handle = OpenHostFile(path, "rb");
    if (!handle) {
      error = "cannot read " + path;
      return false;
    }
    ChunkReader reader(std::move(handle));
    const FeedChunker unused{};
    for (const FeedChunk& chunk : file.chunks) {
      const auto piece = reader.Next(unused, static_cast<std::size_t>(chunk.size));
      Digest digest{};
      if (piece.second == chunk.size) Sha256Digest(piece.first, piece.second, digest.data());
      if (piece.second != chunk.size || std::memcmp(digest.data(), chunk.sha256, 32) != 0) {
        error = path + " changed while it was being published";
        return false;
      }
      told.Add(piece.second);
      char url[FEED_CHUNK_PATH_BYTES];
      FeedChunkPath(chunk.sha256, url);
      if (!stored.insert(url).second) continue;
      const std::string target = FeedPath(feed, url);
      const EntryKind kind = KindOf(target);
      if (kind == EntryKind::File) continue;  // never rewritten: its name is its content
      if (kind != EntryKind::Missing) {
        error = target + " is not a plain file";
        return false;
      }
      if (!MakeFeedFolder(target.substr(0, target.size() - 65), error)) return false;
      PendingChunk next;
      next.target = target;
      next.bytes.assign(reinterpret_cast<const char*>(piece.first), piece.second);
      next.of = path;
      pending.push_back(std::move(next));
      pendingBytes += piece.second;
      if (pendingBytes >= kBatchBytes) {
        if (!WritePending(pending, summary, error)) return false;
        pendingBytes = 0;
      }
    }
  }
  return WritePending(pending, summary, error);
}

// The release listed and chunked.
bool PlanFiles(const std::string& release, std::vector<PlannedFile>& files, PublishSummary& summary,
               const PublishProgress& progress, std::string& error) {
  Told told(progress, "chunked", 0);
  const ReleaseTree tree = ListRelease(release);
  if (!tree.problems.empty()) {
    error = "the release holds " + tree.problems.front();
    return false;
  }
  FeedChunker chunker;
  FeedChunkerInit(&chunker);
  std::set<std::string> distinct;
  for (const ReleaseEntry& entry : tree.entries) {
    if (!rungame_is_installable_path(entry.path.c_str(), entry.isFolder ? 1 : 0)) {
      error = "the release holds " + entry.path + ", a path the launcher would not install as it is";
      return false;
    }
    PlannedFile file;
    file.path = entry.path;
    file.isFolder = entry.isFolder;
    if (!entry.isFolder && !ChunkFile(HostJoin(release, entry.path), chunker, file, told, error)) return false;
    for (const FeedChunk& chunk : file.chunks) distinct.insert(std::string(reinterpret_cast<const char*>(chunk.sha256), 32));
    summary.files += entry.isFolder ? 0 : 1;
    summary.releaseBytes += file.size;
    files.push_back(std::move(file));
  }
  summary.chunks = distinct.size();
  return true;
}

std::string SignedManifest(const std::vector<PlannedFile>& files, const Version& version, const KeyPair& key,
                           std::string& error) {
  std::vector<FeedEntry> entries;
  std::vector<FeedChunk> chunks;
  for (const PlannedFile& file : files) {
    FeedEntry entry{};
    entry.path = file.path.c_str();
    entry.isFolder = file.isFolder ? 1 : 0;
    entry.size = file.size;
    std::memcpy(entry.sha256, file.sha256.data(), 32);
    entry.firstChunk = chunks.size();
    entry.chunkCount = file.chunks.size();
    chunks.insert(chunks.end(), file.chunks.begin(), file.chunks.end());
    entries.push_back(entry);
  }
  FeedManifest manifest{};
  manifest.x = version.x;
  manifest.y = version.y;
  manifest.entries = entries.data();
  manifest.count = entries.size();
  manifest.chunks = chunks.data();
  manifest.chunkCount = chunks.size();
  OwnedText text;
  const char* reason = "";
  if (!FeedWriteManifest(&manifest, key.seed.data(), &text.value, &reason)) {
    error = std::string("cannot write the manifest: ") + reason;
    return std::string();
  }
  if (text.value.size > FEED_MAX_MANIFEST) {
    error = "the release lists more files and chunks than a manifest holds";
    return std::string();
  }
  return TextBytes(text.value);
}

// The release's distinct chunks in the order they first appear in its
// manifest: the order its pack holds them in.
std::vector<Digest> DistinctChunks(const std::vector<PlannedFile>& files) {
  std::set<Digest> seen;
  std::vector<Digest> chunks;
  for (const PlannedFile& file : files) {
    for (const FeedChunk& chunk : file.chunks) {
      Digest name{};
      std::memcpy(name.data(), chunk.sha256, 32);
      if (seen.insert(name).second) chunks.push_back(name);
    }
  }
  return chunks;
}

// The version's pack and list, unless its list is there already (`listWritten` false).
[[nodiscard]] bool Pack(const std::string& feed, const Version& version, const std::vector<PlannedFile>& files,
                        const KeyPair& key, PublishSummary& summary, bool& listWritten, std::string& error) {
  PackResult packed;
  if (!WritePacks(feed, version.x, version.y, DistinctChunks(files), key, packed, error)) return false;
  summary.packedChunks = packed.packedChunks;
  summary.packBytes = packed.packBytes;
  listWritten = packed.written;
  return true;
}

std::string VersionText(long x, long y) { return std::to_string(x) + "." + std::to_string(y); }

// The step from a published version's files to the release's, as the
// launcher's update manifest: every file new or changed, every folder new
// or above such a file, and the removal of every file and folder the
// release lacks (but one it holds in another letter case or kind, which
// stays).
Manifest UpgradeManifest(const FeedManifest& before, const std::vector<PlannedFile>& files, const std::string& from,
                         const std::string& to, const std::string& marker) {
  std::map<std::string, const FeedEntry*> had;
  for (std::size_t i = 0; i < before.count; ++i) had[before.entries[i].path] = &before.entries[i];
  const auto changed = [&had](const PlannedFile& file) {
    const auto it = had.find(file.path);
    return it == had.end() || it->second->isFolder || it->second->size != file.size ||
           std::memcmp(it->second->sha256, file.sha256.data(), 32) != 0;
  };
  std::set<std::string> above;
  for (const PlannedFile& file : files) {
    if (file.isFolder || !changed(file)) continue;
    for (std::string folder = ParentPath(file.path); !folder.empty(); folder = ParentPath(folder)) above.insert(folder);
  }
  Manifest manifest{from, to, marker, {}, {}};
  for (const PlannedFile& file : files) {
    if (file.isFolder ? had.count(file.path) == 0 || above.count(file.path) > 0 : changed(file)) {
      manifest.entries.push_back(ManifestEntry{file.isFolder, file.size,
                                               file.isFolder ? std::string() : BytesToHex(file.sha256.data(), 32),
                                               file.path});
    }
  }
  std::set<std::string> kept;
  for (const PlannedFile& file : files) kept.insert(FoldCase(file.path));
  std::vector<ManifestEntry> folders;
  for (std::size_t i = 0; i < before.count; ++i) {
    const FeedEntry& entry = before.entries[i];
    if (kept.count(FoldCase(entry.path)) > 0) continue;
    ManifestEntry removal{entry.isFolder != 0, entry.size,
                          entry.isFolder ? std::string() : BytesToHex(entry.sha256, 32), entry.path};
    (entry.isFolder ? folders : manifest.removals).push_back(std::move(removal));
  }
  // A folder after every folder it holds: each is empty by its turn.
  std::sort(folders.begin(), folders.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path > b.path; });
  manifest.removals.insert(manifest.removals.end(), folders.begin(), folders.end());
  return manifest;
}

// A feed file publish derives from what it was given: written where missing.
struct DerivedFile {
  std::string what;  // as a refusal names it
  std::string path;
  std::string bytes;
  // Whether other bytes found at `path` still open as what the key signed
  // there: another channel's, or damaged (cut, changed, not signed).
  std::function<bool(const std::string&)> opens;
};

// The manifest of version `version`, signed by `key`.
std::function<bool(const std::string&)> OpensAsManifest(const Version& version, const PublicKey& key) {
  return [version, key](const std::string& bytes) {
    OwnedManifest opened;
    const char* reason = nullptr;
    return FeedReadManifest(bytes.data(), bytes.size(), key.data(), &opened.value, &reason) &&
           opened.value.x == version.x && opened.value.y == version.y;
  };
}

// The marker of the step `from` to `to`, signed by `key`.
std::function<bool(const std::string&)> OpensAsMarker(const std::string& from, const std::string& to,
                                                      const PublicKey& key) {
  return [from, to, key](const std::string& bytes) {
    std::string reason;
    const auto opened = OpenSignedManifest(bytes, key, reason);
    return opened && opened->from == from && opened->to == to;
  };
}

// The signed update markers for the steps from the first `steps` versions
// of the channel's index to the release, so a launcher built with the key
// installs what a game downloads. None when the release names no marker of
// its own. Signing is deterministic: the same release over the same earlier
// manifests gives the same bytes. An earlier manifest that cannot be read
// refuses the publish, or with `skipUnreadable` leaves that step out.
bool PlanUpgradeMarkers(const std::string& feed, const std::string& release, const FeedIndex& index,
                        std::size_t steps, const std::vector<PlannedFile>& files, const Version& version,
                        const KeyPair& key, bool skipUnreadable, std::vector<DerivedFile>& markers,
                        std::string& error) {
  const std::string marker = ReadReleaseSetting(release, "update_semaphore");
  if (!rungame_is_plain_marker_name(marker.c_str())) return true;
  for (std::size_t i = 0; i < steps; ++i) {
    const FeedVersion& step = index.versions[i];
    char manifestUrl[FEED_VERSION_PATH_BYTES];
    FeedManifestPath(step.x, step.y, manifestUrl);
    const auto text = ReadHostFile(FeedPath(feed, manifestUrl), FEED_MAX_MANIFEST);
    OwnedManifest before;
    const char* reason = "missing or not a plain file";
    if (!text || !FeedReadManifest(text->data(), text->size(), key.publicKey.data(), &before.value, &reason)) {
      if (skipUnreadable) continue;
      error = std::string(manifestUrl) + ": " + reason + "; nothing published";
      return false;
    }
    const std::string from = VersionText(step.x, step.y);
    const std::string to = VersionText(version.x, version.y);
    char markerUrl[FEED_UPGRADE_PATH_BYTES];
    FeedUpgradeMarkerPath(version.x, version.y, step.x, step.y, markerUrl);
    markers.push_back(DerivedFile{"the signed update marker of the step from " + from + " to " + to,
                                  FeedPath(feed, markerUrl),
                                  SignManifest(UpgradeManifest(before.value, files, from, to, marker), key),
                                  OpensAsMarker(from, to, key.publicKey)});
  }
  return true;
}

// A version the channel lists with this very content, as its `listedAt`th
// version: publishing it again writes back what the feed has lost since
// (chunks, the pack and its list, the manifest, the markers of the steps to
// it) and nothing that is there. A damaged one (it no longer opens as what
// the key signed there) is replaced; one of other content that does is left
// alone, since another channel may list the version with it. The marker of a
// step from a version whose manifest the feed lost as well waits until that
// version is published again.
bool RestorePublished(const std::string& release, const std::string& feed, const std::vector<PlannedFile>& files,
                      const Version& version, const std::string& manifestPath, const std::string& manifest,
                      const FeedIndex& index, std::size_t listedAt, const KeyPair& key, PublishSummary& summary,
                      const PublishProgress& progress, std::string& error) {
  summary.republished = true;
  std::vector<DerivedFile> derived{{"the manifest the channel lists for version " + VersionText(version.x, version.y),
                                    manifestPath, manifest, OpensAsManifest(version, key.publicKey)}};
  if (!PlanUpgradeMarkers(feed, release, index, listedAt, files, version, key, true, derived, error)) return false;
  std::vector<const DerivedFile*> lost;
  for (const DerivedFile& file : derived) {
    const EntryKind kind = KindOf(file.path);
    const auto there = kind == EntryKind::File ? ReadHostFile(file.path, FEED_MAX_MANIFEST) : std::nullopt;
    if (kind == EntryKind::Missing || (there && *there != file.bytes && !file.opens(*there))) {
      lost.push_back(&file);
    } else if (!there || *there != file.bytes) {
      error = file.path + " is not " + file.what +
              "; nothing published (remove it, and publishing again writes it back)";
      return false;
    }
  }
  if (!StoreChunks(release, files, feed, summary, progress, error)) return false;
  // Published before feeds had packs, it gains its pack and list.
  if (!Pack(feed, version, files, key, summary, summary.packsAdded, error)) return false;
  for (const DerivedFile* file : lost) {
    if (!WriteFeedFile(file->path, file->bytes, KindOf(file->path) == EntryKind::File, error)) return false;
    if (file == &derived.front()) {
      summary.manifestRestored = true;
    } else {
      ++summary.markersRestored;
    }
  }
  summary.unchanged = !summary.packsAdded && summary.newChunks == 0 && lost.empty();
  return true;
}

}  // namespace

bool Publish(const std::string& release, const std::string& feed, const std::string& channel, const KeyPair& key,
             PublishSummary& summary, std::string& error, const PublishProgress& progress) {
  summary = PublishSummary();
  char indexUrl[FEED_INDEX_PATH_BYTES];
  if (!FeedIndexPath(channel.c_str(), indexUrl)) {
    error = "\"" + channel + "\" is no channel name (1 to 32 of a-z, 0-9, '-' and '_')";
    return false;
  }
  if (KindOf(release) != EntryKind::Folder) {
    error = release + " is not a folder";
    return false;
  }
  const std::string releaseAt = CanonicalHostPath(release);
  const std::string feedAt = CanonicalHostPath(feed);
  if (feedAt.empty() || IsSameOrBelow(feedAt, releaseAt) || IsSameOrBelow(releaseAt, feedAt)) {
    error = "the feed and the release must lie apart, neither inside the other";
    return false;
  }
  const auto version = ReadReleaseVersion(release);
  if (!version || version->x < 0 || version->y < 0) {
    error = "the release has no properties\\version.xml with a version the feed can list (x and y from 0)";
    return false;
  }
  summary.version = *version;
  if (!CheckFeedFolders(feed, error)) return false;
  const HostLock lock(HostJoin(feed, kFeedLockName));
  if (!lock.Held()) {
    error = "another publish or prune holds " + HostJoin(feed, kFeedLockName);
    return false;
  }

  // The channel's index as it stands, which only this key may have signed.
  const std::string indexPath = FeedPath(feed, indexUrl);
  OwnedIndex existing;
  if (KindOf(indexPath) != EntryKind::Missing) {
    std::string reason;
    if (!ReadSignedFeedFile(indexPath, FEED_MAX_INDEX, key.publicKey, FeedReadIndex, existing, reason)) {
      error = indexPath + ": " + reason + "; nothing published";
      return false;
    }
  }

  std::vector<PlannedFile> files;
  if (!PlanFiles(release, files, summary, progress, error)) return false;
  const std::string manifest = SignedManifest(files, *version, key, error);
  if (manifest.empty()) return false;
  FeedVersion listed{};
  listed.x = version->x;
  listed.y = version->y;
  listed.manifestSize = manifest.size();
  Sha256Digest(manifest.data(), manifest.size(), listed.manifestSha256);

  char manifestUrl[FEED_VERSION_PATH_BYTES];
  FeedManifestPath(version->x, version->y, manifestUrl);
  const std::string manifestPath = FeedPath(feed, manifestUrl);
  const std::string name = VersionText(version->x, version->y);
  const FeedIndex& index = existing.value;
  for (std::size_t i = 0; i < index.count; ++i) {
    const FeedVersion& other = index.versions[i];
    if (FeedCompareVersions(other.x, other.y, version->x, version->y) != 0) continue;
    if (other.manifestSize != listed.manifestSize ||
        std::memcmp(other.manifestSha256, listed.manifestSha256, 32) != 0) {
      error = "version " + name + " is already published to channel " + channel +
              " with other content; give the release a new version";
      return false;
    }
    return RestorePublished(release, feed, files, *version, manifestPath, manifest, index, i, key, summary, progress,
                            error);
  }
  if (index.count > 0) {
    const FeedVersion& newest = index.versions[index.count - 1];
    if (FeedCompareVersions(newest.x, newest.y, version->x, version->y) >= 0) {
      error = "version " + name + " is not newer than " + VersionText(newest.x, newest.y) + ", the newest in channel " +
              channel + "; nothing published";
      return false;
    }
  }
  const EntryKind manifestKind = KindOf(manifestPath);
  const bool manifestThere = manifestKind == EntryKind::File && ReadHostFile(manifestPath, FEED_MAX_MANIFEST) == manifest;
  if (manifestKind != EntryKind::Missing && !manifestThere) {
    error = manifestPath + " already holds other content for version " + name +
            " (published to another channel from another release); give the release a new version";
    return false;
  }

  std::vector<DerivedFile> markers;
  if (!PlanUpgradeMarkers(feed, release, index, index.count, files, *version, key, false, markers, error)) {
    return false;
  }
  if (!StoreChunks(release, files, feed, summary, progress, error)) return false;
  bool listWritten = false;
  if (!Pack(feed, *version, files, key, summary, listWritten, error)) return false;
  if (!manifestThere && !WriteFeedFile(manifestPath, manifest, false, error)) return false;
  for (const DerivedFile& marker : markers) {
    if (!WriteFeedFile(marker.path, marker.bytes, true, error)) return false;
    ++summary.upgradeMarkers;
  }

  std::vector<FeedVersion> versions(index.versions, index.versions + index.count);
  versions.push_back(listed);
  FeedIndex next{};
  std::memcpy(next.channel, channel.c_str(), channel.size() + 1);
  next.versions = versions.data();
  next.count = versions.size();
  OwnedText text;
  if (!FeedWriteIndex(&next, key.seed.data(), &text.value) || text.value.size > FEED_MAX_INDEX) {
    error = "cannot write the index (out of memory, or more versions than an index holds)";
    return false;
  }
  return WriteFeedFile(indexPath, TextBytes(text.value), true, error);
}

}  // namespace packer
