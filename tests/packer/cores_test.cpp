#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "packer/cores.h"

// Every index is worked on once, none twice, whatever the count against
// the cores, and the call returns only when all are done.
TEST(ForEachOnCores, WorksOnEveryIndexOnceAndReturnsWhenAllAreDone) {
  for (const std::size_t count : {0u, 1u, 2u, 3u, 17u, 1000u}) {
    SCOPED_TRACE(count);
    const std::unique_ptr<std::atomic<int>[]> calls(new std::atomic<int>[count + 1]);
    for (std::size_t i = 0; i <= count; ++i) calls[i] = 0;
    packer::ForEachOnCores(count, [&calls](std::size_t i) { ++calls[i]; });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(1, calls[i].load()) << i;
    EXPECT_EQ(0, calls[count].load());
  }
}
