#pragma once
// The folders one pass of the launcher works in, bound to what it checked.
//
// The data folder lies where every local account can write, so any of them
// may swap a folder on a path for a link between the launcher's check and
// its act. A PinnedTree opens each folder below its root once, level by
// level relative to the folder above and never following a link, and holds
// it open in a mode that refuses renaming or deleting it where the platform
// honours that. Every change below the root is made relative to those
// handles, on a handle opened on the entry itself and checked just before:
// no link where a plain entry is wanted, and the path still leading to the
// very object opened (which catches a swap the platform let through).
//
// Every name the tree takes is relative to its home (empty: the home
// itself) and can never leave it: whole paths are made inside, and only
// PathOf hands one out, for where a path leaves the process (the Recycle
// Bin, a module's load, a report).
//
// Each change first marks its fault point. Results are the platform call's,
// false on failure (the thread's last error then says why).

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fs/handles.h"
#include "fs/entry.h"
#include "fs/native.h"
#include "fs/path.h"
#include "fs/while_busy.h"

class FlushBehind;

class PinnedTree {
 public:
  // `root` is trusted as it is named (the machine's application-data
  // folder, an install folder); what lies below it is not, `home` (relative
  // to `root`, which it is when empty) included: its levels are pinned as
  // any other folder's.
  explicit PinnedTree(const std::string& root, const std::string& home = std::string());
  PinnedTree(const PinnedTree&) = delete;
  PinnedTree& operator=(const PinnedTree&) = delete;

  bool Valid() const { return valid_; }
  // The whole path of `name`; nothing when it does not fit or would leave
  // the home (a drive, a UNC prefix, a "." or ".." segment).
  [[nodiscard]] OptionalPath PathOf(const std::string& name) const;
  // What the entry `name` is, asked of its path (a link is never followed).
  [[nodiscard]] EntryAttributes Query(const std::string& name) const;

  // The handle of the real folder `name`, pinned on first use; null when a
  // level is missing, a link or no folder.
  [[nodiscard]] HANDLE Folder(const std::string& name);
  // Lets go of the folder `name` and every folder below it: before the
  // launcher renames or removes it itself, or hands it to the shell.
  void Release(const std::string& name);

  // Makes one folder; fails when anything has that name.
  [[nodiscard]] bool MakeFolder(const std::string& name);
  // Renames a file, folder or link as a name; fails when `to` exists. With
  // `held`, the file held open (with DELETE) since it was checked is
  // renamed through that handle, and only while `from` still leads to it.
  [[nodiscard]] bool RenameEntry(const std::string& from, const std::string& to, HANDLE held = nullptr);
  // Moves the real folder `from`, with all it holds, to `to`, which must not
  // exist: never a link, which would lead whatever is later written there
  // out of the tree, nor while a folder pinned below it was swapped away.
  [[nodiscard]] bool MoveRealFolder(const std::string& from, const std::string& to);
  // Renames the entry `from` over `to`, which is replaced as a name: a link
  // or a second name of a file elsewhere is replaced, never written through.
  [[nodiscard]] bool RenameOver(const std::string& from, const std::string& to);
  // Removes the name of a file (the link itself, for a link). With `held`,
  // the file held open (with DELETE) since it was checked as `name` goes
  // through that handle, as the handle closes.
  [[nodiscard]] bool RemoveFileEntry(const std::string& name, HANDLE held = nullptr);
  // Removes an empty folder, or the folder link itself.
  [[nodiscard]] bool RemoveEmptyFolder(const std::string& name);
  // Sets the attributes of a plain entry: no link, and for a file its only
  // name (a second name shares them with a file that may lie anywhere).
  [[nodiscard]] bool SetAttributes(const std::string& name, DWORD attributes);
  // Opens everything to everyone (a null access list) on a plain entry.
  [[nodiscard]] bool OpenAccess(const std::string& name);
  // Copies the file at the whole path `from` (outside the tree, trusted as
  // named) to `to`, which must not exist yet, with its time and its
  // attributes but read-only. The copy is made open to everyone (a null access list), as
  // OpenAccess would leave it. `sourceUnreadable`: set when `from` could not
  // be opened for reading (another program holds it without sharing it).
  // `whileBusy` is called after each block. With `flushBehind`, the copy is
  // handed to it to be flushed and closed while the next is made: only its
  // Finish says that the copy reached the disk.
  [[nodiscard]] bool CopyToNewFile(const std::string& from, const std::string& to, bool* sourceUnreadable = nullptr,
                                   const WhileBusy& whileBusy = {}, FlushBehind* flushBehind = nullptr);

