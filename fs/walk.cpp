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
