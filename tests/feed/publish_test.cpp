// publish and verify of a feed folder, end to end through the command line.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <tuple>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include <zlib.h>

#include "feed/feed_chunker.h"
#include "feed/feed_manifest.h"
#include "feed/feed_packs.h"
#include "feed/feed_store.h"
#include "packer/files.h"
#include "packer/publish.h"
#include "tests/feed/feed_support.h"
#include "tests/packer/packer_support.h"

namespace {

using feed_testing::GameBytes;
using feed_testing::MakeLink;
using feed_testing::Release;
using packer_testing::CliResult;
using packer_testing::RunCli;

// One test's folders: its keys, its releases and its feed.
// Every entry below `folder`, links not followed, sorted: path -> kind. Through
// the packer's own listing, which takes paths of any length (the iterator of
// std::filesystem does not, under Wine).
std::map<std::string, packer::EntryKind> ListTree(const std::string& folder) {
  std::map<std::string, packer::EntryKind> tree;
  std::vector<packer::HostEntry> entries;
  EXPECT_TRUE(packer::ListHostFolder(folder, entries)) << folder;
  for (const packer::HostEntry& entry : entries) {
    const std::string path = folder + "/" + entry.name;
    tree[path] = entry.kind;
    if (entry.IsFolder()) tree.merge(ListTree(path));
  }
  return tree;
}

struct Bench {
  std::string root = packer_testing::FreshFolder();
  std::string feed = root + "/feed";
  std::pair<std::string, std::string> key = feed_testing::WriteTestKey(root);

  CliResult Publish(const packer_testing::Tree& release, const std::string& name, std::vector<std::string> extra = {}) {
    const std::string folder = root + "/" + name;
    if (packer::KindOf(folder) == packer::EntryKind::Missing) packer_testing::WriteTree(folder, release);
    std::vector<std::string> arguments = {"publish", folder, feed, "--key", key.first};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunCli(arguments);
  }
  CliResult Verify(const std::string& publicKey) { return RunCli({"verify", feed, "--public-key", publicKey}); }
  CliResult Verify() { return Verify(key.second); }
  std::string Chunk(std::size_t n) const {
    std::size_t seen = 0;
    for (const auto& [path, kind] : ListTree(feed + "/chunks")) {
      if (kind == packer::EntryKind::File && seen++ == n) return path;
    }
    return std::string();
  }
};

std::string Slurp(const std::string& path) { return packer::ReadHostFile(path, 1u << 26).value_or(std::string()); }
void Spill(const std::string& path, const std::string& bytes) {
  packer::HostFile file = packer::OpenHostFile(path, "wb");
  ASSERT_TRUE(file) << path;
  ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), file.Get()));
  ASSERT_TRUE(file.Close());
}

// 1.0's pack list, its body signed anew with a key not the feed's.
void ResignPackListWithAnotherKey(Bench& b) {
  const std::string text = Slurp(b.feed + "/versions/1.0.packs");
  const std::size_t body = text.find("\nversion ") + 1;
  Spill(b.feed + "/versions/1.0.packs", feed_testing::Signed(FEED_PACKS_HEADER,
                                                             text.substr(body, text.find("signature ") - body),
                                                             feed_testing::TestKey(9)));
}

// Every file and link below `feed`, links not followed: path -> bytes.
std::map<std::string, std::string> Snapshot(const std::string& feed) {
  std::map<std::string, std::string> files;
  for (const auto& [path, kind] : ListTree(feed)) {
    if (kind == packer::EntryKind::File) {
      files[path] = Slurp(path);
    } else if (kind != packer::EntryKind::Folder) {
      files[path] = "not a plain file";
    }
  }
  return files;
}

