#include "packer/feed_packs.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "feed/feed_store.h"
#include "packer/feed_folder.h"
#include "packer/files.h"

namespace packer {

namespace {

using Digest = std::array<std::uint8_t, 32>;

std::string ChunkUrl(const unsigned char sha256[32]) {
  char url[FEED_CHUNK_PATH_BYTES];
  FeedChunkPath(sha256, url);
  return url;
}

std::string PackUrl(long x, long y) {
  char url[FEED_PACK_PATH_BYTES];
  FeedPackPath(x, y, url);
  return url;
}

std::optional<std::string> ReadChunkFile(const std::string& feed, const unsigned char sha256[32]) {
  return ReadHostFile(FeedPath(feed, ChunkUrl(sha256)), FEED_PACKED_CHUNK_MAX);
}

bool PackOrder(const FeedPackedChunk& a, const FeedPackedChunk& b) {
  const int order = FeedCompareVersions(a.packX, a.packY, b.packX, b.packY);
  return order != 0 ? order < 0 : a.offset < b.offset;
}

// Where the earlier versions' lists put each of `wanted`: the first place,
// oldest list first, whose pack bytes check out. A list that does not read
// locates nothing, nor does an entry whose pack bytes do not check out.
std::map<Digest, FeedPackedChunk> LocateInEarlierPacks(const std::string& feed, long x, long y,
                                                       const std::vector<Digest>& wanted, const PublicKey& key) {
  std::vector<HostEntry> entries;
  std::vector<std::pair<long, long>> earlier;
  if (!ListHostFolder(FeedPath(feed, "versions"), entries)) return {};
  for (const HostEntry& entry : entries) {
    const std::size_t stem = entry.name.size() > 6 ? entry.name.size() - 6 : 0;
    long listX = 0, listY = 0;
    if (entry.kind == EntryKind::File && stem > 0 && entry.name.compare(stem, 6, ".packs") == 0 &&
        FeedParseVersion(entry.name.data(), stem, &listX, &listY) && FeedCompareVersions(listX, listY, x, y) < 0) {
      earlier.emplace_back(listX, listY);
    }
  }
  std::sort(earlier.begin(), earlier.end());
  std::map<Digest, FeedPackedChunk> located;
  for (const auto& [listX, listY] : earlier) {
    OwnedPacks list;
    if (!ReadPackList(feed, listX, listY, key, list).empty()) continue;
    for (std::size_t i = 0; i < list.value.count; ++i) {
      const FeedPackedChunk& chunk = list.value.chunks[i];
      Digest name{};
      std::memcpy(name.data(), chunk.sha256, 32);
      if (located.count(name) || !std::binary_search(wanted.begin(), wanted.end(), name)) continue;
      if (PackRangeProblem(feed, chunk).empty()) located[name] = chunk;
    }
  }
  return located;
}

// Whether an existing pack already holds exactly these chunks (a publish
// stopped before its list was written): later lists may point into it, so
// it is kept, never rewritten.
bool PackHolds(const std::string& feed, const std::vector<FeedPackedChunk>& fresh) {
  return std::all_of(fresh.begin(), fresh.end(),
                     [&feed](const FeedPackedChunk& chunk) { return PackRangeProblem(feed, chunk).empty(); });
}

// The pack's bytes: each chunk file, checked to be the size it was planned at.
FeedFileWriter PackWriter(const std::string& feed, const std::vector<FeedPackedChunk>& fresh) {
  return [&feed, &fresh](std::FILE* file, std::string& error) {
    for (const FeedPackedChunk& chunk : fresh) {
      const auto bytes = ReadChunkFile(feed, chunk.sha256);
      if (!bytes || bytes->size() != chunk.size) {
        error = ChunkUrl(chunk.sha256) + " changed while it was being packed";
        return false;
      }
      if (std::fwrite(bytes->data(), 1, bytes->size(), file) != bytes->size()) {
        error = "cannot write " + PackUrl(chunk.packX, chunk.packY) + kPartialSuffix + " (is the disk full?)";
        return false;
      }
    }
    return true;
  };
}

}  // namespace

std::string PackRangeProblem(const std::string& feed, const FeedPackedChunk& chunk) {
  const auto stored = ReadChunkFile(feed, chunk.sha256);
  if (!stored) return ChunkUrl(chunk.sha256) + " cannot be read";
  const auto bytes = chunk.size <= FEED_PACKED_CHUNK_MAX
                         ? ReadHostFileRange(FeedPath(feed, PackUrl(chunk.packX, chunk.packY)), chunk.offset,
                                             static_cast<std::size_t>(chunk.size))
                         : std::nullopt;
  if (!bytes) return "missing, or it ends before byte " + std::to_string(chunk.offset + chunk.size);
  if (*bytes != *stored) {
    return "its " + std::to_string(chunk.size) + " bytes at byte " + std::to_string(chunk.offset) +
           " are not those of " + ChunkUrl(chunk.sha256);
  }
  return std::string();
}

std::string ReadPackList(const std::string& feed, long x, long y, const PublicKey& key, OwnedPacks& list) {
  char url[FEED_PACKS_PATH_BYTES];
  FeedPacksPath(x, y, url);
  const auto text = ReadHostFile(FeedPath(feed, url), FEED_MAX_PACKS);
  if (!text) return "missing, not a plain file, or larger than any list";
  const char* reason = "";
  if (!FeedReadPacks(text->data(), text->size(), key.data(), &list.value, &reason)) return reason;
  if (list.value.x != x || list.value.y != y) return "it names another version";
  return std::string();
}

bool WritePacks(const std::string& feed, long x, long y, const std::vector<Digest>& chunks, const KeyPair& key,
                PackResult& result, std::string& error) {
  result = PackResult();
  {
    OwnedPacks own;
    if (ReadPackList(feed, x, y, key.publicKey, own).empty()) return true;
  }
  std::vector<Digest> wanted = chunks;
  std::sort(wanted.begin(), wanted.end());
  const auto located = LocateInEarlierPacks(feed, x, y, wanted, key.publicKey);
  std::vector<FeedPackedChunk> listed;
  std::vector<FeedPackedChunk> fresh;
  for (const Digest& name : chunks) {
    const auto earlier = located.find(name);
    if (earlier != located.end()) {
      listed.push_back(earlier->second);
      continue;
    }
    const auto bytes = ReadChunkFile(feed, name.data());
    if (!bytes) {
      error = "cannot read " + ChunkUrl(name.data());
      return false;
    }
    FeedPackedChunk chunk{};
    std::memcpy(chunk.sha256, name.data(), 32);
    chunk.packX = x;
    chunk.packY = y;
    chunk.offset = result.packBytes;
    chunk.size = bytes->size();
    result.packBytes += chunk.size;
    fresh.push_back(chunk);
  }
  result.packedChunks = fresh.size();

  const std::string packPath = FeedPath(feed, PackUrl(x, y));
  if (!fresh.empty() && KindOf(packPath) != EntryKind::Missing && !PackHolds(feed, fresh)) {
    error = packPath + " already holds other bytes; the feed is left as it is";
    return false;
  }
  if (!fresh.empty() && KindOf(packPath) == EntryKind::Missing &&
      !WriteFeedFileWith(packPath, PackWriter(feed, fresh), false, error)) {
    return false;
  }

  listed.insert(listed.end(), fresh.begin(), fresh.end());
  std::sort(listed.begin(), listed.end(), PackOrder);
  FeedPacks packs{};
  packs.x = x;
  packs.y = y;
  packs.chunks = listed.data();
  packs.count = listed.size();
  OwnedText text;
  if (!FeedWritePacks(&packs, key.seed.data(), &text.value) || text.value.size > FEED_MAX_PACKS) {
    error = "cannot write the pack list (out of memory, or more chunks than a list holds)";
    return false;
  }
  char listUrl[FEED_PACKS_PATH_BYTES];
  FeedPacksPath(x, y, listUrl);
  result.written = true;
  return WriteFeedFile(FeedPath(feed, listUrl), TextBytes(text.value), true, error);
}

}  // namespace packer
