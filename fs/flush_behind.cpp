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

void FlushBehind::Add(UniqueFileHandle file) {
  if (!thread_.Running()) {
    if (!FlushFileBuffers(file.Get())) failed_ = true;
    return;
  }
  const Lock lock(section_);
  while (waiting_.size() >= kMaxWaiting) wakeCaller_.WaitLeaving(section_);
  waiting_.push_back(std::move(file));
  wakeFlusher_.Set();
}

bool FlushBehind::Finish() {
  const Lock lock(section_);
  while (!waiting_.empty() || flushing_) wakeCaller_.WaitLeaving(section_);
  return !std::exchange(failed_, false);
}

void FlushBehind::Run() {
  for (;;) {
    UniqueFileHandle file;
    {
      const Lock lock(section_);
      while (waiting_.empty() && !stopping_) wakeFlusher_.WaitLeaving(section_);
      if (waiting_.empty()) return;
      file = std::move(waiting_.front());
      waiting_.pop_front();
      flushing_ = true;
    }
    const bool flushed = FlushFileBuffers(file.Get()) != FALSE;
    file.Reset();
    {
      const Lock lock(section_);
      flushing_ = false;
      if (!flushed) failed_ = true;
    }
    wakeCaller_.Set();
  }
}