// A version's pack list read with the test key: chunk name (raw) -> place.
std::map<std::string, FeedPackedChunk> PackList(const std::string& feed, const std::string& version) {
  const std::string text = Slurp(feed + "/versions/" + version + ".packs");
  FeedPacks packs{};
  const char* reason = "";
  EXPECT_TRUE(FeedReadPacks(text.data(), text.size(), feed_testing::TestKey().publicKey.data(), &packs, &reason))
      << version << ": " << reason;
  std::map<std::string, FeedPackedChunk> located;
  for (std::size_t i = 0; i < packs.count; ++i) {
    located[std::string(reinterpret_cast<const char*>(packs.chunks[i].sha256), 32)] = packs.chunks[i];
  }
  FeedFreePacks(&packs);
  return located;
}

// A version's distinct chunk names (raw), in the order its manifest first lists them.
std::vector<std::string> ManifestChunks(const std::string& feed, const std::string& version) {
  const std::string text = Slurp(feed + "/versions/" + version + ".manifest");
  FeedManifest manifest{};
  const char* reason = "";
  EXPECT_TRUE(FeedReadManifest(text.data(), text.size(), feed_testing::TestKey().publicKey.data(), &manifest, &reason))
      << version << ": " << reason;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < manifest.chunkCount; ++i) {
    const std::string name(reinterpret_cast<const char*>(manifest.chunks[i].sha256), 32);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  FeedFreeManifest(&manifest);
  return names;
}

std::string ChunkFile(const std::string& feed, const std::string& name) {
  char url[FEED_CHUNK_PATH_BYTES];
  FeedChunkPath(reinterpret_cast<const unsigned char*>(name.data()), url);
  return Slurp(feed + "/" + url);
}

const packer_testing::Tree kSmall = Release(0, {{"levels\\one.dat", GameBytes(600 * 1024, 1)}, {"empty.txt", ""}});

// Every chunk file is one zlib stream: deflated smaller, or stored with no
// more than the stored blocks' framing (zlib's own choice of blocks when
// deflating bytes that do not shrink frames every 16 KiB or so, and costs
// a publish most of its time).
void ExpectDeflatedOrStored(const std::string& feed) {
  std::vector<unsigned char> bytes(FEED_CHUNK_MAX);
  int deflated = 0, stored = 0;
  for (const auto& [path, kind] : ListTree(feed + "/chunks")) {
    if (kind != packer::EntryKind::File) continue;
    const std::string packed = Slurp(path);
    uLongf size = static_cast<uLongf>(bytes.size());
    ASSERT_EQ(Z_OK, uncompress(bytes.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                               static_cast<uLong>(packed.size()))) << path;
    if (packed.size() < size) {
      ++deflated;
    } else {
      ++stored;
      EXPECT_LE(packed.size(), size + 6 + 5 * ((size + 65534) / 65535)) << path;
    }
  }
  EXPECT_GT(deflated, 0);
  EXPECT_GT(stored, 0);
}

TEST(FeedPublish, APublishedReleaseVerifiesIntact) {
  Bench bench;
  std::mt19937 random(7);
  std::string noise(700 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xff);
  packer_testing::Tree release = kSmall;
  packer_testing::AddFile(release, "media\\noise.bin", noise);
  const CliResult published = bench.Publish(release, "r10");
  ASSERT_EQ(0, published.exitCode) << published.err;
  ExpectDeflatedOrStored(bench.feed);
  EXPECT_NE(std::string::npos, published.out.find("published 1.0 to channel stable")) << published.out;
  const CliResult verified = bench.Verify();
  EXPECT_EQ(0, verified.exitCode) << verified.out << verified.err;
  EXPECT_NE(std::string::npos, verified.out.find("intact")) << verified.out;
  const auto files = Snapshot(bench.feed);
  EXPECT_EQ(1u, files.count(bench.feed + "/packs/1.0.pack"));
  EXPECT_EQ(1u, files.count(bench.feed + "/versions/1.0.packs"));
  // The key given as its hex digits does as well.
  EXPECT_EQ(0, bench.Verify(packer::PublicKeyHex(feed_testing::TestKey().publicKey)).exitCode);
}

TEST(FeedPublish, PublishingTheSameReleaseAgainChangesNothing) {
  Bench bench;
  ASSERT_EQ(0, bench.Publish(kSmall, "r10").exitCode);
  const auto before = Snapshot(bench.feed);
  const CliResult again = bench.Publish(kSmall, "r10");
  EXPECT_EQ(0, again.exitCode) << again.err;
  EXPECT_NE(std::string::npos, again.out.find("nothing changed")) << again.out;
  EXPECT_TRUE(before == Snapshot(bench.feed));
}

