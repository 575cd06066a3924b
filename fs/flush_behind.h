#pragma once
// Flushing written files on a thread of its own while the caller writes the
// next: a flush waits for the disk, and the copy need not wait with it. Only
// handles cross to the thread; it flushes and closes them and touches no
// name.

#include <windows.h>

#include <cstddef>
#include <deque>

#include "fs/handles.h"
#include "fs/thread.h"

class FlushBehind {
 public:
  // Starts the flushing thread; without one (none could be started), each
  // file is flushed within its Add.
  FlushBehind();
  // Waits for what was handed over: no file is left unflushed behind it.
  ~FlushBehind();
  FlushBehind(const FlushBehind&) = delete;
  FlushBehind& operator=(const FlushBehind&) = delete;

  // Hands over a file opened for writing, to be flushed and closed; waits
  // while kMaxWaiting files are still to be flushed.
  void Add(UniqueFileHandle file);
  // Waits until every file handed over is flushed and closed. True when
  // every flush since the last Finish succeeded.
  [[nodiscard]] bool Finish();

 private:
  void Run();

  // Bounds the open handles waiting, whatever the number of files.
  static constexpr std::size_t kMaxWaiting = 32;

  CriticalSection section_;
  WakeUp wakeCaller_;   // Add and Finish wait on this
  WakeUp wakeFlusher_;  // the flushing thread waits on this
  std::deque<UniqueFileHandle> waiting_;
  bool flushing_ = false;  // the thread holds a file taken from `waiting_`
  bool failed_ = false;
  bool stopping_ = false;
  Thread thread_;
};
