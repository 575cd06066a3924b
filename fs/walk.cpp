#include "fs/walk.h"

#include <windows.h>

#include <cstring>

#include "fs/handles.h"

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
    entry.isReadOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!visit(entry)) break;
  } while (FindNextFileA(search.Get(), &data));
  return true;
}

namespace {

struct TreeWalk {
  WalkOrder order;
  const std::function<bool(const TreeEntry&)>& visit;
  bool complete = true;
  bool stopped = false;

  void Below(const std::string& folder, const std::string& relative, const OptionalPath& target) {
    const bool searched = ForEachEntry(folder, [&](const FolderEntry& found) {
      TreeEntry entry;
      static_cast<FolderEntry&>(entry) = found;
      const OptionalPath path = JoinPath(folder, found.name);
      const OptionalPath relativePath = JoinPath(relative, found.name);
      const OptionalPath targetPath = target ? JoinPath(*target, found.name) : OptionalPath(std::string());
      if (!path || !relativePath || !targetPath) {
        complete = false;
        return true;
      }
      entry.path = *path;
      entry.relative = *relativePath;
      entry.target = *targetPath;
      if (order == WalkOrder::ParentsFirst && !visit(entry)) stopped = true;
      if (!stopped && entry.IsRealFolder()) Below(entry.path, entry.relative, target ? targetPath : target);
      if (!stopped && order == WalkOrder::ContentsFirst && !visit(entry)) stopped = true;
      return !stopped;
    });
    if (!searched) complete = false;
  }
};

}  // namespace

bool WalkTree(const std::string& root, WalkOrder order, const std::function<bool(const TreeEntry&)>& visit,
              const OptionalPath& mirror) {
  TreeWalk walk{order, visit};
  walk.Below(root, std::string(), mirror);
  return walk.complete && !walk.stopped;
}