TEST(FeedPublish, VersionsShareTheirUnchangedChunksAndListInOrder) {
  Bench bench;
  const std::string big = GameBytes(4 * 1024 * 1024, 2);
  ASSERT_EQ(0, bench.Publish(Release(0, {{"big.dat", big}, {"small.dat", "one"}}), "r10").exitCode);
  const std::size_t first = Snapshot(bench.feed).size();
  const CliResult second = bench.Publish(Release(1, {{"big.dat", big}, {"small.dat", "two"}}), "r11");
  ASSERT_EQ(0, second.exitCode) << second.err;
  // game.xml is the same, version.xml and small.dat changed: 2 chunks, the
  // pack of those two and its list, a manifest, and the signed marker of the
  // step from 1.0 listing just those.
  EXPECT_EQ(first + 6, Snapshot(bench.feed).size()) << second.out;
  const std::string step = Slurp(bench.feed + "/versions/1.1.from-1.0.marker");
  EXPECT_NE(std::string::npos, step.find("\nfrom 1.0\nto 1.1\nmarker update.ready\n")) << step;
  EXPECT_NE(std::string::npos, step.find(" small.dat\n")) << step;
  EXPECT_NE(std::string::npos, step.find(" properties\\version.xml\n")) << step;
  EXPECT_EQ(std::string::npos, step.find("big.dat")) << step;
  const std::string index = Slurp(bench.feed + "/channels/stable.index");
  EXPECT_LT(index.find("version 1.0 "), index.find("version 1.1 ")) << index;
  EXPECT_EQ(0, bench.Verify().exitCode);
}

// Each version's list locates every one of its chunks, at its chunk file's
// very bytes; its own pack holds, back to back and in manifest order, only
// the chunks no earlier pack holds.
TEST(FeedPublish, PackListsLocateEveryChunkAndALaterPackHoldsOnlyNewOnes) {
  Bench bench;
  const std::string big = GameBytes(4 * 1024 * 1024, 2);
  ASSERT_EQ(0, bench.Publish(Release(0, {{"big.dat", big}, {"small.dat", "one"}}), "r10").exitCode);
  packer_testing::WriteTree(bench.root + "/r11", Release(1, {{"big.dat", big + GameBytes(300 * 1024, 5)}}));
  packer::PublishSummary summary;
  std::string error;
  ASSERT_TRUE(packer::Publish(bench.root + "/r11", bench.feed, "stable", feed_testing::TestKey(), summary, error))
      << error;
  EXPECT_EQ(summary.newChunks, summary.packedChunks);
  EXPECT_GE(summary.packedChunks, 2u);
  const auto before = ManifestChunks(bench.feed, "1.0");
  for (const std::string version : {"1.0", "1.1"}) {
    SCOPED_TRACE(version);
    const auto located = PackList(bench.feed, version);
    const auto chunks = ManifestChunks(bench.feed, version);
    EXPECT_EQ(chunks.size(), located.size());
    std::map<std::string, std::string> packs;
    std::uint64_t own = 0;  // bytes of its own pack so far
    for (const std::string& name : chunks) {
      const auto at = located.find(name);
      ASSERT_NE(located.end(), at);
      const std::string pack = std::to_string(at->second.packX) + "." + std::to_string(at->second.packY);
      if (!packs.count(pack)) packs[pack] = Slurp(bench.feed + "/packs/" + pack + ".pack");
      EXPECT_EQ(ChunkFile(bench.feed, name), packs[pack].substr(at->second.offset, at->second.size));
      const bool earlier = std::find(before.begin(), before.end(), name) != before.end();
      EXPECT_EQ(version == "1.0" || !earlier, pack == version);
      if (pack != version) continue;
      EXPECT_EQ(own, at->second.offset);
      own += at->second.size;
    }
    EXPECT_EQ(own, Slurp(bench.feed + "/packs/" + version + ".pack").size());
  }
  EXPECT_EQ(0, bench.Verify().exitCode);
}

