// The feed's readers against malformed and forged input: every row must be
// refused, with its own reason.
#include <gtest/gtest.h>
#include <sodium.h>
#include <zlib.h>

#include <functional>

#include "feed/feed_envelope.h"
#include "feed/feed_index.h"
#include "feed/feed_manifest.h"
#include "feed/feed_packs.h"
#include "feed/feed_store.h"
#include "packer/signature.h"
#include "rungame_format.h"
#include "tests/feed/feed_support.h"

namespace {

using feed_testing::Signed;
using feed_testing::TestKey;

const std::string kHash(64, 'a');
// SHA-256 of "hello".
const std::string kHello = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

const std::string kIndexBody = "channel stable\nversion 1.0 100 " + kHash + "\nversion 1.1 200 " + kHash + "\n";
const std::string kManifestBody = "version 1.1\nchunking gear 16384 65536 262144\nfolder data\nfile 5 " + kHello +
                                  " 1 data\\a.bin\nchunk 5 " + kHello + "\nfile 0 " + kHash + " 0 game.dll\n";

const std::string kPacksBody = "version 1.1\nchunk " + kHash + " 1.0 0 100\nchunk " + kHello + " 1.1 0 50\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

enum class Kind { Index, Manifest, Packs };

// The reason the reader gives, "" when it takes the text.
std::string Read(Kind kind, const std::string& text) {
  const packer::KeyPair key = TestKey();
  const char* reason = "";
  int read;
  if (kind == Kind::Index) {
    FeedIndex index{};
    read = FeedReadIndex(text.data(), text.size(), key.publicKey.data(), &index, &reason);
    FeedFreeIndex(&index);
  } else if (kind == Kind::Packs) {
    FeedPacks packs{};
    read = FeedReadPacks(text.data(), text.size(), key.publicKey.data(), &packs, &reason);
    FeedFreePacks(&packs);
  } else {
    FeedManifest manifest{};
    read = FeedReadManifest(text.data(), text.size(), key.publicKey.data(), &manifest, &reason);
    FeedFreeManifest(&manifest);
  }
  return read ? std::string() : std::string(reason);
}

std::string SignedIndex(const std::string& body) { return Signed(FEED_INDEX_HEADER, body, TestKey()); }
std::string SignedManifest(const std::string& body) { return Signed(FEED_MANIFEST_HEADER, body, TestKey()); }
std::string SignedPacks(const std::string& body) { return Signed(FEED_PACKS_HEADER, body, TestKey()); }

// `text` with a signature line, whatever its key line says.
std::string SignedAsIs(const std::string& text) {
  FeedText out{};
  FeedTextAppend(&out, text.data(), text.size());
  EXPECT_TRUE(FeedEndSigned(&out, TestKey().seed.data()));
  const std::string result(out.data, out.size);
  FeedTextFree(&out);
  return result;
}

struct Row {
  const char* name;
  Kind kind;
  std::function<std::string()> text;
  const char* reason;
};

TEST(FeedReaders, TakeTheWellFormedTexts) {
  EXPECT_EQ("", Read(Kind::Index, SignedIndex(kIndexBody)));
  EXPECT_EQ("", Read(Kind::Manifest, SignedManifest(kManifestBody)));
  EXPECT_EQ("", Read(Kind::Packs, SignedPacks(kPacksBody)));
  // Ranges that touch, and the largest chunk a pack may hold.
  EXPECT_EQ("", Read(Kind::Packs, SignedPacks(kPacksBody + "chunk " + kHash + " 1.1 50 " +
                                              std::to_string(FEED_PACKED_CHUNK_MAX) + "\n")));
}

TEST(FeedReaders, RefuseEveryMalformedOrForgedText) {
  const std::string index = SignedIndex(kIndexBody);
  const std::string manifest = SignedManifest(kManifestBody);
  const std::vector<Row> rows = {
      {"a manifest for an index", Kind::Index, [&] { return manifest; }, "first line differs"},
      {"changed manifest", Kind::Manifest, [&] { return Replace(manifest, "data\\a.bin", "data\\b.bin"); },
       "not signed"},
      // The index's body, signed.
      {"no channel", Kind::Index, [&] { return SignedIndex(kIndexBody.substr(kIndexBody.find('\n') + 1)); },
       "\"channel\""},
      {"upper-case channel", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "stable", "Stable")); },
       "\"channel\""},
      {"no version", Kind::Index, [&] { return SignedIndex("channel stable\n"); }, "no version"},
      {"versions out of order", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "1.0 ", "1.2 ")); },
       "not in order"},
      {"a version twice", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "1.0 ", "1.1 ")); },
       "not in order"},
      {"a leading zero", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "1.0 ", "01.0 ")); },
       "malformed version"},
      {"upper-case hex", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "aaaa", "AAAA")); },
       "malformed version"},
      {"no size", Kind::Index, [&] { return SignedIndex(Replace(kIndexBody, "100 ", "")); }, "malformed version"},
      {"unknown line", Kind::Index, [&] { return SignedIndex(kIndexBody + "mirror x\n"); }, "unknown line"},
      // The manifest's body, signed.
      {"no version line", Kind::Manifest,
       [&] { return SignedManifest(kManifestBody.substr(kManifestBody.find('\n') + 1)); }, "\"version X.Y\""},
      {"other chunking", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "65536", "8192")); },
       "another rule"},
      {"fewer chunks", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, " 1 data", " 2 data")); },
       "fewer chunks"},
      {"a huge chunk count", Kind::Manifest,
       [&] { return SignedManifest(Replace(kManifestBody, " 1 data", " 999999999 data")); }, "fewer chunks"},
      {"more chunks", Kind::Manifest,
       [&] { return SignedManifest(Replace(kManifestBody, "chunk 5 " + kHello, "chunk 5 " + kHello + "\nchunk 5 " + kHello)); },
       "more chunks"},
      {"sizes not adding up", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "file 5", "file 6")); },
       "add up"},
      {"an empty chunk", Kind::Manifest,
       [&] { return SignedManifest(Replace(Replace(kManifestBody, "file 5", "file 0"), "chunk 5", "chunk 0")); },
       "malformed chunk"},
      {"an oversized chunk", Kind::Manifest,
       [&] { return SignedManifest(Replace(Replace(kManifestBody, "file 5", "file 262145"), "chunk 5", "chunk 262145")); },
       "malformed chunk"},
      {"a short chunk inside a file", Kind::Manifest,
       [&] {
         return SignedManifest(Replace(Replace(kManifestBody, "file 5 ", "file 10 "), " 1 data\\a.bin\n",
                                       " 2 data\\a.bin\nchunk 5 " + kHello + "\n"));
       },
       "shorter than the chunker"},
      {"a path climbing out", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "data\\a.bin", "data\\..")); },
       "would not install"},
      {"a device name", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "game.dll", "nul.txt")); },
       "would not install"},
      {"unsorted", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "game.dll", "a.dll")); },
       "not sorted"},
      {"a path twice", Kind::Manifest, [&] { return SignedManifest(kManifestBody + "file 0 " + kHash + " 0 game.dll\n"); },
       "not sorted"},
      {"a folder not listed", Kind::Manifest, [&] { return SignedManifest(Replace(kManifestBody, "folder data\n", "")); },
       "not listed"},
      {"a file line without path", Kind::Manifest,
       [&] { return SignedManifest(Replace(kManifestBody, " 0 game.dll", " 0")); }, "malformed file"},
      // The pack list's body, signed.
      {"packs: another key", Kind::Packs, [&] { return Signed(FEED_PACKS_HEADER, kPacksBody, TestKey(7)); },
       "not signed"},
      {"packs: no version line", Kind::Packs, [&] { return SignedPacks(Replace(kPacksBody, "version 1.1\n", "")); },
       "no \"version\" line"},
      {"packs: a chunk line without size", Kind::Packs, [&] { return SignedPacks(Replace(kPacksBody, " 0 100", " 0")); },
       "malformed chunk"},
      {"packs: a short name", Kind::Packs, [&] { return SignedPacks(Replace(kPacksBody, kHash, "aaaa")); },
       "malformed chunk"},
      {"packs: a trailing field", Kind::Packs, [&] { return SignedPacks(Replace(kPacksBody, " 0 100", " 0 100 7")); },
       "malformed chunk"},
      {"packs: newer pack first", Kind::Packs,
       [&] { return SignedPacks("version 1.1\nchunk " + kHello + " 1.1 0 50\nchunk " + kHash + " 1.0 0 100\n"); },
       "out of order"},
      {"packs: offsets out of order", Kind::Packs,
       [&] { return SignedPacks(kPacksBody + "chunk " + kHash + " 1.1 50 10\nchunk " + kHash + " 1.1 40 5\n"); },
       "out of order"},
      {"packs: overlapping ranges", Kind::Packs,
       [&] { return SignedPacks(kPacksBody + "chunk " + kHash + " 1.1 49 10\n"); }, "overlap"},
      {"packs: a pack newer than the version", Kind::Packs,
       [&] { return SignedPacks(Replace(kPacksBody, " 1.1 0 50", " 1.2 0 50")); }, "newer than the version"},
      {"packs: a chunk of 0 bytes", Kind::Packs, [&] { return SignedPacks(Replace(kPacksBody, " 0 50", " 0 0")); },
       "out of order"},
      {"packs: a chunk over the most a pack holds", Kind::Packs,
       [&] { return SignedPacks(Replace(kPacksBody, " 0 50", " 0 " + std::to_string(FEED_PACKED_CHUNK_MAX + 1))); },
       "out of order"},
      {"packs: an unknown line", Kind::Packs, [&] { return SignedPacks(kPacksBody + "mirror x\n"); }, "unknown line"},
      {"a chunk outside a file", Kind::Manifest, [&] { return SignedManifest(kManifestBody + "chunk 5 " + kHello + "\n"); },
       "more chunks"},
  };
  for (const Row& row : rows) {
    const std::string reason = Read(row.kind, row.text());
    EXPECT_NE(std::string::npos, reason.find(row.reason)) << row.name << ": \"" << reason << "\"";
  }
}

