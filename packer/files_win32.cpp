#include <windows.h>

#include <cstdio>

#include "packer/files.h"

namespace packer {

std::string HostJoin(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + relative;
}

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>& entries) {
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(HostJoin(folder, "*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool isFolder = !isLink && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries.push_back({name, isFolder, isLink});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

EntryKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
  return EntryKind::File;
}

bool MakeHostFolder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
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
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The link alone, never what it points to.
    return DeleteFileA(path.c_str()) || RemoveDirectoryA(path.c_str());
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != FALSE;
  std::vector<HostEntry> entries;
  bool removed = ListHostFolder(path, entries);
  for (const HostEntry& entry : entries) {
    if (!RemoveHostTree(HostJoin(path, entry.name))) removed = false;
  }
  return RemoveDirectoryA(path.c_str()) && removed;
}

bool RenameHostPath(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

HostFile OpenHostFile(const std::string& path, const char* mode) { return HostFile(std::fopen(path.c_str(), mode)); }

}  // namespace packer
