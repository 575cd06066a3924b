#include "update/move.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "fs/walk.h"

namespace {

// Whether the one entry `source` can take the place `target`, not what it holds.
bool CanTakePlace(const std::string& source, const std::string& target) {
  const EntryAttributes from = QueryEntry(source);
  const EntryAttributes to = QueryEntry(target);
  if (!from.Exists()) return false;
  if (!to.Exists()) {
    if (from.IsRealFolder() && target.size() >= kMaxFolderPathLength) return false;
  } else if (from.IsRealFolder()) {
    if (!to.IsRealFolder()) return false;
  } else if (from.IsLink() || to.IsFolder() || !CanBeReplaced(target)) {
    return false;
  }
  return from.IsRealFolder() || from.IsLink() || CanBeReplaced(source);
}

bool CanMove(const std::string& source, const std::string& target) {
  if (!CanTakePlace(source, target)) return false;
  if (!QueryEntry(source).IsRealFolder()) return true;
  return WalkTree(
      source, WalkOrder::ParentsFirst,
      [](const TreeEntry& entry) { return CanTakePlace(entry.path, entry.target); }, target);
}

}  // namespace

bool CanMoveAll(const PathList& sources, const std::string& destination) {
  for (const std::string& source : sources) {
    const OptionalPath target = JoinPath(destination, PathFindFileNameA(source.c_str()));
    if (!target || !CanMove(source, *target)) return false;
  }
  return true;
}

namespace {

constexpr DWORD kKeptFolderAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

bool MoveFileOrLink(const std::string& source, const std::string& target, EntryAttributes sourceAttributes,
                    EntryAttributes targetAttributes) {
  if (targetAttributes.Exists()) {
    // A link is only ever renamed into a free place, so nothing is copied
    // through it; a folder is never replaced by a file.
    if (sourceAttributes.IsLink() || targetAttributes.IsFolder()) return false;
    ClearReadOnlyAttribute(target);
  }
  const DWORD flags = sourceAttributes.IsLink() ? 0 : MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  return MoveFileExA(source.c_str(), target.c_str(), flags) != FALSE;
}

std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    names.push_back(entry.name);
    return true;
  });
  return names;
}

bool MergeFolder(const std::string& source, const std::string& target, EntryAttributes sourceAttributes,
                 EntryAttributes targetAttributes) {
  if (!targetAttributes.Exists()) {
    if (MoveFileExA(source.c_str(), target.c_str(), 0)) return true;
    if (!CreateDirectoryA(target.c_str(), nullptr)) return false;
    SetFileAttributesA(target.c_str(), sourceAttributes.bits & kKeptFolderAttributes);
  } else if (!targetAttributes.IsRealFolder()) {
    // Merging into a link would write wherever it points.
    return false;
  }
  // The names are taken first: entries leave the folder while it is searched.
  bool movedAll = true;
  for (const std::string& name : EntryNames(source)) {
    const OptionalPath from = JoinPath(source, name);
    const OptionalPath to = JoinPath(target, name);
    if (!from || !to || !MoveEntry(*from, *to)) movedAll = false;
  }
  if (!movedAll) return false;
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryA(source.c_str()) != FALSE;
}

}  // namespace

bool MoveEntry(const std::string& source, const std::string& target) {
  const EntryAttributes sourceAttributes = QueryEntry(source);
  if (!sourceAttributes.Exists()) return true;
  const EntryAttributes targetAttributes = QueryEntry(target);
  const bool moved = sourceAttributes.IsRealFolder()
                         ? MergeFolder(source, target, sourceAttributes, targetAttributes)
                         : MoveFileOrLink(source, target, sourceAttributes, targetAttributes);
  return moved && !EntryExists(source);
}
