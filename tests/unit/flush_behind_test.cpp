#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/flush_behind.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

// A file of the scratch folder opened for writing, or for reading only:
// such a handle cannot be flushed.
UniqueFileHandle Opened(const std::string& path, bool writable) {
  return UniqueFileHandle(CreateFileA(path.c_str(), writable ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      writable ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

// More files than may wait at once, lent and given, some that cannot be
// flushed: each lent one's own result, every failure in Finish once, and
// every given file closed by then.
TEST(FlushBehind, TellsEachFlushAndClosesWhatItWasGiven) {
  const std::string folder = FreshScratchFolder();
  FlushBehind flushBehind;
  std::vector<UniqueFileHandle> lent;
  std::vector<std::size_t> tickets;
  std::vector<bool> expected;
  for (int i = 0; i < 80; ++i) {
    const std::string path = Join(folder, "f" + std::to_string(i));
    WriteFile(path, "bytes");
    const bool flushable = i % 7 != 3;
    UniqueFileHandle file = Opened(path, flushable);
    ASSERT_TRUE(file.Valid()) << path;
    if (i % 2 == 0) {
      flushBehind.Add(std::move(file));
    } else {
      tickets.push_back(flushBehind.Lend(file.Get()));
      expected.push_back(flushable);
      lent.push_back(std::move(file));
    }
  }
  for (std::size_t i = tickets.size(); i-- > 0;) EXPECT_EQ(expected[i], flushBehind.Flushed(tickets[i])) << i;
  EXPECT_FALSE(flushBehind.Finish()) << "a flush failed";
  EXPECT_TRUE(flushBehind.Finish()) << "none since";
  for (int i = 0; i < 80; i += 2) {
    const std::string path = Join(folder, "f" + std::to_string(i));
    EXPECT_TRUE(UniqueFileHandle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)).Valid())
        << path << " is closed";
  }
  flushBehind.Add(Opened(Join(folder, "last"), true));
  EXPECT_TRUE(flushBehind.Finish());
}