  // Opens the plain entry at `name` (no link; for a file, its only name)
  // with `access`, sharing what `share` allows; invalid otherwise.
  [[nodiscard]] UniqueFileHandle OpenPlain(const std::string& name, DWORD access,
                                           DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  // Creates the file `name` new for writing, shared with nobody; invalid
  // when anything has that name. Opened with DELETE, so that it can be put
  // in place or dropped through this very handle. `openToAll`: made with a
  // null access list, as OpenAccess would leave it.
  [[nodiscard]] UniqueFileHandle CreateNewFile(const std::string& name, bool openToAll = false);
  // Renames the file made by CreateNewFile at `name` over `to`, and closes
  // it, or with `keep` hands the open handle on.
  [[nodiscard]] bool CommitNewFile(UniqueFileHandle& file, const std::string& name, const std::string& to,
                                   UniqueFileHandle* keep = nullptr);
  // Whether the path of `name` leads to the very object open as `handle`, and
  // no link stands at its end: the check just before every act by name,
  // against a folder on the way swapped for a link by whoever the platform
  // let do it.
  [[nodiscard]] bool StillLeadsTo(HANDLE handle, const std::string& name);
  // Whether files can be held open and renamed through their handles.
  bool HoldsHandles() const { return native_.Available(); }
  // Removes the file made by CreateNewFile at `name`, and closes it.
  void DropNewFile(UniqueFileHandle& file, const std::string& name);

  using Listed = NativeFiles::Listed;
  using ListEnd = NativeFiles::ListEnd;
  // Lists the real folder at `name` through its pinned handle.
  [[nodiscard]] ListEnd List(const std::string& name, const std::function<bool(const Listed&)>& visit);

 private:
  // The whole path of `name` into `path`; false, with ERROR_BAD_PATHNAME,
  // when there is none.
  bool Resolve(const std::string& name, std::string& path) const;
  // The implementations by whole path, below the root.
  HANDLE FolderAt(const std::string& path);
  void ReleaseAt(const std::string& path);
  UniqueFileHandle OpenPlainAt(const std::string& path, DWORD access, DWORD share);
  UniqueFileHandle CreateAt(const std::string& path, bool openToAll);
  void DropAt(UniqueFileHandle& file, const std::string& path);
  bool LeadsAt(HANDLE handle, const std::string& path);
  // The pinned parent of `path` and the last name of it; false when `path`
  // does not lie below the root or its parent cannot be pinned.
  bool Parent(const std::string& path, HANDLE& parent, std::string& name);
  // Opens the entry at `path` relative to its pinned parent, and checks it:
  // a link only when `linkAllowed`, and the path still leading to it.
  UniqueFileHandle OpenChecked(const std::string& path, DWORD access, DWORD share, NativeFiles::Kind kind,
                               bool linkAllowed, bool plain);
  bool Rename(const std::string& from, const std::string& to, bool replace, HANDLE held, bool realFolder = false);
  // StillLeadsTo for an object whose identity was just read, and whether
  // the path's own attributes show a link.
  bool Leads(const std::string& path, const FileIdentity& held, bool linkAtPath);
  // Pins the folders of a change, then marks its fault point.
  bool Reach(const char* kind, const std::string& path, const std::string& other = std::string());

  NativeFiles native_;
  std::string rootPath_;
  std::string homePath_;
  UniqueFileHandle root_;
  bool valid_ = false;
  std::map<std::string, UniqueFileHandle> pinned_;  // by the folded path
  std::vector<char> copyBlock_;                     // CopyToNewFile's, kept between files
};

// Whether `name` is a plain file (no link, its only name) and nobody holds
// it open in a way that forbids renaming or deleting it.
[[nodiscard]] bool IsPlainReplaceableFile(PinnedTree& tree, const std::string& name);

// Clears the read-only attribute of the plain file `name` so that it can
// be renamed or removed. False when it is no plain file or the change failed.
[[nodiscard]] bool MakeWritable(PinnedTree& tree, const std::string& name);
