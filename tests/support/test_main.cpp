// The main of every test program. A shard (several cases in one process)
// keeps what one process per case gave each case: a hang ends as a failure
// naming the case, at the case's own limit, and on Windows each case starts
// with an empty Recycle Bin, since the process's HOME is the shard's.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "tests/support/harness.h"
#endif

namespace {

// A number from the environment; 0 when unset or not a number.
unsigned long EnvironmentNumber(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::strtoul(value, nullptr, 10) : 0;
}

[[noreturn]] void EndProcessNow(int code) {
#ifdef _WIN32
  // No exit handlers: the hung case may hold the locks they would take.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
#endif
  std::_Exit(code);
}

// Ends the process when a case runs longer than its limit, naming the case.
// The watching thread shares its state with the listener and is never
// joined: it may outlive the listener at the process's exit.
class CaseWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CaseWatchdog(std::chrono::seconds limit) : state_(std::make_shared<State>()) {
    state_->limit = limit;
    std::thread([state = state_] { Watch(*state); }).detach();
  }
  ~CaseWatchdog() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
  }
  CaseWatchdog(const CaseWatchdog&) = delete;
  CaseWatchdog& operator=(const CaseWatchdog&) = delete;

  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->name = std::string(info.test_suite_name()) + "." + info.name();
    state_->deadline = std::chrono::steady_clock::now() + state_->limit;
    state_->armed = true;
    state_->wake.notify_all();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->armed = false;
  }

 private:
  struct State {
    std::chrono::seconds limit{0};
    std::mutex mutex;
    std::condition_variable wake;
    std::string name;
    std::chrono::steady_clock::time_point deadline;
    bool armed = false;
    bool stopping = false;
  };

  static void Watch(State& state) {
    std::unique_lock<std::mutex> lock(state.mutex);
    while (!state.stopping) {
      if (!state.armed) {
        state.wake.wait(lock);
        continue;
      }
      const auto deadline = state.deadline;
      if (state.wake.wait_until(lock, deadline) == std::cv_status::timeout && state.armed &&
          state.deadline == deadline) {
        std::printf("[  TIMEOUT ] %s did not end within %lld s: the shard ends here\n", state.name.c_str(),
                    static_cast<long long>(state.limit.count()));
        std::fflush(stdout);
        EndProcessNow(3);
      }
    }
  }

  std::shared_ptr<State> state_;
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
  if (limit > 0) listeners.Append(new CaseWatchdog(std::chrono::seconds(limit * (scale > 1 ? scale : 1))));
#ifdef _WIN32
  listeners.Append(new FreshRecycleBin);
#endif
  return RUN_ALL_TESTS();
}