// An earlier list that does not read, or whose pack does not hold the
// chunk's bytes, locates nothing: the next version packs those chunks anew.
TEST(FeedPublish, PacksAnewWhatNoSoundEarlierListLocates) {
  const std::vector<std::tuple<const char*, std::function<void(Bench&)>, bool>> rows = {
      {"the list missing", [](Bench& b) { std::filesystem::remove(b.feed + "/versions/1.0.packs"); }, true},
      {"the list signed by another key",
       ResignPackListWithAnotherKey,
       true},
      {"the pack missing", [](Bench& b) { std::filesystem::remove(b.feed + "/packs/1.0.pack"); }, true},
      {"one byte of the pack changed",
       [](Bench& b) {
         std::string bytes = Slurp(b.feed + "/packs/1.0.pack");
         bytes[bytes.size() / 2] ^= 0x20;
         Spill(b.feed + "/packs/1.0.pack", bytes);
       },
       false},
  };
  for (const auto& [name, fault, all] : rows) {
    SCOPED_TRACE(name);
    Bench bench;
    ASSERT_EQ(0, bench.Publish(kSmall, "r10").exitCode);
    fault(bench);
    packer_testing::WriteTree(bench.root + "/r11", Release(1, {{"levels\\one.dat", GameBytes(600 * 1024, 1)}}));
    packer::PublishSummary summary;
    std::string error;
    ASSERT_TRUE(packer::Publish(bench.root + "/r11", bench.feed, "stable", feed_testing::TestKey(), summary, error))
        << error;
    EXPECT_EQ(all ? summary.chunks : summary.newChunks + 1, summary.packedChunks);
    EXPECT_EQ(summary.chunks, PackList(bench.feed, "1.1").size());
  }
}

