#include "fs/remove.h"

#include "fs/change.h"
#include "fs/entry.h"
#include "fs/walk.h"

bool RemoveFileSafely(const std::string& path) {
  if (QueryEntry(path).Has(FILE_ATTRIBUTE_READONLY) && !MakeWritable(path)) return false;
  return RemoveFileEntry(path);
}

namespace {

bool RemoveOne(const std::string& path, const EntryAttributes& attributes) {
  if (attributes.IsLink()) return attributes.IsFolder() ? RemoveEmptyFolder(path) : RemoveFileEntry(path);
  return attributes.IsFolder() ? RemoveEmptyFolder(path) : RemoveFileSafely(path);
}

}  // namespace

bool RemoveTreeSafely(const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Exists()) return true;
  bool removedAll = true;
  if (attributes.IsRealFolder()) {
    removedAll = WalkTree(path, WalkOrder::ContentsFirst, [&](const TreeEntry& entry) {
      if (!RemoveOne(entry.path, QueryEntry(entry.path))) removedAll = false;
      return true;
    });
  }
  return RemoveOne(path, attributes) && removedAll;
}
