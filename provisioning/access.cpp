#include <windows.h>
#include <aclapi.h>

#include "fs/handles.h"
#include "fs/path.h"
#include "fs/walk.h"
#include "provisioning/provisioning.h"

namespace {

// The company folder is writable by everyone once opened up, so anyone may
// plant a junction, a symbolic link or a hard link to a file elsewhere in it.
// An entry is opened without following a reparse point and is left alone when
// it is one, or when it is a file with more than one name; the access list is
// then set through that same handle, so the entry cannot be swapped for a
// link between the check and the change.
UniqueFileHandle OpenOwnEntry(const std::string& path, DWORD access) {
  UniqueFileHandle handle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return handle;
  // Wine opens a link's target even so and reports the target's attributes
  // through the handle; only the path's own attributes show the link there.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return UniqueFileHandle();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.Get(), &info)) return UniqueFileHandle();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return UniqueFileHandle();
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return UniqueFileHandle();
  return handle;
}

void OpenUpOne(const std::string& path) {
  const UniqueFileHandle handle = OpenOwnEntry(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES);
  if (!handle) return;
  // A null access list lets everyone do everything.
  SetSecurityInfo(handle.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
}

void ClearReadOnlyOne(const std::string& path) {
  if (!OpenOwnEntry(path, FILE_READ_ATTRIBUTES)) return;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return;
  SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// Walks the tree below `folder` without following links: `onFile` for each
// file when the walk meets it, `afterFolder` (if any) for each folder once its
// contents are done, so `folder` itself comes last.
void WalkOwnTree(const std::string& folder, void (*onFile)(const std::string&),
                 void (*afterFolder)(const std::string&)) {
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    if (entry.isLink) return true;
    const OptionalPath child = JoinPath(folder, entry.name);
    if (!child) return true;
    if (entry.isFolder) {
      WalkOwnTree(*child, onFile, afterFolder);
    } else {
      onFile(*child);
    }
    return true;
  });
  if (afterFolder) afterFolder(folder);
}

}  // namespace

void OpenUpAccess(const std::string& folder) {
  if (!IsLink(folder)) WalkOwnTree(folder, OpenUpOne, OpenUpOne);
}

void ClearReadOnly(const std::string& folder) {
  if (!IsLink(folder)) WalkOwnTree(folder, ClearReadOnlyOne, nullptr);
}
