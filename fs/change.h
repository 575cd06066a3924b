#pragma once
// Every change the launcher makes to the file system goes through these calls:
// they are the steps a stopped or failing launcher can be interrupted
// between, and none of them follows a link or writes into an existing file.
// Each result is the platform call's, false on failure.

#include <windows.h>

#include <cstddef>
#include <string>

// Marks one change of the named kind about to be made. The release launcher
// always goes on; a test build of it fails, or ends its own process, at a
// chosen step.
[[nodiscard]] bool ReachFaultPoint(const char* kind);

// Makes one folder; fails when anything already has that name.
[[nodiscard]] bool MakeFolder(const std::string& path);

// Renames a file, folder or link; fails when `to` exists. Never copies.
[[nodiscard]] bool RenameEntry(const std::string& from, const std::string& to);

// Renames the file `from` over `to`, which is replaced as a name: a link or a
// second name of a file elsewhere is replaced, never written through.
[[nodiscard]] bool RenameOver(const std::string& from, const std::string& to);

// Removes the name of a file (the link itself, for a link).
[[nodiscard]] bool RemoveFileEntry(const std::string& path);

// Removes an empty folder, or the folder link itself.
[[nodiscard]] bool RemoveEmptyFolder(const std::string& path);

[[nodiscard]] bool SetEntryAttributes(const std::string& path, DWORD attributes);

// Copies the file `from` to `to`, which must not exist yet.
[[nodiscard]] bool CopyToNewFile(const std::string& from, const std::string& to);

// Opens everything to everyone on the object behind `handle` (a null access
// list).
[[nodiscard]] bool OpenAccessOf(HANDLE handle);

// SHFileOperationA with a filled record; its result (0 success).
[[nodiscard]] int RunShellFileOperation(void* operation);

// A file made new (never an existing one), written and flushed, then put in
// place: a failed or unfinished write leaves nothing behind.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates `path`; fails when anything has that name.
  [[nodiscard]] bool Create(const std::string& path);
  // False on a failed or short write.
  [[nodiscard]] bool Write(const void* data, std::size_t size);
  // Flushes and closes the file, then renames it over `target`.
  [[nodiscard]] bool CommitAs(const std::string& target);

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool ours_ = false;  // created here and not yet put in place: removed on failure
};
