// Unpacking one packed file: the gzip reader's rules for well-formed data,
// and no damaged stream ever replacing the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "tests/support/harness.h"
#include "tests/update/update_support.h"
#include "update/decode.h"
#include "update/decode_ahead.h"
#include "fs/change.h"
#include "fs/pinned_tree.h"
#include "update/unpack.h"
#include "update/update.h"

using namespace testing_support;
using namespace update_testing;

namespace {

// Unpacks into a tree rooted at the output's folder, as the update pass does.
UnpackOutcome UnpackAt(const std::string& packed, const std::string& outputPath) {
  const std::size_t slash = outputPath.find_last_of('\\');
  PinnedTree tree(outputPath.substr(0, slash));
  const std::string output = outputPath.substr(slash + 1);
  const UniqueFileHandle file(
      CreateFileA(packed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return UnpackOutcome::Failed;
  DecodeAhead decoded;
  decoded.Add(file.Get());
  NewFile unpacked(tree);
  const UnpackOutcome outcome = UnpackInto(unpacked, decoded, output);
  if (outcome != UnpackOutcome::Unpacked) return outcome;
  return unpacked.CommitAs(output) ? outcome : UnpackOutcome::Failed;
}

}  // namespace

namespace {

bool DecodeInMemory(const std::string& packed, std::string* out = nullptr) {
  size_t offset = 0;
  const ReadBlock read = [&](unsigned char* buffer, size_t size) -> long {
    const size_t count = std::min(size, packed.size() - offset);
    std::memcpy(buffer, packed.data() + offset, count);
    offset += count;
    return static_cast<long>(count);
  };
  std::string sink;
  const WriteBlock write = [&](const unsigned char* data, size_t size) {
    EXPECT_LE(size, kUnpackBlockSize);
    sink.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  const bool ok = DecodePackedStream(read, write);
  if (out) *out = sink;
  return ok;
}

struct Case {
  const char* name;
  std::string packed;
};

class Unpack : public ::testing::Test {
 protected:
  std::string folder = FreshScratchFolder();
  std::string packed = Join(folder, "asset.bin.zip");
  std::string output = Join(folder, "asset.bin");

  void ExpectRejectedAndOutputKept(const std::string& data, const std::string& what) {
    WriteFile(packed, data);
    EXPECT_EQ(UnpackOutcome::Damaged, UnpackAt(packed, output)) << what;
    EXPECT_EQ("good old content", ReadFile(output)) << what;
    EXPECT_TRUE(FilesEndingWith(folder, kUnpackTemporarySuffix).empty()) << what;
  }
};

}  // namespace

// Well-formed data unpacks to exactly what zlib's own gzip reader reads.
TEST_F(Unpack, WellFormedDataMatchesTheGzipReader) {
  const std::string big = SampleBytes(200000, 7);
  const Case cases[] = {
      {"plain text", "just some bytes, no magic"},
      {"empty file", ""},
      {"lone first magic byte", "\x1f"},
      {"first magic byte then other", "\x1fzz"},
      {"one member", Gzip("hello, world")},
      {"empty member", Gzip("")},
      {"two members", Gzip("first|") + Gzip("second")},
      {"member then zero padding", Gzip("body") + std::string(40000, '\0')},
      {"large member over many blocks", Gzip(big)},
      {"members across block edges", Gzip(big, 0) + Gzip(SampleBytes(40000, 3), 0) + Gzip("end")},
      {"exactly two blocks", Gzip(SampleBytes(65536, 9))},
  };
  for (const Case& c : cases) {
    WriteFile(packed, c.packed);
    const ReaderResult expected = ReadWithGzipReader(packed);
    ASSERT_FALSE(expected.failed) << c.name;
    ASSERT_EQ(UnpackOutcome::Unpacked, UnpackAt(packed, output)) << c.name;
    EXPECT_EQ(expected.data, ReadFile(output)) << c.name;
    EXPECT_TRUE(FilesEndingWith(folder, kUnpackTemporarySuffix).empty()) << c.name;
  }
}

TEST_F(Unpack, ReplacesAnExistingReadOnlyOutput) {
  WriteFile(output, "good old content");
  SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFile(packed, Gzip("fresh"));
  ASSERT_EQ(UnpackOutcome::Unpacked, UnpackAt(packed, output));
  EXPECT_EQ("fresh", ReadFile(output));
}

TEST_F(Unpack, MissingPackedFileFailsAndTouchesNothing) {
  WriteFile(output, "good old content");
  EXPECT_EQ(UnpackOutcome::Failed, UnpackAt(Join(folder, "absent.zip"), output));
  EXPECT_EQ("good old content", ReadFile(output));
}

TEST_F(Unpack, DamagedStreamsNeverReplaceTheOutput) {
  WriteFile(output, "good old content");
  const std::string good = Gzip(SampleBytes(5000));
  std::string corrupt = good;
  for (size_t i = 20; i < 40; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x55);
  std::string badCheck = good;
  badCheck[good.size() - 8] = static_cast<char>(badCheck[good.size() - 8] ^ 1);
  std::string badSize = good;
  badSize[good.size() - 1] = static_cast<char>(badSize[good.size() - 1] ^ 1);
  std::string badHeader = good;
  badHeader[2] = 9;  // no such compression method
  ExpectRejectedAndOutputKept(corrupt, "corrupt data");
  ExpectRejectedAndOutputKept(badCheck, "wrong check value");
  ExpectRejectedAndOutputKept(badSize, "wrong length");
  ExpectRejectedAndOutputKept(badHeader, "rejected header");
  ExpectRejectedAndOutputKept(good + good.substr(0, good.size() - 3), "second member cut short");
  ExpectRejectedAndOutputKept(Gzip("a") + "\x1f\x8b", "second member with only its magic");
}

// Only another whole member or zero padding may follow a member: anything
// else means the file is not what was packed, even where the gzip reader
// stops quietly after the first member.
TEST_F(Unpack, BytesAfterTheLastMemberAreDamage) {
  WriteFile(output, "good old content");
  const std::string member = Gzip("first");
  ExpectRejectedAndOutputKept(member + "trailing junk" + Gzip("second"), "junk between members");
  ExpectRejectedAndOutputKept(member + "\x1f", "a lone magic byte");
  ExpectRejectedAndOutputKept(member + std::string(40000, '\0') + "x", "padding then junk");
  ExpectRejectedAndOutputKept(member + Gzip("second") + "\n", "a trailing newline");
}

// Two bytes of magic make a file gzip data: from there on, every cut is
// refused. (A cut of 0 or 1 bytes is, by the gzip reader's rule, plain data.)
TEST_F(Unpack, EveryCutOfASmallFileIsRefused) {
  WriteFile(output, "good old content");
  const std::string good = Gzip(SampleBytes(300) + Gzip("inner"));
  for (size_t cut = 2; cut < good.size(); ++cut) {
    WriteFile(packed, good.substr(0, cut));
    ASSERT_EQ(UnpackOutcome::Damaged, UnpackAt(packed, output)) << "cut at " << cut;
    ASSERT_EQ("good old content", ReadFile(output)) << "cut at " << cut;
  }
  EXPECT_TRUE(FilesEndingWith(folder, kUnpackTemporarySuffix).empty());
}

// An unpacked size that is a whole number of read blocks is where the gzip
// reader itself reports a cut-off trailer as a clean end.
TEST_F(Unpack, EveryCutOfATwoBlockFileIsRefused) {
  WriteFile(output, "good old content");
  const std::string good = Gzip(SampleBytes(65536, 5));
  for (size_t cut = 2; cut < good.size(); ++cut) {
    ASSERT_FALSE(DecodeInMemory(good.substr(0, cut))) << "cut at " << cut;
  }
  for (size_t cut = 2; cut < good.size(); cut += (cut + 64 < good.size()) ? 997 : 1) {
    WriteFile(packed, good.substr(0, cut));
    ASSERT_EQ(UnpackOutcome::Damaged, UnpackAt(packed, output)) << "cut at " << cut;
    ASSERT_EQ("good old content", ReadFile(output)) << "cut at " << cut;
  }
  EXPECT_TRUE(FilesEndingWith(folder, kUnpackTemporarySuffix).empty());
  std::string whole;
  ASSERT_TRUE(DecodeInMemory(good, &whole));
  EXPECT_EQ(SampleBytes(65536, 5), whole);
}

// Files decoded on their own thread reach their drains whole, in the order
// they were queued, each with its own outcome: a drain that refuses a block
// (a full disk) or a damaged file never spills into the next one, and
// files still queued when the decoder goes end with it.
TEST(DecodeAhead, QueuedFilesDrainInOrderEachWithItsOwnOutcome) {
  const std::string folder = FreshScratchFolder();
  std::mt19937 random(20261209);
  for (int round = 0; round < 4; ++round) {
    struct Queued {
      std::string expected;
      DecodeResult result;
      std::size_t refuseBeyond;  // the drain refuses a block that would take it past this many bytes
      UniqueFileHandle file;
    };
    std::vector<Queued> queued;
    for (int i = 0; i < 24; ++i) {
      const std::string data = SampleBytes(random() % 700000, random());
      std::string packed = Gzip(data, 1);
      Queued entry{data, DecodeResult::Decoded, data.size(), {}};
      switch (random() % 5) {
        case 0:  // cut short
          packed.resize(packed.size() / 2 + 2);
          entry.result = DecodeResult::Damaged;
          break;
        case 1:  // a full disk somewhere in the file
          if (data.empty()) break;
          entry.refuseBeyond = random() % data.size();
          entry.result = DecodeResult::WriteFailed;
          break;
        case 2:  // not packed: passes through
          packed = data;
          break;
      }
      const std::string path = Join(folder, "file" + std::to_string(round) + "-" + std::to_string(i) + ".zip");
      WriteFile(path, packed);
      entry.file = UniqueFileHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                0, nullptr));
      ASSERT_TRUE(entry.file);
      queued.push_back(std::move(entry));
    }
    DecodeAhead decoded;
    for (const Queued& entry : queued) decoded.Add(entry.file.Get());
    // The last round leaves half of the files queued when the decoder goes.
    const std::size_t drained = round == 3 ? queued.size() / 2 : queued.size();
    for (std::size_t i = 0; i < drained; ++i) {
      const Queued& entry = queued[i];
      std::string got;
      const DecodeResult result = decoded.Drain([&](const unsigned char* data, std::size_t size) {
        if (got.size() + size > entry.refuseBeyond) return false;
        got.append(reinterpret_cast<const char*>(data), size);
        return true;
      });
      ASSERT_EQ(entry.result, result) << "round " << round << ", file " << i;
      if (result == DecodeResult::Decoded) {
        ASSERT_EQ(entry.expected, got) << "round " << round << ", file " << i;
      }
      if (result != DecodeResult::Damaged) {
        ASSERT_EQ(0u, entry.expected.compare(0, got.size(), got)) << "round " << round << ", file " << i;
      }
    }
  }
}

TEST(DecodeAhead, UnreadableFileFailsAsARead) {
  const std::string path = Join(FreshScratchFolder(), "unreadable.zip");
  WriteFile(path, Gzip("content"));
  const UniqueFileHandle writeOnly(
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writeOnly);
  DecodeAhead decoded;
  decoded.Add(writeOnly.Get());
  EXPECT_EQ(DecodeResult::ReadFailed, decoded.Drain([](const unsigned char*, std::size_t) { return true; }));
  EXPECT_EQ(DecodeResult::ReadFailed, decoded.Drain([](const unsigned char*, std::size_t) { return true; }))
      << "a drain with nothing queued";
}
