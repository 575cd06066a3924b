#pragma once
// A thread of the launcher's own, and what two threads share: a lock and a
// wake-up. Win32 primitives that Windows 2000 has (no condition variables,
// no C++ runtime threads), so that the launcher links no thread library.

#include <windows.h>

#include <functional>
#include <memory>

#include "fs/handles.h"

// A critical section; Lock holds it for a scope.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class Lock {
 public:
  explicit Lock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~Lock() { section_.Leave(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CriticalSection& section_;
};

// Tells one waiting thread that what it waits for may have changed. A Set
// with nobody waiting is kept for the next Wait, so none is lost; a waiter
// checks its condition again after every wake-up.
class WakeUp {
 public:
  WakeUp() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  // False when no event could be made: the owner must not rely on it.
  bool Usable() const { return event_.Valid(); }
  void Set() { SetEvent(event_.Get()); }
  // True when woken, false when `milliseconds` passed first.
  bool Wait(DWORD milliseconds = INFINITE) { return WaitForSingleObject(event_.Get(), milliseconds) == WAIT_OBJECT_0; }
  // Waits with `section` left, entered again before returning.
  void WaitLeaving(CriticalSection& section) {
    section.Leave();
    Wait();
    section.Enter();
  }

 private:
  UniqueKernelHandle event_;
};

// A thread running `work`, joined when the owner goes.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(Thread&&) noexcept = default;
  Thread& operator=(Thread&& other) noexcept {
    Join();
    handle_ = std::move(other.handle_);
    return *this;
  }

  // A started thread, or one that is not Running when none could be made.
  [[nodiscard]] static Thread Start(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    Thread thread;
    thread.handle_ = UniqueKernelHandle(CreateThread(nullptr, 0, &Thread::Run, owned.get(), 0, nullptr));
    if (thread.handle_) owned.release();  // the thread deletes it
    return thread;
  }

  bool Running() const { return handle_.Valid(); }
  void Join() {
    if (handle_) WaitForSingleObject(handle_.Get(), INFINITE);
    handle_.Reset();
  }

 private:
  static DWORD WINAPI Run(void* parameter) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    (*work)();
    return 0;
  }

  UniqueKernelHandle handle_;
};
