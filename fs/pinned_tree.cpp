#include "fs/pinned_tree.h"

#include <aclapi.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/flush_behind.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A pinned folder may be listed and written into by anyone, never renamed
// or removed while the launcher works in it.
constexpr DWORD kPinnedShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kPinAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr std::size_t kCopyBlock = 1 << 20;
// What Folder gives for a real folder where the tree works by path.
const HANDLE kByPath = INVALID_HANDLE_VALUE;

std::string Folded(const std::string& path) {
  std::string folded = path;
  for (char& c : folded) c = FoldAsciiCase(c);
  return folded;
}

bool IsLinkBits(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsLinkAt(const std::string& path) { return IsLinkBits(GetFileAttributesA(path.c_str())); }

}  // namespace

bool PinnedTree::StillLeadsTo(HANDLE handle, const std::string& name) {
  const OptionalPath path = PathOf(name);
  return path && LeadsAt(handle, *path);
}

bool PinnedTree::LeadsAt(HANDLE handle, const std::string& path) {
  FileIdentity held;
  return native_.IdentityOf(handle, held) && Leads(path, held, IsLinkAt(path));
}

bool PinnedTree::Leads(const std::string& path, const FileIdentity& held, bool linkAtPath) {
  // Wine opens a link's target even when asked for the link, and shows the
  // link only in the attributes of its path.
  if (linkAtPath && !IsLinkBits(held.attributes)) return false;
  const UniqueFileHandle again(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FileIdentity found;
  return again && native_.IdentityOf(again.Get(), found) && found == held;
}

PinnedTree::PinnedTree(const std::string& root, const std::string& home)
    : rootPath_(root),
      root_(root.empty() ? INVALID_HANDLE_VALUE
                         : CreateFileA(root.c_str(), kPinAccess, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
  while (rootPath_.size() > 3 && rootPath_.back() == '\\') rootPath_.pop_back();
  // Windows 95/98/Me opens no folder: there the tree works by path alone.
  const DWORD attributes = root.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(root.c_str());
  const OptionalPath homePath = JoinPath(rootPath_, home);
  homePath_ = homePath.value_or(std::string());
  valid_ = homePath && (native_.Available() ? root_.Valid()
                                            : attributes != INVALID_FILE_ATTRIBUTES &&
                                                  (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

OptionalPath PinnedTree::PathOf(const std::string& name) const {
  if (!valid_) return std::nullopt;
  return JoinPath(homePath_, name);
}

bool PinnedTree::Resolve(const std::string& name, std::string& path) const {
  OptionalPath whole = PathOf(name);
  if (!whole) {
    SetLastError(ERROR_BAD_PATHNAME);  // a name that would leave the home
    return false;
  }
  path = std::move(*whole);
  return true;
}

EntryAttributes PinnedTree::Query(const std::string& name) const {
  const OptionalPath path = PathOf(name);
  return path ? QueryEntry(*path) : EntryAttributes();
}

HANDLE PinnedTree::Folder(const std::string& name) {
  const OptionalPath path = PathOf(name);
  return path ? FolderAt(*path) : nullptr;
}

HANDLE PinnedTree::FolderAt(const std::string& path) {
  if (EqualsIgnoringAsciiCase(path, rootPath_)) return !valid_ ? nullptr : native_.Available() ? root_.Get() : kByPath;
  const std::string key = Folded(path);
  const auto found = pinned_.find(key);
  if (found != pinned_.end()) return found->second.Get();
  HANDLE parent = nullptr;
  std::string name;
  if (!Parent(path, parent, name)) return nullptr;
  if (!native_.Available()) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool real = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      !IsLinkBits(attributes);
    return real ? kByPath : nullptr;
  }
  UniqueFileHandle folder = native_.Open(parent, name, kPinAccess, kPinnedShare, false, NativeFiles::Kind::Folder);
  FileIdentity identity;
  if (!folder || !native_.IdentityOf(folder.Get(), identity) || IsLinkBits(identity.attributes) ||
      !Leads(path, identity, IsLinkAt(path))) {
    return nullptr;
  }
  const HANDLE handle = folder.Get();
  pinned_.emplace(key, std::move(folder));
  return handle;
}

void PinnedTree::Release(const std::string& name) {
  if (const OptionalPath path = PathOf(name)) ReleaseAt(*path);
}

void PinnedTree::ReleaseAt(const std::string& path) {
  const std::string key = Folded(path);
  // Siblings sharing the name's start ("levels.old" beside "levels") sort
  // between the folder and what it holds: skipped, not taken as the end.
  for (auto it = pinned_.lower_bound(key); it != pinned_.end() && it->first.compare(0, key.size(), key) == 0;) {
    it = it->first == key || IsBelowIgnoringAsciiCase(it->first, key) ? pinned_.erase(it) : std::next(it);
  }
}

bool PinnedTree::Parent(const std::string& path, HANDLE& parent, std::string& name) {
  if (path.size() <= rootPath_.size() + 1 || path[rootPath_.size()] != '\\' ||
      !EqualsIgnoringAsciiCase(path.substr(0, rootPath_.size()), rootPath_)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const std::size_t slash = path.find_last_of('\\');
  name = path.substr(slash + 1);
  if (name.empty()) return false;
  parent = FolderAt(path.substr(0, slash));
  if (!parent) SetLastError(ERROR_PATH_NOT_FOUND);
  return parent != nullptr;
}

UniqueFileHandle PinnedTree::OpenChecked(const std::string& path, DWORD access, DWORD share, NativeFiles::Kind kind,
                                         bool linkAllowed, bool plain) {
  HANDLE parent = nullptr;
  std::string name;
  if (!Parent(path, parent, name)) return UniqueFileHandle();
  if (!native_.Available()) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    UniqueFileHandle entry(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    return entry;
  }
  UniqueFileHandle entry = native_.Open(parent, name, access | FILE_READ_ATTRIBUTES, share, false, kind);
  if (!entry) return entry;
  FileIdentity identity;
  if (!native_.IdentityOf(entry.Get(), identity)) return UniqueFileHandle();
  const bool linkAtPath = IsLinkAt(path);
  const bool link = IsLinkBits(identity.attributes) || linkAtPath;
  const bool secondName = !(identity.attributes & FILE_ATTRIBUTE_DIRECTORY) && identity.links > 1;
  if ((link && !linkAllowed) || (plain && secondName) || !Leads(path, identity, linkAtPath)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return UniqueFileHandle();
  }
  return entry;
}

bool PinnedTree::Reach(const char* kind, const std::string& path, const std::string& other) {
  // The folders of a change are pinned before its fault point: a rival
  // acting there meets the folders held, between their check and the act.
  for (const std::string* changed : {&path, &other}) {
    HANDLE parent = nullptr;
    std::string name;
    if (!changed->empty()) (void)Parent(*changed, parent, name);  // a failure fails the change itself
  }
  return ReachFaultPoint(kind, path, other);
}

bool PinnedTree::MakeFolder(const std::string& name) {
  std::string path;
  if (!Resolve(name, path)) return false;
  if (!Reach("make folder", path)) return false;
  HANDLE parent = nullptr;
  std::string last;
  if (!Parent(path, parent, last)) return false;
  if (!native_.Available()) return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  // Made in the held folder, wherever its path leads now; made pinned: the
  // launcher works in what it makes.
  UniqueFileHandle folder = native_.Open(parent, last, kPinAccess, kPinnedShare, true, NativeFiles::Kind::Folder);
  if (!folder) return false;
  pinned_[Folded(path)] = std::move(folder);
  return true;
}

bool PinnedTree::Rename(const std::string& from, const std::string& to, bool replace, HANDLE held, bool realFolder) {
  ReleaseAt(from);
  HANDLE targetFolder = nullptr;
  std::string targetName;
  if (!Parent(to, targetFolder, targetName)) return false;
  if (!native_.Available()) {
    if (realFolder && !QueryEntry(from).IsRealFolder()) return false;
    return MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
  }
  UniqueFileHandle opened;
  if (!held) {
    opened = OpenChecked(from, DELETE, FILE_SHARE_READ,
                         realFolder ? NativeFiles::Kind::Folder : NativeFiles::Kind::Any, !realFolder, false);
    held = opened.Get();
  } else if (!LeadsAt(held, from)) {
    SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  return held && held != INVALID_HANDLE_VALUE && LeadsAt(targetFolder, to.substr(0, to.find_last_of('\\'))) &&
         native_.Rename(held, targetFolder, targetName, replace);
}

bool PinnedTree::RenameEntry(const std::string& fromName, const std::string& toName, HANDLE held) {
  std::string from, to;
  return Resolve(fromName, from) && Resolve(toName, to) && Reach("rename", from, to) &&
         Rename(from, to, false, held);
}

bool PinnedTree::MoveRealFolder(const std::string& fromName, const std::string& toName) {
  std::string from, to;
  if (!Resolve(fromName, from) || !Resolve(toName, to) || !Reach("rename", from, to)) return false;
  // What the folder holds moves with it unseen: every folder pinned below it
  // must still lie at its path, so that none was swapped for another.
  const std::string key = Folded(from);
  for (auto it = pinned_.lower_bound(key); it != pinned_.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
    if (IsBelowIgnoringAsciiCase(it->first, key) && !LeadsAt(it->second.Get(), it->first)) {
      SetLastError(ERROR_FILE_INVALID);
      return false;
    }
  }
  return Rename(from, to, false, nullptr, true);
}

bool PinnedTree::RenameOver(const std::string& fromName, const std::string& toName) {
  std::string from, to;
  return Resolve(fromName, from) && Resolve(toName, to) && Reach("rename over", from, to) &&
         Rename(from, to, true, nullptr);
}

bool PinnedTree::RemoveFileEntry(const std::string& name, HANDLE held) {
  std::string path;
  if (!Resolve(name, path)) return false;
  if (!Reach("remove file", path)) return false;
  if (!native_.Available()) return DeleteFileA(path.c_str()) != FALSE;
  // A held file goes as itself, with no check by path: Windows removes the
  // object the handle is open on, and Wine's server removes the path the
  // file was opened at only while that path still leads to this very file
  // (it compares device and inode just before).
  if (held && held != INVALID_HANDLE_VALUE) return native_.MarkForDeletion(held);
  const UniqueFileHandle entry = OpenChecked(path, DELETE, 0, NativeFiles::Kind::File, true, false);
  return entry && native_.MarkForDeletion(entry.Get());
}

bool PinnedTree::RemoveEmptyFolder(const std::string& name) {
  std::string path;
  if (!Resolve(name, path)) return false;
  if (!Reach("remove folder", path)) return false;
  ReleaseAt(path);
  if (!native_.Available()) return RemoveDirectoryA(path.c_str()) != FALSE;
  const UniqueFileHandle entry = OpenChecked(path, DELETE, 0, NativeFiles::Kind::Folder, true, false);
  return entry && native_.MarkForDeletion(entry.Get());
}

bool PinnedTree::SetAttributes(const std::string& name, DWORD attributes) {
  std::string path;
  if (!Resolve(name, path)) return false;
  if (!Reach("set attributes", path)) return false;
  if (!native_.Available()) return SetFileAttributesA(path.c_str(), attributes) != FALSE;
  const UniqueFileHandle entry =
      OpenChecked(path, FILE_WRITE_ATTRIBUTES, kShareAll, NativeFiles::Kind::Any, false, true);
  return entry && native_.SetAttributes(entry.Get(), attributes);
}

bool PinnedTree::OpenAccess(const std::string& name) {
  std::string path;
  if (!Resolve(name, path) || !Reach("open access", path)) return false;
  const UniqueFileHandle entry = OpenPlainAt(path, READ_CONTROL | WRITE_DAC, kShareAll);
  if (!entry) return false;
  const DWORD result = SetSecurityInfo(entry.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       nullptr, nullptr);
  SetLastError(result);
  return result == ERROR_SUCCESS;
}

UniqueFileHandle PinnedTree::OpenPlain(const std::string& name, DWORD access, DWORD share) {
  std::string path;
  return Resolve(name, path) ? OpenPlainAt(path, access, share) : UniqueFileHandle();
}

UniqueFileHandle PinnedTree::OpenPlainAt(const std::string& path, DWORD access, DWORD share) {
  if (!native_.Available()) {
    return UniqueFileHandle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  return OpenChecked(path, access, share, NativeFiles::Kind::Any, false, true);
}

UniqueFileHandle PinnedTree::CreateNewFile(const std::string& name, bool openToAll) {
  std::string path;
  return Resolve(name, path) ? CreateAt(path, openToAll) : UniqueFileHandle();
}

UniqueFileHandle PinnedTree::CreateAt(const std::string& path, bool openToAll) {
  const DWORD access =
      GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | (openToAll ? WRITE_DAC : 0);
  HANDLE parent = nullptr;
  std::string last;
  if (!Parent(path, parent, last)) return UniqueFileHandle();
  if (!native_.Available()) {
    return UniqueFileHandle(CreateFileA(path.c_str(), access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  // Made in the held folder, wherever its path leads now: what is done with
  // it by name later is checked then.
  UniqueFileHandle file = native_.Open(parent, last, access, 0, true, NativeFiles::Kind::File);
  // Opened up through this very handle. Not with a descriptor at creation:
  // Wine would apply the process's umask to it.
  if (file && openToAll &&
      SetSecurityInfo(file.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
    DropAt(file, path);
  }
  return file;
}

bool PinnedTree::CommitNewFile(UniqueFileHandle& file, const std::string& name, const std::string& toName,
                               UniqueFileHandle* keep) {
  std::string path, to;
  if (!Resolve(name, path) || !Resolve(toName, to)) {
    const DWORD error = GetLastError();
    DropNewFile(file, name);
    SetLastError(error);
    return false;
  }
  if (!native_.Available()) {
    file.Reset();
    if (MoveFileExA(path.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    (void)DeleteFileA(path.c_str());  // a file that stays is only a leftover
    SetLastError(error);
    return false;
  }
  HANDLE targetFolder = nullptr;
  std::string targetName;
  // Wine renames by the path the file was made at: it must still lead here.
  const bool renamed = Parent(to, targetFolder, targetName) && LeadsAt(file.Get(), path) &&
                       LeadsAt(targetFolder, to.substr(0, to.find_last_of('\\'))) &&
                       native_.Rename(file.Get(), targetFolder, targetName, true);
  const DWORD error = GetLastError();
  if (!renamed) DropAt(file, path);
  if (renamed && keep) *keep = std::move(file);
  file.Reset();
  SetLastError(error);
  return renamed;
}

void PinnedTree::DropNewFile(UniqueFileHandle& file, const std::string& name) {
  DropAt(file, PathOf(name).value_or(std::string()));
}

void PinnedTree::DropAt(UniqueFileHandle& file, const std::string& path) {
  if (!native_.Available()) {
    file.Reset();
    (void)DeleteFileA(path.c_str());  // nothing more can be done for a file that stays
    return;
  }
  // Removed as the object made, whatever its path now leads to.
  if (file) (void)native_.MarkForDeletion(file.Get());  // a file that stays is only a leftover
  file.Reset();
}

bool PinnedTree::CopyToNewFile(const std::string& from, const std::string& toName, bool* sourceUnreadable,
                               const WhileBusy& whileBusy, FlushBehind* flushBehind) {
  std::string to;
  if (!Resolve(toName, to) || !Reach("copy", from, to)) return false;
  const UniqueFileHandle source(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source && sourceUnreadable) *sourceUnreadable = true;
  // Time and attributes alone: GetFileInformationByHandle would ask Wine's
  // mount manager for the volume's serial too, at a millisecond a file.
  FILETIME lastWrite{};
  const DWORD attributes = !source                 ? INVALID_FILE_ATTRIBUTES
                           : native_.Available() ? native_.AttributesOf(source.Get())
                                                 : GetFileAttributesA(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !GetFileTime(source.Get(), nullptr, nullptr, &lastWrite)) return false;
  // Made as the access pass leaves a file: open to everyone, writable.
  UniqueFileHandle target = CreateAt(to, true);
  if (!target) return false;
  // One block for every copy of the pass: a fresh megabyte a file costs
  // about 1.5 ms under Wine (mapped, zeroed, unmapped).
  std::vector<char>& block = copyBlock_;
  block.resize(kCopyBlock);
  bool copied = true;
  for (;;) {
    DWORD got = 0, written = 0;
    if (!ReadFile(source.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
      copied = false;
      break;
    }
    if (got == 0) break;
    if (!WriteFile(target.Get(), block.data(), got, &written, nullptr) || written != got) {
      copied = false;
      break;
    }
    whileBusy();
  }
  const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  // On the disk before the copy's commit moves it in: a power cut after the
  // commit must not leave it empty behind a data folder taken as whole.
  copied = copied && SetFileTime(target.Get(), nullptr, nullptr, &lastWrite) &&
           (!native_.Available() || native_.SetAttributes(target.Get(), writable)) && Reach("flush", to);
  // Windows 95/98/Me set the attributes by name, once the file is closed.
  const bool behind = copied && flushBehind && native_.Available();
  if (behind) {
    flushBehind->Add(std::move(target));
    return true;
  }
  copied = copied && FlushFileBuffers(target.Get());
  const DWORD error = GetLastError();
  if (!copied) DropAt(target, to);
  target.Reset();
  if (copied && !native_.Available()) copied = SetFileAttributesA(to.c_str(), writable) != FALSE;
  SetLastError(error);
  return copied;
}

PinnedTree::ListEnd PinnedTree::List(const std::string& name, const std::function<bool(const Listed&)>& visit) {
  std::string path;
  if (!Resolve(name, path)) return ListEnd::Failed;
  if (native_.Available()) {
    const HANDLE folder = FolderAt(path);
    return folder ? native_.List(folder, visit) : ListEnd::Failed;
  }
  if (!FolderAt(path) || path.size() + 4 >= MAX_PATH) return ListEnd::Failed;
  WIN32_FIND_DATAA data;
  const UniqueFindHandle search(FindFirstFileA((path + "\\*.*").c_str(), &data));
  if (!search) return ListEnd::Failed;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    Listed listed;
    listed.name = data.cFileName;
    listed.attributes = data.dwFileAttributes;
    listed.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    listed.representable = listed.name.find('?') == std::string::npos;
    if (!visit(listed)) return ListEnd::Stopped;
  } while (FindNextFileA(search.Get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES ? ListEnd::Complete : ListEnd::Failed;
}

bool IsPlainReplaceableFile(PinnedTree& tree, const std::string& name) {
  // Opening it for deletion while sharing everything fails exactly when
  // another handle denies that.
  return !tree.Query(name).IsFolder() && tree.OpenPlain(name, DELETE | FILE_READ_ATTRIBUTES).Valid();
}

bool MakeWritable(PinnedTree& tree, const std::string& name) {
  const EntryAttributes attributes = tree.Query(name);
  if (!attributes.Exists() || attributes.IsFolder() || attributes.IsLink()) return false;
  if (!attributes.Has(FILE_ATTRIBUTE_READONLY)) return true;
  return tree.SetAttributes(name, attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}