// 1.1 published over 1.0: what the feed then loses of 1.1, publishing 1.1
// again writes back, the very bytes the first publish wrote, and nothing
// else. A manifest or marker of other content is left alone.
TEST(FeedPublish, RepublishingWritesBackWhatTheFeedLost) {
  const packer_testing::Tree next = Release(1, {{"levels\\one.dat", GameBytes(600 * 1024, 1)},
                                                {"levels\\two.dat", GameBytes(200 * 1024, 3)}});
  const auto publishBoth = [&next](Bench& bench) {
    EXPECT_EQ(0, bench.Publish(kSmall, "r10").exitCode);
    const auto before = Snapshot(bench.feed);
    EXPECT_EQ(0, bench.Publish(next, "r11").exitCode);
    auto added = Snapshot(bench.feed);
    for (const auto& file : before) added.erase(file.first);
    return added;
  };
  const std::string v11 = "/versions/1.1";
  const std::vector<std::tuple<const char*, std::vector<std::string>, const char*>> rows = {
      {"the pack and its list", {v11 + ".packs", "/packs/1.1.pack"}, "; added its pack list"},
      {"the manifest", {v11 + ".manifest"}, "; wrote back its manifest\n"},
      {"the step's marker", {v11 + ".from-1.0.marker"}, "; wrote back 1 update marker\n"},
      {"a chunk", {"/chunks/"}, "; wrote back 1 lost chunk\n"},
  };
  for (const auto& [lost, paths, said] : rows) {
    SCOPED_TRACE(lost);
    Bench bench;
    const auto added = publishBoth(bench);
    const auto published = Snapshot(bench.feed);
    for (const std::string& path : paths) {
      const auto file = std::find_if(added.begin(), added.end(),
                                     [&](const auto& entry) { return entry.first.find(path) != std::string::npos; });
      ASSERT_NE(added.end(), file) << path;
      std::filesystem::remove(file->first);
    }
    const CliResult again = bench.Publish(next, "r11");
    EXPECT_EQ(0, again.exitCode) << again.err;
    EXPECT_NE(std::string::npos, again.out.find(said)) << again.out;
    EXPECT_TRUE(published == Snapshot(bench.feed));
    EXPECT_NE(std::string::npos, bench.Publish(next, "r11").out.find("nothing changed"));
  }
  // A marker whose earlier version lost its manifest as well waits for that
  // version to be published again.
  Bench bench;
  publishBoth(bench);
  const auto published = Snapshot(bench.feed);
  std::filesystem::remove(bench.feed + "/versions/1.0.manifest");
  std::filesystem::remove(bench.feed + v11 + ".from-1.0.marker");
  EXPECT_NE(std::string::npos, bench.Publish(next, "r11").out.find("nothing changed"));
  EXPECT_NE(std::string::npos, bench.Publish(kSmall, "r10").out.find("wrote back its manifest"));
  EXPECT_NE(std::string::npos, bench.Publish(next, "r11").out.find("wrote back 1 update marker"));
  EXPECT_TRUE(published == Snapshot(bench.feed));

  // A damaged manifest or marker is written back; one another release of
  // 1.1 signed with the same key (another channel's) is left alone.
  Bench otherRelease = bench;
  otherRelease.feed = bench.root + "/other-feed";
  otherRelease.Publish(kSmall, "r10");
  otherRelease.Publish(Release(1, {{"levels\\one.dat", GameBytes(1000, 5)}}), "other11");
  for (const std::string& spoilt : {v11 + ".manifest", v11 + ".from-1.0.marker"}) {
    const std::string sound = Slurp(bench.feed + spoilt);
    for (const std::string& damage : {std::string("other"), sound.substr(0, sound.size() - 9)}) {
      Spill(bench.feed + spoilt, damage);
      const CliResult again = bench.Publish(next, "r11");
      EXPECT_EQ(0, again.exitCode) << again.err;
      EXPECT_NE(std::string::npos, again.out.find("wrote back")) << again.out;
      EXPECT_TRUE(published == Snapshot(bench.feed)) << spoilt;
    }
    Spill(bench.feed + spoilt, Slurp(otherRelease.feed + spoilt));
    const auto before = Snapshot(bench.feed);
    const CliResult refused = bench.Publish(next, "r11");
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_NE(std::string::npos, refused.err.find(spoilt.find("marker") != std::string::npos
                                                      ? "is not the signed update marker of the step from 1.0 to 1.1"
                                                      : "is not the manifest the channel lists for version 1.1"))
        << refused.err;
    EXPECT_TRUE(before == Snapshot(bench.feed));
    Spill(bench.feed + spoilt, sound);
  }
}

TEST(FeedPublish, RefusesAVersionNotNewerAndLeavesTheFeedAsItWas) {
  Bench bench;
  ASSERT_EQ(0, bench.Publish(Release(1, {}), "r11").exitCode);
  const auto before = Snapshot(bench.feed);
  const CliResult older = bench.Publish(Release(0, {}), "r10");
  EXPECT_EQ(1, older.exitCode);
  EXPECT_NE(std::string::npos, older.err.find("1.0 is not newer than 1.1, the newest in channel stable")) << older.err;
  const CliResult changed = bench.Publish(Release(1, {{"new.dat", "x"}}), "r11b");
  EXPECT_EQ(1, changed.exitCode);
  EXPECT_NE(std::string::npos, changed.err.find("already published")) << changed.err;
  // Another channel takes it, as long as it is the very same release.
  EXPECT_EQ(0, bench.Publish(Release(1, {}), "r11", {"--channel", "beta"}).exitCode);
  EXPECT_EQ(1, bench.Publish(Release(1, {{"new.dat", "x"}}), "r11b", {"--channel", "gamma"}).exitCode);
  auto after = Snapshot(bench.feed);
  EXPECT_EQ(1u, after.erase(bench.feed + "/channels/beta.index"));  // the beta index alone
  EXPECT_TRUE(before == after);
}

