#pragma once
// The few file-system operations the packer needs, on the build machine's own
// system: POSIX, or Windows through its wide-character functions. Every path
// and name is UTF-8 in both builds, so both write the same manifest. Paths
// handed in are in the host's form; paths inside a release are relative and
// use '\', as on the player's machine.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace packer {

enum class EntryKind {
  Missing,
  File,    // a plain file
  Folder,  // a real folder
  Link,    // a symbolic link, junction or other reparse point, never followed
  Other,   // a FIFO, socket or device: never opened, so never waited on
};

struct HostEntry {
  std::string name;
  EntryKind kind = EntryKind::File;
  std::uint64_t size = 0;  // a plain file's, as listed
  bool IsFolder() const { return kind == EntryKind::Folder; }
};

// `base` and a release-relative path joined, in the host's form.
std::string HostJoin(const std::string& base, const std::string& relative);

// The entries of `folder` (not "." or ".."), unsorted. False when it cannot be read.
[[nodiscard]] bool ListHostFolder(const std::string& folder, std::vector<HostEntry>& entries);

// What `path` is, never following a link.
EntryKind KindOf(const std::string& path);

// Creates one folder level; true when a real folder is there afterwards.
[[nodiscard]] bool MakeHostFolder(const std::string& path);

// Creates the folders on the way to `path` (not `path` itself) that are missing.
[[nodiscard]] bool MakeHostParents(const std::string& path);

// Removes a tree for good, never following links. True when nothing is left.
[[nodiscard]] bool RemoveHostTree(const std::string& path);

// Renames a file or folder into a free name.
[[nodiscard]] bool RenameHostPath(const std::string& from, const std::string& to);

// Renames a file over `to`, replacing a plain file there in one step (a
// reader sees the old file or the new one, never neither); never replaces a
// folder or a link.
[[nodiscard]] bool ReplaceHostFile(const std::string& from, const std::string& to);

// Owns an open stdio file; closes it once.
class HostFile {
 public:
  HostFile() = default;
  explicit HostFile(std::FILE* file) : file_(file) {}
  ~HostFile() { (void)Close(); }
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  HostFile(HostFile&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
  HostFile& operator=(HostFile&& other) noexcept {
    if (this != &other) {
      (void)Close();
      file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
  }
  std::FILE* Get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // False when buffered data could not be written.
  [[nodiscard]] bool Close() {
    if (!file_) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  std::FILE* file_ = nullptr;
};

// Opens a file with a stdio mode. For reading ("rb") only a plain file opens:
// a FIFO, a device or a folder fails at once, without blocking.
HostFile OpenHostFile(const std::string& path, const char* mode);

// Creates a file that does not exist yet (never one that does, nor through a
// link) and opens it for writing, in one step. With `ownerOnly` it is made
// readable by its owner alone from the start (on POSIX systems; on Windows
// it takes its folder's access list).
HostFile CreateNewHostFile(const std::string& path, bool ownerOnly);

// The whole content of a plain file of at most `limit` bytes; nullopt when
// it cannot be read, is no plain file, or is larger.
std::optional<std::string> ReadHostFile(const std::string& path, std::size_t limit);

// `size` bytes of a plain file from byte `offset` on; nullopt when it cannot
// be read or ends before.
std::optional<std::string> ReadHostFileRange(const std::string& path, std::uint64_t offset, std::size_t size);

// Moves an open file to byte `offset`, past 2 GiB as well.
[[nodiscard]] bool SeekHostFile(const HostFile& file, std::uint64_t offset);

// `path` made absolute, its trailing separators dropped (a root keeps its
// own), so that two spellings of one folder compare equal; links on the way
// are resolved as far as the path exists. "" when it cannot be worked out.
std::string CanonicalHostPath(const std::string& path);

// Whether `inner` is `outer` or lies below it (both canonical).
bool IsSameOrBelow(const std::string& inner, const std::string& outer);

// An exclusive lock on the file `path` (made when missing), held while it
// lives and released when the process ends, however it ends; Held() is
// false when another holds it (it never waits) or the file cannot be made.
class HostLock {
 public:
  explicit HostLock(const std::string& path);
  ~HostLock();
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;
  bool Held() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};

// `path` without trailing separators, except a root's ("/", "C:\").
std::string WithoutTrailingSeparators(const std::string& path);

}  // namespace packer
