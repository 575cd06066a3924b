#include "provisioning/access.h"

#include <windows.h>

#include "fs/change.h"
#include "fs/entry.h"
#include "fs/walk.h"

namespace {

// The company folder is writable by everyone once opened up, so anyone may
// plant a junction, a symbolic link or a hard link in it: only plain entries
// are changed, the access list through the handle that was checked.
void OpenUpOne(const std::string& path) {
  const UniqueFileHandle handle = OpenPlainEntry(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES);
  if (!handle) return;
  // The attribute is set by path (Windows XP has no call for it through a
  // handle), right after the handle showed the entry plain.
  const EntryAttributes attributes = QueryEntry(path);
  if (attributes.Has(FILE_ATTRIBUTE_READONLY) && !attributes.IsFolder() && !attributes.IsLink()) {
    (void)SetEntryAttributes(path, attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  (void)OpenAccessOf(handle.Get());
}

}  // namespace

void OpenUpAccess(const std::string& folder) {
  if (!QueryEntry(folder).IsRealFolder()) return;
  WalkTree(folder, WalkOrder::ContentsFirst, [](const TreeEntry& entry) {
    if (!entry.isLink) OpenUpOne(entry.path);
    return true;
  });
  OpenUpOne(folder);
}
