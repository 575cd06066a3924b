#include "fs/change.h"

#include <shellapi.h>

#include "fs/pinned_tree.h"

int RunShellFileOperation(void* operation) { return SHFileOperationA(static_cast<SHFILEOPSTRUCTA*>(operation)); }

NewFile::~NewFile() {
  if (file_) tree_.DropNewFile(file_, path_);
}

bool NewFile::Create(const std::string& path) {
  if (file_ || !ReachFaultPoint("create", path)) return false;
  path_ = path;
  file_ = tree_.CreateNewFile(path);
  return file_.Valid();
}

bool NewFile::Write(const void* data, std::size_t size) {
  if (!file_ || !ReachFaultPoint("write", path_)) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written != chunk) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
}

bool NewFile::CommitAs(const std::string& target, UniqueFileHandle* keep) {
  if (!file_ || !ReachFaultPoint("commit", path_, target)) return false;
  if (!FlushFileBuffers(file_.Get()) || !ReachFaultPoint("rename over", path_, target)) return false;
  return tree_.CommitNewFile(file_, path_, target, keep);
}
