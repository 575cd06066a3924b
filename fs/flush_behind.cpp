#include "fs/flush_behind.h"

#include <utility>

FlushBehind::FlushBehind() {
  if (wakeCaller_.Usable() && wakeFlusher_.Usable()) thread_ = Thread::Start([this] { Run(); });
}

FlushBehind::~FlushBehind() {
  (void)Finish();
  {
    const Lock lock(section_);
    stopping_ = true;
  }
  wakeFlusher_.Set();
  thread_.Join();
}

void FlushBehind::Add(UniqueFileHandle file) { (void)Queue({std::move(file), nullptr}); }

std::size_t FlushBehind::Lend(HANDLE file) { return Queue({UniqueFileHandle(), file}); }

std::size_t FlushBehind::Queue(Waiting file) {
  const Lock lock(section_);
  const std::size_t ticket = ++queued_;
  if (!thread_.Running()) {
    Settle(file.lent != nullptr, FlushFileBuffers(file.Handle()) != FALSE);
    return ticket;
  }
  while (waiting_.size() >= kMaxWaiting) wakeCaller_.WaitLeaving(section_);
  waiting_.push_back(std::move(file));
  wakeFlusher_.Set();
  return ticket;
}

void FlushBehind::Settle(bool lent, bool flushed) {
  const std::size_t ticket = ++flushedThrough_;
  if (!flushed) failed_ = true;
  if (!flushed && lent) failedLent_.insert(ticket);
}

bool FlushBehind::Flushed(std::size_t ticket) {
  const Lock lock(section_);
  while (flushedThrough_ < ticket) wakeCaller_.WaitLeaving(section_);
  return failedLent_.erase(ticket) == 0;
}

bool FlushBehind::Finish() {
  const Lock lock(section_);
  while (flushedThrough_ < queued_) wakeCaller_.WaitLeaving(section_);
  return !std::exchange(failed_, false);
}

void FlushBehind::Run() {
  for (;;) {
    Waiting file;
    {
      const Lock lock(section_);
      while (waiting_.empty() && !stopping_) wakeFlusher_.WaitLeaving(section_);
      if (waiting_.empty()) return;
      file = std::move(waiting_.front());
      waiting_.pop_front();
    }
    const bool flushed = FlushFileBuffers(file.Handle()) != FALSE;
    file.owned.Reset();
    {
      const Lock lock(section_);
      Settle(file.lent != nullptr, flushed);
    }
    wakeCaller_.Set();
  }
}
