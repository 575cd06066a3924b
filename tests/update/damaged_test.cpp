// Damaged packed files in a staged update: the data folder keeps its file,
// the packed file arrives under its ".zip" name, no temporary file is left.
#include "tests/update/staging_fixture.h"

#include "update/unpack.h"

using namespace testing_support;
using namespace update_testing;

namespace {

struct Damage {
  const char* name;
  std::string (*make)();
};

// Names the case in test listings (the default prints raw bytes).
void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }


std::string Corrupt() {
  std::string packed = Gzip(SampleBytes(20000));
  for (size_t i = 30; i < 60; ++i) packed[i] = static_cast<char>(packed[i] ^ 0x3c);
  return packed;
}

std::string Truncated() {
  const std::string packed = Gzip(SampleBytes(20000));
  return packed.substr(0, packed.size() / 2);
}

// Unpacked size a whole number of read blocks, trailer cut off: the case
// zlib's gzip reader reports as a clean end.
std::string TrailerCutAtBlockSize() {
  const std::string packed = Gzip(SampleBytes(65536));
  return packed.substr(0, packed.size() - 8);
}

std::string WrongCheckValue() {
  std::string packed = Gzip(SampleBytes(20000));
  packed[packed.size() - 6] = static_cast<char>(packed[packed.size() - 6] ^ 0x10);
  return packed;
}

// A member, bytes that are no member, then another member: zlib's reader
// stops after the first and would install it alone.
std::string JunkBetweenMembers() { return Gzip(SampleBytes(20000)) + "not gzip" + Gzip(SampleBytes(100)); }

class DamagedPackedFile : public StagingTest, public ::testing::WithParamInterface<Damage> {};

}  // namespace

TEST_P(DamagedPackedFile, LeavesTheInstalledFileAsItWas) {
  WriteFile(InData("assets\\asset.bin"), "good installed content");
  const std::string damaged = GetParam().make();
  Stage("assets\\asset.bin.zip", damaged);
  Stage("assets\\other.bin.zip", Gzip("other"));
  StageMarker();
  EXPECT_EQ(0, Run());
  EXPECT_EQ("good installed content", ReadFile(InData("assets\\asset.bin")));
  EXPECT_EQ(damaged, ReadFile(InData("assets\\asset.bin.zip")));
  EXPECT_EQ("other", ReadFile(InData("assets\\other.bin")));
  EXPECT_TRUE(FilesEndingWith(data, kUnpackTemporarySuffix).empty());
  EXPECT_TRUE(Exists(InData("update.flag")));
  ExpectStagingDiscarded();
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedPackedFile,
                         ::testing::Values(Damage{"corrupt", Corrupt}, Damage{"truncated", Truncated},
                                           Damage{"trailer_cut", TrailerCutAtBlockSize},
                                           Damage{"wrong_check", WrongCheckValue},
                                           Damage{"junk_between_members", JunkBetweenMembers}),
                         [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });
