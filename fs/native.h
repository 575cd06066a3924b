#pragma once
// The native calls that name a file relative to an open folder and act on an
// open handle: the Win32 calls all take whole paths, which are resolved again
// at every call. Looked up at run time: Windows 95/98/Me has none of them
// (nor links, nor access lists), and there the launcher works by path.

#include <windows.h>

#include <functional>
#include <string>

#include "fs/handles.h"

// What tells one object from another: equal for two handles exactly when
// they are open on the same object.
struct FileIdentity {
  // The volume by its size in bytes. Its serial would say more, but Wine
  // asks its mount manager for it (0.3 to 1.4 ms a call, against
  // microseconds here) and reports 0 for most unix folders anyway.
  unsigned long long volume = 0;
  unsigned long long number = 0;  // the file number on that volume
  DWORD links = 0;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  bool operator==(const FileIdentity& other) const { return volume == other.volume && number == other.number; }
};

class NativeFiles {
 public:
  NativeFiles();
  // Whether the calls are there (every NT-based Windows, Wine).
  bool Available() const { return available_; }

  // Opens `name` (one name, no separator) in the folder `folder`, never
  // following a link at it where the platform can tell one; `create` makes
  // it new instead, failing when the name is taken. `kind` says what it must
  // be. Sets the thread's last error on failure.
  enum class Kind { Any, Folder, File };
  [[nodiscard]] UniqueFileHandle Open(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG share,
                                      bool create, Kind kind) const;

  // Renames the entry behind `entry` to `name` in the folder `folder`.
  [[nodiscard]] bool Rename(HANDLE entry, HANDLE folder, const std::string& name, bool replace) const;
  // Marks the entry behind `entry` (opened with DELETE) to go when closed.
  [[nodiscard]] bool MarkForDeletion(HANDLE entry) const;
  // Sets the attributes of the entry behind `entry` (opened with
  // FILE_WRITE_ATTRIBUTES), its times unchanged.
  [[nodiscard]] bool SetAttributes(HANDLE entry, DWORD attributes) const;
  // The attributes the handle reports; INVALID_FILE_ATTRIBUTES on failure.
  [[nodiscard]] DWORD AttributesOf(HANDLE entry) const;
  // The identity of the object behind `entry`.
  [[nodiscard]] bool IdentityOf(HANDLE entry, FileIdentity& identity) const;

  // One entry of a folder listing ("." and ".." left out).
  struct Listed {
    std::string name;
    DWORD attributes = 0;
    unsigned long long size = 0;  // a file's, as the listing saw it
    bool representable = true;    // the name has an ANSI spelling that names it
  };
  enum class ListEnd { Complete, Stopped, Failed };
  // Lists the folder behind `folder` (opened with FILE_LIST_DIRECTORY) until
  // `visit` returns false. Complete only when the platform said the listing
  // ended; Failed when it stopped for any other reason.
  [[nodiscard]] ListEnd List(HANDLE folder, const std::function<bool(const Listed&)>& visit) const;

 private:
  bool Fail(long status) const;

  bool available_ = false;
  void* createFile_ = nullptr;
  void* setInformation_ = nullptr;
  void* queryInformation_ = nullptr;
  void* queryDirectory_ = nullptr;
  void* queryVolume_ = nullptr;
  void* statusToError_ = nullptr;
};
