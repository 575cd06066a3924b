#include "update/pending_file.h"

#include <utility>

#include "fs/entry.h"

PendingFile::PendingFile(std::string temporaryPath) : path_(std::move(temporaryPath)) {}

PendingFile::~PendingFile() {
  handle_.Reset();
  if (!created_) return;
  ClearReadOnlyAttribute(path_);
  DeleteFileA(path_.c_str());
}

bool PendingFile::Open() {
  if (path_.empty() || created_) return false;
  ClearReadOnlyAttribute(path_);
  handle_ = UniqueFileHandle(
      CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  created_ = handle_.Valid();
  return created_;
}

bool PendingFile::Write(const unsigned char* data, std::size_t size) {
  if (!handle_) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_.Get(), data, chunk, &written, nullptr) || written != chunk) return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

bool PendingFile::Commit(const std::string& target) {
  if (!handle_) return false;
  const bool flushed = FlushFileBuffers(handle_.Get()) != FALSE;
  const bool closed = CloseHandle(handle_.Release()) != FALSE;
  if (!flushed || !closed) return false;
  ClearReadOnlyAttribute(target);
  if (!MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  created_ = false;  // it is the target now
  return true;
}
