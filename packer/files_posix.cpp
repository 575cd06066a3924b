#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "packer/files.h"

namespace packer {

std::string HostJoin(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  if (!path.empty() && path.back() != '/') path += '/';
  for (char c : relative) path += c == '\\' ? '/' : c;
  return path;
}

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>& entries) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const EntryKind kind = KindOf(folder + "/" + name);
    entries.push_back({name, kind == EntryKind::Folder, kind == EntryKind::Link});
  }
  closedir(dir);
  return true;
}

EntryKind KindOf(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return EntryKind::Missing;
  if (S_ISLNK(info.st_mode)) return EntryKind::Link;
  if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
  return EntryKind::File;
}

bool MakeHostFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return KindOf(path) == EntryKind::Folder;
}

bool MakeHostParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (!MakeHostFolder(path.substr(0, slash))) return false;
  }
  return true;
}

bool RemoveHostTree(const std::string& path) {
  const EntryKind kind = KindOf(path);
  if (kind == EntryKind::Missing) return true;
  if (kind != EntryKind::Folder) return unlink(path.c_str()) == 0;
  std::vector<HostEntry> entries;
  bool removed = ListHostFolder(path, entries);
  for (const HostEntry& entry : entries) {
    if (!RemoveHostTree(path + "/" + entry.name)) removed = false;
  }
  return rmdir(path.c_str()) == 0 && removed;
}

bool RenameHostPath(const std::string& from, const std::string& to) {
  if (KindOf(to) != EntryKind::Missing) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

HostFile OpenHostFile(const std::string& path, const char* mode) { return HostFile(std::fopen(path.c_str(), mode)); }

}  // namespace packer