TEST(FeedPublish, RefusesAFeedItCannotTrust) {
  const std::vector<std::pair<const char*, std::function<void(Bench&)>>> rows = {
      {"an index signed by another key",
       [](Bench& bench) { bench.key = feed_testing::WriteTestKey(bench.root, 9); }},
      {"a chunk store that is a link",
       [](Bench& bench) {
         std::filesystem::rename(bench.feed + "/chunks", bench.root + "/elsewhere");
         ASSERT_TRUE(MakeLink(bench.feed + "/chunks", std::filesystem::absolute(bench.root + "/elsewhere").string()));
       }},
      {"every free chunk folder a link",
       [](Bench& bench) {
         std::filesystem::create_directory(bench.root + "/elsewhere");
         for (int i = 0; i < 256; ++i) {
           char name[3];
           std::snprintf(name, sizeof name, "%02x", i);
           const std::string folder = bench.feed + "/chunks/" + name;
           if (!std::filesystem::exists(folder)) {
             ASSERT_TRUE(MakeLink(folder, std::filesystem::absolute(bench.root + "/elsewhere").string()));
           }
         }
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    Bench bench;
    ASSERT_EQ(0, bench.Publish(Release(0, {}), "r10").exitCode);
    row.second(bench);
    const auto before = Snapshot(bench.feed);
    const CliResult refused = bench.Publish(Release(1, {{"new.dat", "x"}}), "r11");
    EXPECT_EQ(1, refused.exitCode) << refused.out;
    EXPECT_TRUE(before == Snapshot(bench.feed)) << refused.err;
    feed_testing::RemoveLinkedTree(bench.root);  // the next row's fresh folder cannot go through links
  }
}

#ifndef _WIN32
// A disk that fills up half-way: the file-size limit makes every write past
// 64 KiB fail, as a full disk does. The feed stays the one published before.
TEST(FeedPublish, AFullDiskLeavesTheFeedAsItWas) {
  Bench bench;
  ASSERT_EQ(0, bench.Publish(kSmall, "r10").exitCode);
  const auto before = Snapshot(bench.feed);
  packer_testing::WriteTree(bench.root + "/r11",
                            Release(1, {{"big.dat", packer_testing::Incompressible(1024 * 1024, 7)}}));
  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  const CliResult refused = bench.Publish(packer_testing::Tree(), "r11");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, handler);
  EXPECT_EQ(1, refused.exitCode) << refused.out;
  EXPECT_NE(std::string::npos, refused.err.find("is the disk full?")) << refused.err;
  // Nothing the index lists changed, and nothing half-written is left.
  auto after = Snapshot(bench.feed);
  for (auto entry = after.begin(); entry != after.end();) {
    EXPECT_EQ(std::string::npos, entry->first.find("partial")) << entry->first;
    entry = before.count(entry->first) ? std::next(entry) : after.erase(entry);
  }
  EXPECT_TRUE(before == after);
  EXPECT_EQ(0, bench.Verify().exitCode);
}
#endif

TEST(FeedVerify, NamesEveryFault) {
  const std::vector<std::tuple<const char*, std::function<void(Bench&)>, const char*>> rows = {
      {"a chunk missing", [](Bench& b) { std::filesystem::remove(b.Chunk(0)); }, "bad chunk"},
      {"a chunk damaged",
       [](Bench& b) {
         std::string bytes = Slurp(b.Chunk(1));
         bytes[bytes.size() / 2] ^= 0x20;
         Spill(b.Chunk(1), bytes);
       },
       "bad chunk"},
      {"a chunk with another's bytes", [](Bench& b) { Spill(b.Chunk(2), Slurp(b.Chunk(3))); }, "bad chunk"},
#ifndef _WIN32
      // Wine shows a unix link to a file as the file itself: native runs only.
      {"a chunk that is a link",
       [](Bench& b) {
         const std::string chunk = b.Chunk(0);
         std::filesystem::rename(chunk, b.root + "/moved");
         ASSERT_TRUE(MakeLink(chunk, std::filesystem::absolute(b.root + "/moved").string()));
       },
       "a link"},
#endif
      {"a manifest changed",
       [](Bench& b) { Spill(b.feed + "/versions/1.0.manifest", Slurp(b.feed + "/versions/1.0.manifest") + "\n"); },
       "not the manifest"},
      {"a manifest missing", [](Bench& b) { std::filesystem::remove(b.feed + "/versions/1.0.manifest"); }, "missing"},
      {"an index changed",
       [](Bench& b) {
         std::string index = Slurp(b.feed + "/channels/stable.index");
         index.replace(index.find("stable"), 6, "stabl2");
         Spill(b.feed + "/channels/stable.index", index);
       },
       "not signed with this key"},
      {"another key", [](Bench& b) { b.key = feed_testing::WriteTestKey(b.root, 9); }, "not signed with this key"},
      {"no index", [](Bench& b) { std::filesystem::remove(b.feed + "/channels/stable.index"); }, "no channel index"},
      {"a step's marker changed",
       [](Bench& b) {
         ASSERT_EQ(0, b.Publish(Release(1, {{"levels\\one.dat", "new"}}), "r11").exitCode);
         const std::string marker = b.feed + "/versions/1.1.from-1.0.marker";
         Spill(marker, Slurp(marker).replace(0, 1, "R"));
       },
       "bad marker"},
      {"a pack's bytes changed",
       [](Bench& b) {
         std::string bytes = Slurp(b.feed + "/packs/1.0.pack");
         bytes[bytes.size() / 3] ^= 0x20;
         Spill(b.feed + "/packs/1.0.pack", bytes);
       },
       "bad pack  packs/1.0.pack: its "},
      {"a pack missing", [](Bench& b) { std::filesystem::remove(b.feed + "/packs/1.0.pack"); },
       "bad pack  packs/1.0.pack: missing"},
      {"a pack list signed by another key",
       ResignPackListWithAnotherKey,
       "bad pack list  versions/1.0.packs: not signed"},
      {"a pack list of another version",
       [](Bench& b) {
         ASSERT_EQ(0, b.Publish(Release(1, {{"levels\\one.dat", "new"}}), "r11").exitCode);
         Spill(b.feed + "/versions/1.0.packs", Slurp(b.feed + "/versions/1.1.packs"));
       },
       "bad pack list  versions/1.0.packs: it names another version"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::get<0>(row));
    Bench bench;
    ASSERT_EQ(0, bench.Publish(kSmall, "r10").exitCode);
    std::get<1>(row)(bench);
    const CliResult verified = bench.Verify();
    EXPECT_EQ(1, verified.exitCode) << verified.out;
    EXPECT_NE(std::string::npos, verified.out.find(std::get<2>(row))) << verified.out;
  }
}

// A large file with 1 % of its bytes changed in a few places costs few new chunks.
TEST(FeedPublish, AOnePercentChangeReusesMostChunks) {
  Bench bench;
  const std::size_t size = 32u * 1024 * 1024;
  const std::string before = GameBytes(size, 3);
  std::string after = before;
  const std::size_t places = 4;
  const std::size_t each = size / 100 / places;
  for (std::size_t i = 0; i < places; ++i) {
    // Bytes overwritten in some places, inserted in others: nothing keeps its offset.
    const std::string noise = GameBytes(each, 40 + static_cast<unsigned>(i));
    after.replace(size / places * i + size / 8, i % 2 ? 0 : each, noise);
  }
  ASSERT_EQ(0, bench.Publish(Release(0, {{"data.pak", before}}), "r10").exitCode);
  packer_testing::WriteTree(bench.root + "/r11", Release(1, {{"data.pak", after}}));
  packer::PublishSummary summary;
  std::string error;
  ASSERT_TRUE(packer::Publish(bench.root + "/r11", bench.feed, "stable", feed_testing::TestKey(), summary, error))
      << error;
  const double share = 100.0 * static_cast<double>(summary.newChunks) / static_cast<double>(summary.chunks);
  std::printf("1 %% of a 32 MiB file changed in %zu places: %zu of %zu chunks new (%.1f %%), %zu bytes stored\n",
              places, summary.newChunks, summary.chunks, share, static_cast<std::size_t>(summary.newChunkBytes));
  EXPECT_LE(share, 5.0);
}

}  // namespace

