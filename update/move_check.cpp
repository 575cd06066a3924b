#include "update/move_check.h"

#include <windows.h>
#include <shlwapi.h>

#include "fs/path.h"
#include "fs/walk.h"

namespace {

bool Has(DWORD attributes, DWORD bit) { return attributes != INVALID_FILE_ATTRIBUTES && (attributes & bit) != 0; }

bool CanMove(const std::string& source, const std::string& target) {
  const DWORD sourceAttributes = GetFileAttributesA(source.c_str());
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD targetAttributes = GetFileAttributesA(target.c_str());
  const bool sourceIsLink = Has(sourceAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
  const bool sourceIsFolder = Has(sourceAttributes, FILE_ATTRIBUTE_DIRECTORY) && !sourceIsLink;
  const bool targetIsFolder = Has(targetAttributes, FILE_ATTRIBUTE_DIRECTORY);
  const bool targetIsLink = Has(targetAttributes, FILE_ATTRIBUTE_REPARSE_POINT);

  if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
    if (sourceIsFolder && target.size() >= kMaxFolderPathLength) return false;
  } else if (sourceIsFolder) {
    if (!targetIsFolder || targetIsLink) return false;
  } else if (sourceIsLink || targetIsFolder || !CanBeReplaced(target)) {
    return false;
  }
  if (!sourceIsFolder) return sourceIsLink || CanBeReplaced(source);

  bool canMoveAll = true;
  ForEachEntry(source, [&](const FolderEntry& entry) {
    const OptionalPath from = JoinPath(source, entry.name);
    const OptionalPath to = JoinPath(target, entry.name);
    canMoveAll = from && to && CanMove(*from, *to);
    return canMoveAll;
  });
  return canMoveAll;
}

}  // namespace

bool CanMoveAll(const PathList& sources, const std::string& destination) {
  for (const std::string& source : sources) {
    const OptionalPath target = JoinPath(destination, PathFindFileNameA(source.c_str()));
    if (!target || !CanMove(source, *target)) return false;
  }
  return true;
}
