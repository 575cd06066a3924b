#include "update/merge.h"

#include <windows.h>

#include <vector>

#include "fs/path.h"
#include "fs/walk.h"

namespace {

constexpr DWORD kKeptFolderAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

bool Has(DWORD attributes, DWORD bit) { return attributes != INVALID_FILE_ATTRIBUTES && (attributes & bit) != 0; }

bool MoveFileOrLink(const std::string& source, const std::string& target, DWORD sourceAttributes,
                    DWORD targetAttributes) {
  const bool sourceIsLink = Has(sourceAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    // A link is only ever renamed into a free place, so nothing is copied
    // through it; a folder is never replaced by a file.
    if (sourceIsLink || Has(targetAttributes, FILE_ATTRIBUTE_DIRECTORY)) return false;
    ClearReadOnlyAttribute(target);
  }
  const DWORD flags = sourceIsLink ? 0 : MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
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

bool MergeFolder(const std::string& source, const std::string& target, DWORD sourceAttributes,
                 DWORD targetAttributes) {
  if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
    if (MoveFileExA(source.c_str(), target.c_str(), 0)) return true;
    if (!CreateDirectoryA(target.c_str(), nullptr)) return false;
    SetFileAttributesA(target.c_str(), sourceAttributes & kKeptFolderAttributes);
  } else if (!Has(targetAttributes, FILE_ATTRIBUTE_DIRECTORY) || Has(targetAttributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
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
  const DWORD sourceAttributes = GetFileAttributesA(source.c_str());
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) return true;
  const DWORD targetAttributes = GetFileAttributesA(target.c_str());
  const bool plainFolder = Has(sourceAttributes, FILE_ATTRIBUTE_DIRECTORY) &&
                           !Has(sourceAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
  const bool moved = plainFolder ? MergeFolder(source, target, sourceAttributes, targetAttributes)
                                 : MoveFileOrLink(source, target, sourceAttributes, targetAttributes);
  return moved && GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES;
}
