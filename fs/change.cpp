#include "fs/change.h"

#include <shellapi.h>

#include <utility>

#include "fs/flush_behind.h"
#include "fs/pinned_tree.h"

int RunShellFileOperation(void* operation) { return SHFileOperationA(static_cast<SHFILEOPSTRUCTA*>(operation)); }

NewFile::~NewFile() {
  if (flushTicket_ != 0) (void)flushBehind_->Flushed(flushTicket_);  // the handle is the flusher's till then
  if (file_) tree_.DropNewFile(file_, name_);
}

bool NewFile::Create(const std::string& name) {
  const std::string path = tree_.PathOf(name).value_or(name);
  if (file_ || !ReachFaultPoint("create", path)) return false;
  name_ = name;
  path_ = path;
  file_ = tree_.CreateNewFile(name);
  return file_.Valid();
}

bool NewFile::Write(const void* data, std::size_t size) {
  if (!file_ || flushTicket_ != 0 || !ReachFaultPoint("write", path_)) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written != chunk) return false;
    bytes += chunk;
    size -= chunk;
    written_ += chunk;
  }
  return true;
}

void NewFile::FlushBehindWith(FlushBehind& flushBehind) {
  if (!file_ || flushTicket_ != 0) return;
  flushBehind_ = &flushBehind;
  flushTicket_ = flushBehind.Lend(file_.Get());
}

bool NewFile::CommitAs(const std::string& target, UniqueFileHandle* keep) {
  const std::string to = tree_.PathOf(target).value_or(target);
  if (!file_ || !ReachFaultPoint("commit", path_, to)) return false;
  const bool flushed = flushTicket_ != 0 ? flushBehind_->Flushed(std::exchange(flushTicket_, 0))
                                         : FlushFileBuffers(file_.Get()) != FALSE;
  if (!flushed || !ReachFaultPoint("rename over", path_, to)) return false;
  return tree_.CommitNewFile(file_, name_, target, keep);
}
