#include "provisioning/access.h"

#include <windows.h>
#include <aclapi.h>

#include "fs/handles.h"
#include "fs/walk.h"

namespace {

// The company folder is writable by everyone once opened up, so anyone may
// plant a junction, a symbolic link or a hard link to a file elsewhere in it.
// An entry is opened without following a reparse point, and is refused when
// it is one, or a file with more than one name.
UniqueFileHandle OpenOwnEntry(const std::string& path, DWORD access) {
  UniqueFileHandle handle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return handle;
  // Wine opens a link's target even so and reports the target's attributes
  // through the handle; only the path's own attributes show the link there.
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Exists() || attributes.IsLink()) return UniqueFileHandle();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.Get(), &info)) return UniqueFileHandle();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return UniqueFileHandle();
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return UniqueFileHandle();
  return handle;
}

// The access list is set through the checked handle, so the entry cannot be
// swapped for a link between the check and the change.
void OpenUpOne(const std::string& path) {
  const UniqueFileHandle handle = OpenOwnEntry(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES);
  if (!handle) return;
  // A null access list lets everyone do everything.
  SetSecurityInfo(handle.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
}

// The attribute is set by path, not through the handle: Windows XP has no
// call for that. The path is looked at again right before, so only a swap in
// that instant could redirect the change.
void ClearReadOnlyOne(const std::string& path) {
  if (!OpenOwnEntry(path, FILE_READ_ATTRIBUTES)) return;
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Has(FILE_ATTRIBUTE_READONLY) || attributes.IsLink() || attributes.IsFolder()) return;
  SetFileAttributesA(path.c_str(), attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

}  // namespace

void OpenUpAccess(const std::string& folder) {
  if (IsLink(folder)) return;
  WalkTree(folder, WalkOrder::ContentsFirst, [](const TreeEntry& entry) {
    if (!entry.isLink) OpenUpOne(entry.path);
    return true;
  });
  OpenUpOne(folder);
}

void ClearReadOnly(const std::string& folder) {
  if (IsLink(folder)) return;
  WalkTree(folder, WalkOrder::ParentsFirst, [](const TreeEntry& entry) {
    if (!entry.isFolder && !entry.isLink) ClearReadOnlyOne(entry.path);
    return true;
  });
}