// The signed envelope has one reader: the feed's index and the launcher's
// signed update marker (through the packer, whose verdict is the
// launcher's) refuse each fault of it alike, with the same reason.
TEST(FeedReaders, EveryReaderRefusesEveryFaultOfTheEnvelope) {
  struct Signer {
    const char* header;
    std::string body;
    std::size_t limit;
    std::function<std::string(const std::string&)> read;
  };
  const packer::KeyPair key = TestKey();
  const Signer signers[] = {
      {FEED_INDEX_HEADER, kIndexBody, FEED_MAX_INDEX, [](const std::string& text) { return Read(Kind::Index, text); }},
      {RUNGAME_SIGNED_HEADER, "rungame-update-manifest 1\nfrom 1.0\nto 1.1\nmarker update.ready\n",
       RUNGAME_SIGNED_MAX_MARKER, [&key](const std::string& text) {
         std::string error;
         return packer::OpenSignedManifest(text, key.publicKey, error) ? std::string() : error;
       }}};
  for (const Signer& signer : signers) {
    SCOPED_TRACE(signer.header);
    const std::string good = Signed(signer.header, signer.body, key);
    const std::string other = kHash.substr(0, 16);
    const std::vector<std::pair<std::string, const char*>> rows = {
        {Replace(good, signer.body.substr(0, 12), signer.body.substr(0, 11) + "x"), "not signed"},
        {Signed(signer.header, signer.body, TestKey(7)), "not signed"},
        {good.substr(0, good.size() - 1), "cut short"},
        {good.substr(0, good.find("signature ")), "signature line"},
        {Replace(good, "signature ", "signature X"), "signature line"},
        {good.substr(0, good.size() - 2) + "A\n", "signature line"},
        {std::string("other-header 1") + good.substr(good.find('\n')), "first line differs"},
        {good + std::string(signer.limit, '\n'), "larger"},
        {SignedAsIs(std::string(signer.header) + "\nkey " + other + "\n" + signer.body), "key line"},
        {Signed(signer.header, Replace(signer.body, "\n", "\r\n"), key), "carriage return"},
        {Signed(signer.header, signer.body + std::string(1, '\0') + "\n", key), "NUL"},
    };
    EXPECT_EQ("", signer.read(good));
    for (const auto& [text, reason] : rows) {
      const std::string said = signer.read(text);
      EXPECT_NE(std::string::npos, said.find(reason)) << reason << ": \"" << said << "\"";
    }
  }
}

