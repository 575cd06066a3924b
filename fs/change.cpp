#include "fs/change.h"

#include <aclapi.h>
#include <shellapi.h>

bool MakeFolder(const std::string& path) {
  return ReachFaultPoint("make folder") && CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

bool RenameEntry(const std::string& from, const std::string& to) {
  return ReachFaultPoint("rename") && MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return ReachFaultPoint("rename over") && MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveFileEntry(const std::string& path) { return ReachFaultPoint("remove file") && DeleteFileA(path.c_str()) != FALSE; }

bool RemoveEmptyFolder(const std::string& path) {
  return ReachFaultPoint("remove folder") && RemoveDirectoryA(path.c_str()) != FALSE;
}

bool SetEntryAttributes(const std::string& path, DWORD attributes) {
  return ReachFaultPoint("set attributes") && SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool CopyToNewFile(const std::string& from, const std::string& to) {
  return ReachFaultPoint("copy") && CopyFileA(from.c_str(), to.c_str(), TRUE) != FALSE;
}

bool OpenAccessOf(HANDLE handle) {
  return ReachFaultPoint("open access") && SetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                              nullptr, nullptr) == ERROR_SUCCESS;
}

int RunShellFileOperation(void* operation) {
  if (!ReachFaultPoint("shell operation")) return 1;
  return SHFileOperationA(static_cast<SHFILEOPSTRUCTA*>(operation));
}

NewFile::~NewFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  if (ours_) DeleteFileA(path_.c_str());
}

bool NewFile::Create(const std::string& path) {
  if (handle_ != INVALID_HANDLE_VALUE || !ReachFaultPoint("create")) return false;
  path_ = path;
  handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ours_ = handle_ != INVALID_HANDLE_VALUE;
  return ours_;
}

bool NewFile::Write(const void* data, std::size_t size) {
  if (handle_ == INVALID_HANDLE_VALUE || !ReachFaultPoint("write")) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, chunk, &written, nullptr) || written != chunk) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
}

bool NewFile::CommitAs(const std::string& target) {
  if (handle_ == INVALID_HANDLE_VALUE || !ReachFaultPoint("commit")) return false;
  const bool flushed = FlushFileBuffers(handle_) != FALSE;
  const bool closed = CloseHandle(handle_) != FALSE;
  handle_ = INVALID_HANDLE_VALUE;
  if (!flushed || !closed || !RenameOver(path_, target)) return false;
  ours_ = false;
  return true;
}
