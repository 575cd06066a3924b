// GoogleTest's hook for a platform's own pieces, found before its empty
// default. The win32-thread mingw-w64 runtime, which the launcher is built
// with, has no std::mutex nor std::condition_variable, which GoogleTest's
// Notification (used only by its own thread tests) is made of: this one
// waits on a Win32 event instead.
#ifndef LAUNCHER_TESTS_GTEST_CUSTOM_PORT_H_
#define LAUNCHER_TESTS_GTEST_CUSTOM_PORT_H_

#ifdef _WIN32
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing
#endif  // _WIN32

#endif  // LAUNCHER_TESTS_GTEST_CUSTOM_PORT_H_