// A stored chunk: one zlib stream of exactly its listed bytes, hashing to its name.
TEST(FeedReaders, RefuseEveryDamagedChunk) {
  const std::string hello = "hello";
  const auto pack = [](const std::string& bytes) {
    std::string packed(compressBound(static_cast<uLong>(bytes.size())), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    compress2(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
              static_cast<uLong>(bytes.size()), 9);
    packed.resize(size);
    return packed;
  };
  unsigned char name[32];
  crypto_hash_sha256(name, reinterpret_cast<const unsigned char*>(hello.data()), hello.size());
  struct ChunkRow {
    const char* name;
    std::string stored;
    std::size_t size;
    const char* reason;  // "" when taken
  };
  const std::string packed = pack(hello);
  const std::vector<ChunkRow> rows = {
      {"intact", packed, 5, ""},
      {"longer than listed", pack("hello!"), 5, "longer"},
      {"shorter than listed", pack("hell"), 5, "shorter"},
      {"other bytes", pack("jello"), 5, "do not hash"},
      {"cut short", packed.substr(0, packed.size() - 3), 5, "not one whole"},
      {"not zlib", hello, 5, "not one whole"},
      {"bytes after the stream", packed + "x", 5, "bytes follow"},
      {"empty", std::string(), 5, "not one whole"},
  };
  for (const ChunkRow& row : rows) {
    std::vector<unsigned char> out(row.size + 1, 0xEE);
    const char* reason = "";
    const int opened = FeedOpenChunk(reinterpret_cast<const unsigned char*>(row.stored.data()), row.stored.size(), name,
                                     row.size, out.data(), &reason);
    EXPECT_EQ(std::string(row.reason).empty(), opened != 0) << row.name << ": " << reason;
    if (!opened) {
      EXPECT_NE(std::string::npos, std::string(reason).find(row.reason)) << row.name << ": " << reason;
    }
    EXPECT_EQ(0xEE, out[row.size]) << row.name << ": written past its size";
  }
}

}  // namespace