// Prune keeps each channel's newest versions and every file they need (a
// pack an earlier version wrote and a kept list points into, the markers of
// the steps to a kept version from any version, so a player still at a
// dropped one updates), removes the rest and a stopped publish's leftovers,
// and leaves a feed that verifies with no orphan. Nothing moves while
// another publish or prune holds the feed, nor when the feed cannot be read.
TEST(FeedPrune, KeepsWhatTheListedVersionsNeedAndRemovesTheRest) {
  Bench bench;
  const std::string level = GameBytes(300 * 1024, 3);
  const auto release = [&](int minor) {
    std::string changed = level;
    changed[1000] = static_cast<char>(minor);
    return Release(minor, {{"levels\\one.dat", changed}, {"only-" + std::to_string(minor) + ".dat",
                                                            GameBytes(70 * 1024, 10 + minor)}});
  };
  for (int minor = 0; minor < 3; ++minor) {
    ASSERT_EQ(0, bench.Publish(release(minor), "r1." + std::to_string(minor)).exitCode);
  }
  ASSERT_EQ(0, bench.Publish(release(1), "r1.1", {"--channel", "beta"}).exitCode);
  const std::string leftover = bench.feed + "/chunks/00/" + std::string(64, '0');  // a stopped publish's
  std::filesystem::create_directories(bench.feed + "/chunks/00");
  Spill(leftover, "left by a stopped publish");
  const CliResult before = bench.Verify();
  EXPECT_NE(std::string::npos, before.out.find("orphan  chunks/00/" + std::string(64, '0'))) << before.out;
  char onlyIn10[FEED_CHUNK_PATH_BYTES];  // the chunk of 1.0's version file
  FeedChunkPath(reinterpret_cast<const unsigned char*>(ManifestChunks(bench.feed, "1.0").back().data()), onlyIn10);

  const auto prune = [&](const std::string& keep) {
    return RunCli({"prune", bench.feed, "--key", bench.key.first, "--keep", keep});
  };
  {
    const packer::HostLock held(bench.feed + "/packer.lock");
    ASSERT_TRUE(held.Held());
    const auto snapshot = Snapshot(bench.feed);
    EXPECT_EQ(1, prune("1").exitCode) << "the feed is locked";
    EXPECT_EQ(1, bench.Publish(release(3), "r1.3").exitCode) << "the feed is locked";
    EXPECT_EQ(snapshot, Snapshot(bench.feed));
  }
  EXPECT_EQ(2, prune("0").exitCode);
  const CliResult pruned = prune("1");
  ASSERT_EQ(0, pruned.exitCode) << pruned.err;
  EXPECT_NE(std::string::npos, pruned.out.find("2 versions no longer listed")) << pruned.out;

  const auto exists = [&](const std::string& url) {
    return packer::KindOf(bench.feed + "/" + url) != packer::EntryKind::Missing;
  };
  for (const std::string& gone : {std::string("versions/1.0.manifest"), std::string("versions/1.0.packs"),
                                  std::string(onlyIn10), "chunks/00/" + std::string(64, '0')}) {
    EXPECT_FALSE(exists(gone)) << gone;
  }
  for (const char* kept : {"versions/1.1.manifest", "versions/1.1.from-1.0.marker", "versions/1.2.manifest",
                           "versions/1.2.from-1.0.marker", "versions/1.2.from-1.1.marker", "packs/1.0.pack",
                           "packs/1.2.pack"}) {
    EXPECT_TRUE(exists(kept)) << kept;
  }
  const CliResult after = bench.Verify();
  EXPECT_EQ(0, after.exitCode) << after.out;
  EXPECT_EQ(std::string::npos, after.out.find("orphan")) << after.out;
  EXPECT_NE(std::string::npos, after.out.find("2 channels, 2 versions")) << after.out;
  // A feed whose kept manifest cannot be read is left as it is.
  Spill(bench.feed + "/versions/1.2.manifest", "damaged");
  const auto damaged = Snapshot(bench.feed);
  EXPECT_EQ(1, prune("1").exitCode);
  EXPECT_EQ(damaged, Snapshot(bench.feed));
}
