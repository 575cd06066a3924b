// The main of every test program. A shard (several cases in one process)
// keeps what one process per case gave each case: a hang ends as a failure
// naming the case, at the case's own limit, and on Windows each case starts
// with an empty Recycle Bin, since the process's HOME is the shard's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "tests/support/harness.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// A number from the environment; 0 when unset or not a number.
unsigned long EnvironmentNumber(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::strtoul(value, nullptr, 10) : 0;
}

// Ends the process when a case runs longer than its limit, naming the case:
// a timer armed at each case's start and disarmed at its end, so no thread
// of the test's waits on the hung one. What it prints is made before.
class CaseWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CaseWatchdog(unsigned long seconds) : seconds_(seconds) {
#ifndef _WIN32
    signal(SIGALRM, [](int) { Expire(); });
#endif
  }
  ~CaseWatchdog() override { Disarm(); }
  CaseWatchdog(const CaseWatchdog&) = delete;
  CaseWatchdog& operator=(const CaseWatchdog&) = delete;

  void OnTestStart(const ::testing::TestInfo& info) override {
    Disarm();
    std::snprintf(Message(), kMessageSize, "[  TIMEOUT ] %s.%s did not end within %lu s: the shard ends here\n",
                  info.test_suite_name(), info.name(), seconds_);
#ifdef _WIN32
    if (!CreateTimerQueueTimer(&timer_, nullptr, &Expired, nullptr, static_cast<DWORD>(seconds_ * 1000), 0,
                               WT_EXECUTEONLYONCE)) {
      timer_ = nullptr;
    }
#else
    alarm(static_cast<unsigned>(seconds_));
#endif
  }
  void OnTestEnd(const ::testing::TestInfo&) override { Disarm(); }

 private:
  static constexpr std::size_t kMessageSize = 512;
  static char* Message() {
    static char message[kMessageSize];
    return message;
  }

  // No exit handlers: the hung case may hold the locks they would take.
  [[noreturn]] static void Expire() {
    std::fputs(Message(), stdout);
    std::fflush(stdout);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 3);
#endif
    std::_Exit(3);
  }

#ifdef _WIN32
  static void CALLBACK Expired(void*, BOOLEAN) { Expire(); }
#endif

  void Disarm() {
#ifdef _WIN32
    // Waits for a callback already running: it ends the process anyway.
    if (timer_) DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
    timer_ = nullptr;
#else
    alarm(0);
#endif
  }

  unsigned long seconds_;
#ifdef _WIN32
  HANDLE timer_ = nullptr;
#endif
};

#ifdef _WIN32
class FreshRecycleBin : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { testing_support::EmptyRecycleBin(); }
};
#endif

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
  // Set by a sharded run only: a case run alone is bounded by CTest itself.
  const unsigned long limit = EnvironmentNumber("LAUNCHER_TEST_CASE_TIMEOUT");
  const unsigned long scale = EnvironmentNumber("LAUNCHER_TEST_TIME_SCALE");
  if (limit > 0) listeners.Append(new CaseWatchdog(limit * (scale > 1 ? scale : 1)));
#ifdef _WIN32
  listeners.Append(new FreshRecycleBin);
#endif
  return RUN_ALL_TESTS();
}
