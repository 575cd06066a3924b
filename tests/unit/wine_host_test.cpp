// The test harness's own help under Wine: starting a unix program leaves
// every handle of the test as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "tests/support/harness.h"
#include "tests/support/wine_host.h"

using namespace testing_support;

#if defined(_MSC_VER)
#define NOINLINE __declspec(noinline)
#else
#define NOINLINE __attribute__((noinline))
#endif

namespace {

// Leaves `value` all over the stack below the caller, where the next call's
// uninitialised locals will lie.
NOINLINE void SpillOntoTheStack(HANDLE value) {
  volatile HANDLE spill[4096];
  for (auto& slot : spill) slot = value;
}

}  // namespace

// Wine hands back no handles for a unix program, only stack garbage: closing
// that took the test's own stdout or a file it held.
TEST(UnixCommands, LeaveEveryHandleOfTheTestOpen) {
  const std::string scratch = FreshScratchFolder();
  if (wine_host::UnixPathOf(scratch).empty()) GTEST_SKIP() << "not under Wine";
  std::vector<HANDLE> held = {GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
  for (int i = 0; i < 4; ++i) {
    const std::string path = Join(scratch, "held" + std::to_string(i));
    held.push_back(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, held.back()) << path;
  }
  for (HANDLE handle : held) {
    SpillOntoTheStack(handle);
    ASSERT_TRUE(wine_host::StartUnixCommand("/bin/true"));
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(handle, &flags)) << "handle " << handle << " was closed";
  }
  EXPECT_EQ(0, wine_host::RunUnixShell("true", Join(scratch, "shell"))) << "the shell's own round trip";
  for (size_t i = 2; i < held.size(); ++i) CloseHandle(held[i]);
}
