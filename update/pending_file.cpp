#include "update/pending_file.h"

#include <utility>

#include "fs/walk.h"

PendingFile::PendingFile(std::string temporaryPath) : path_(std::move(temporaryPath)) {}

PendingFile::~PendingFile() {
  if (committed_) return;
  Close();
  if (handle_ == INVALID_HANDLE_VALUE && !path_.empty()) {
    ClearReadOnlyAttribute(path_);
    DeleteFileA(path_.c_str());
  }
}

bool PendingFile::Open() {
  if (path_.empty() || handle_ != INVALID_HANDLE_VALUE) return false;
  ClearReadOnlyAttribute(path_);
  handle_ = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

bool PendingFile::Write(const unsigned char* data, std::size_t size) {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_, data, chunk, &written, nullptr) || written != chunk) return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

bool PendingFile::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return true;
  const bool closed = CloseHandle(handle_) != FALSE;
  handle_ = INVALID_HANDLE_VALUE;
  return closed;
}

bool PendingFile::Commit(const std::string& target) {
  if (handle_ == INVALID_HANDLE_VALUE || committed_) return false;
  const bool flushed = FlushFileBuffers(handle_) != FALSE;
  if (!Close() || !flushed) return false;
  ClearReadOnlyAttribute(target);
  if (!MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  committed_ = true;
  return true;
}
