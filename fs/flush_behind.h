#pragma once
// Flushing written files on a thread of its own while the caller writes the
// next: a flush waits for the disk, and the caller need not wait with it.
// Files are flushed in the order they were handed over. Only handles cross
// to the thread; it flushes them, closes those it was given, and touches no
// name.

#include <windows.h>

#include <cstddef>
#include <deque>
#include <set>

#include "fs/handles.h"
#include "fs/thread.h"

class FlushBehind {
 public:
  // Starts the flushing thread; without one (none could be started), each
  // file is flushed as it is handed over.
  FlushBehind();
  // Waits for what was handed over: no file is left unflushed behind it.
  ~FlushBehind();
  FlushBehind(const FlushBehind&) = delete;
  FlushBehind& operator=(const FlushBehind&) = delete;

  // Hands over a file opened for writing, to be flushed and closed.
  void Add(UniqueFileHandle file);
  // Hands over a file the caller keeps, to be flushed: the caller neither
  // uses nor closes it until Flushed(ticket) returned.
  [[nodiscard]] std::size_t Lend(HANDLE file);
  // Waits until the file of `ticket` is flushed; whether its flush succeeded.
  [[nodiscard]] bool Flushed(std::size_t ticket);
  // Waits until every file handed over is flushed. True when every flush
  // since the last Finish succeeded.
  [[nodiscard]] bool Finish();

 private:
  struct Waiting {
    UniqueFileHandle owned;
    HANDLE lent = nullptr;
    HANDLE Handle() const { return lent ? lent : owned.Get(); }
  };
  std::size_t Queue(Waiting file);
  // Records the end of the next file's flush; with the section held.
  void Settle(bool lent, bool flushed);
  void Run();

  // Bounds the handles waiting, whatever the number of files.
  static constexpr std::size_t kMaxWaiting = 32;

  CriticalSection section_;
  WakeUp wakeCaller_;   // Add, Flushed and Finish wait on this
  WakeUp wakeFlusher_;  // the flushing thread waits on this
  std::deque<Waiting> waiting_;
  std::size_t queued_ = 0;          // tickets handed out: files 1..queued_
  std::size_t flushedThrough_ = 0;  // files 1..this are flushed
  std::set<std::size_t> failedLent_;  // lent files whose flush failed, until asked
  bool failed_ = false;             // a flush failed since the last Finish
  bool stopping_ = false;
  Thread thread_;
};
