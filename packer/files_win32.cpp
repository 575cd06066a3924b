#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

#include "packer/files.h"
#include "rules/rules.h"

namespace packer {

namespace {

// UTF-8 to UTF-16 and back: every name the packer handles is UTF-8, in the
// manifest as on the build machine.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], length, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle_; }
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

EntryKind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
  return EntryKind::File;
}

}  // namespace

std::string HostJoin(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  if (!path.empty() && !IsSeparator(path.back())) path += '\\';
  return path + relative;
}

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>& entries) {
  WIN32_FIND_DATAW data;
  const FindHandle search(FindFirstFileW(Wide(HostJoin(folder, "*")).c_str(), &data));
  if (search.Get() == INVALID_HANDLE_VALUE) return false;
  do {
    const std::string name = Narrow(data.cFileName);
    if (name == "." || name == "..") continue;
    entries.push_back({name, KindOfAttributes(data.dwFileAttributes),
                       static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow});
  } while (FindNextFileW(search.Get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES;  // else the listing broke off
}

EntryKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  return KindOfAttributes(attributes);
}

bool MakeHostFolder(const std::string& path) {
  if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
  return KindOf(path) == EntryKind::Folder;
}

bool MakeHostParents(const std::string& path) {
  // Not the drive (C:\) or share (\\server\share\) of the path: those cannot be made.
  std::size_t start = path.size() > 2 && path[1] == ':' ? 3 : 1;
  if (path.compare(0, 2, "\\\\") == 0) start = path.find_first_of("\\/", path.find_first_of("\\/", 2) + 1) + 1;
  for (std::size_t slash = path.find_first_of("\\/", start); slash != std::string::npos;
       slash = path.find_first_of("\\/", slash + 1)) {
    if (!MakeHostFolder(path.substr(0, slash))) return false;
  }
  return true;
}

bool RemoveHostTree(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The link alone, never what it points to.
    return DeleteFileW(wide.c_str()) || RemoveDirectoryW(wide.c_str());
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(wide.c_str()) != FALSE;
  std::vector<HostEntry> entries;
  bool removed = ListHostFolder(path, entries);
  for (const HostEntry& entry : entries) {
    if (!RemoveHostTree(HostJoin(path, entry.name))) removed = false;
  }
  return RemoveDirectoryW(wide.c_str()) && removed;
}

bool RenameHostPath(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool ReplaceHostFile(const std::string& from, const std::string& to) {
  const EntryKind kind = KindOf(to);
  if (kind != EntryKind::Missing && kind != EntryKind::File) return false;
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

namespace {

// The stdio file of an open handle, which it then owns.
HostFile HostFileOf(FileHandle& handle, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), flags | _O_BINARY);
  if (fd < 0) return HostFile();
  handle.Release();
  std::FILE* file = _fdopen(fd, mode);
  if (!file) _close(fd);
  return HostFile(file);
}

}  // namespace

HostFile OpenHostFile(const std::string& path, const char* mode) {
  if (mode[0] != 'r') return HostFile(_wfopen(Wide(path).c_str(), Wide(mode).c_str()));
  // Only a file on disk: a device name or a pipe never opens for reading.
  FileHandle handle(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (handle.Get() == INVALID_HANDLE_VALUE || GetFileType(handle.Get()) != FILE_TYPE_DISK) return HostFile();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return HostFile();
  }
  return HostFileOf(handle, _O_RDONLY, "rb");
}

bool SeekHostFile(const HostFile& file, std::uint64_t offset) {
  const __int64 at = static_cast<__int64>(offset);
  return at >= 0 && static_cast<std::uint64_t>(at) == offset && _fseeki64(file.Get(), at, SEEK_SET) == 0;
}

HostFile CreateNewHostFile(const std::string& path, bool) {
  FileHandle handle(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (handle.Get() == INVALID_HANDLE_VALUE) return HostFile();
  return HostFileOf(handle, _O_WRONLY, "wb");
}

std::string WithoutTrailingSeparators(const std::string& path) {
  std::string trimmed = path;
  const std::size_t keep = trimmed.size() >= 2 && trimmed[1] == ':' ? 3 : 1;  // "C:\" or "\"
  while (trimmed.size() > keep && IsSeparator(trimmed.back())) trimmed.pop_back();
  return trimmed;
}

std::string CanonicalHostPath(const std::string& path) {
  const std::wstring wide = Wide(path.empty() ? std::string(".") : path);
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return std::string();
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
  if (written == 0 || written >= length) return std::string();
  full.resize(written);
  std::string canonical = WithoutTrailingSeparators(Narrow(full.c_str()));
  for (char& c : canonical) c = c == '/' ? '\\' : c;
  return canonical;
}

bool IsSameOrBelow(const std::string& inner, const std::string& outer) {
  if (inner.empty() || outer.empty()) return false;
  // Windows matches names without regard to letter case.
  const std::string prefix = IsSeparator(outer.back()) ? outer : outer + "\\";
  if (rules::EqualsIgnoringAsciiCase(inner, outer)) return true;
  return inner.size() > prefix.size() && rules::EqualsIgnoringAsciiCase(inner.substr(0, prefix.size()), prefix);
}

HostLock::HostLock(const std::string& path) {
  // Shared with nobody: a second opening fails until this handle closes.
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

HostLock::~HostLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace packer
