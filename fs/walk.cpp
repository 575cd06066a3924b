#include "fs/walk.h"

#include <windows.h>

#include <cstring>

#include "fs/handles.h"
#include "fs/path.h"

bool ForEachEntry(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) {
  const OptionalPath pattern = JoinPath(folder, "*.*");
  if (!pattern || folder.empty()) return false;
  WIN32_FIND_DATAA data;
  UniqueFindHandle search(FindFirstFileA(pattern->c_str(), &data));
  if (!search) return false;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    FolderEntry entry;
    entry.name = data.cFileName;
    entry.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!visit(entry)) break;
  } while (FindNextFileA(search.Get(), &data));
  return true;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ClearReadOnlyAttribute(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool CanBeReplaced(const std::string& path) {
  // Opening it for deletion while sharing everything fails exactly when
  // another handle denies that.
  const UniqueFileHandle handle(CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return handle.Valid();
}

std::optional<unsigned long long> FreeBytesAt(const std::string& path) {
  std::string folder = path;
  while (!folder.empty()) {
    std::string query = folder;
    if (query.back() != '\\') query += '\\';
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExA(query.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
    const size_t slash = folder.find_last_of('\\', folder.size() - 2);
    if (slash == std::string::npos) break;
    folder.resize(slash);
  }
  return std::nullopt;
}
