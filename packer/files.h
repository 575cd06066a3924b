#pragma once
// The few file-system operations the packer needs, on the build machine's own
// system: POSIX, or Windows through the ANSI functions the launcher uses, so
// names mean the same bytes to both. Paths handed in are in the host's form;
// paths inside a release are relative and use '\', as on the player's machine.

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace packer {

struct HostEntry {
  std::string name;
  bool isFolder = false;
  bool isLink = false;
};

enum class EntryKind { Missing, File, Folder, Link };

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

HostFile OpenHostFile(const std::string& path, const char* mode);

}  // namespace packer
