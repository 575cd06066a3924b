#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "packer/files.h"

namespace packer {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Owns a file descriptor until it is handed to stdio.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

std::string HostJoin(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  if (!path.empty() && path.back() != '/') path += '/';
  for (char c : relative) path += c == '\\' ? '/' : c;
  return path;
}

static EntryKind KindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return EntryKind::Link;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISREG(mode)) return EntryKind::File;
  return EntryKind::Other;
}

bool ListHostFolder(const std::string& folder, std::vector<HostEntry>& entries) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    const EntryKind kind =
        lstat(HostJoin(folder, name).c_str(), &info) == 0 ? KindOfMode(info.st_mode) : EntryKind::Missing;
    entries.push_back({name, kind, kind == EntryKind::File ? static_cast<std::uint64_t>(info.st_size) : 0});
  }
  return true;
}

EntryKind KindOf(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return EntryKind::Missing;
  return KindOfMode(info.st_mode);
}

bool MakeHostFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return KindOf(path) == EntryKind::Folder;
}

bool MakeHostParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (!MakeHostFolder(path.substr(0, slash))) return false;
  }
  return true;
}

bool RemoveHostTree(const std::string& path) {
  const EntryKind kind = KindOf(path);
  if (kind == EntryKind::Missing) return true;
  if (kind != EntryKind::Folder) return unlink(path.c_str()) == 0;
  std::vector<HostEntry> entries;
  bool removed = ListHostFolder(path, entries);
  for (const HostEntry& entry : entries) {
    if (!RemoveHostTree(path + "/" + entry.name)) removed = false;
  }
  return rmdir(path.c_str()) == 0 && removed;
}

bool RenameHostPath(const std::string& from, const std::string& to) {
  if (KindOf(to) != EntryKind::Missing) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool ReplaceHostFile(const std::string& from, const std::string& to) {
  const EntryKind kind = KindOf(to);
  if (kind != EntryKind::Missing && kind != EntryKind::File) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

HostFile OpenHostFile(const std::string& path, const char* mode) {
  if (mode[0] != 'r') return HostFile(std::fopen(path.c_str(), mode));
  // Non-blocking, so a FIFO opens at once, and then is told apart by fstat.
  Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (fd.Get() < 0 || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return HostFile();
  const int flags = fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return HostFile();
  std::FILE* file = fdopen(fd.Get(), mode);
  if (file) fd.Release();
  return HostFile(file);
}

bool SeekHostFile(const HostFile& file, std::uint64_t offset) {
  const off_t at = static_cast<off_t>(offset);
  return at >= 0 && static_cast<std::uint64_t>(at) == offset && fseeko(file.Get(), at, SEEK_SET) == 0;
}

HostFile CreateNewHostFile(const std::string& path, bool ownerOnly) {
  Descriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, ownerOnly ? 0600 : 0644));
  if (fd.Get() < 0) return HostFile();
  std::FILE* file = fdopen(fd.Get(), "wb");
  if (file) fd.Release();
  return HostFile(file);
}

std::string WithoutTrailingSeparators(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return trimmed;
}

std::string CanonicalHostPath(const std::string& path) {
  // The longest existing head resolved, the rest appended as it is.
  std::string head = WithoutTrailingSeparators(path.empty() ? std::string(".") : path);
  std::string tail;
  for (;;) {
    char resolved[PATH_MAX];
    if (realpath(head.c_str(), resolved)) return WithoutTrailingSeparators(std::string(resolved) + "/" + tail);
    const std::size_t slash = head.find_last_of('/');
    const std::string name = slash == std::string::npos ? head : head.substr(slash + 1);
    if (name == "." || name == "..") return std::string();  // cannot say where a missing ".." leads
    tail = tail.empty() ? name : name + "/" + tail;
    if (slash == std::string::npos) {
      head = ".";
    } else if (slash == 0) {
      head = "/";
    } else {
      head = head.substr(0, slash);
    }
  }
}

bool IsSameOrBelow(const std::string& inner, const std::string& outer) {
  if (inner.empty() || outer.empty()) return false;
  if (inner == outer) return true;
  const std::string prefix = outer.back() == '/' ? outer : outer + "/";
  return inner.compare(0, prefix.size(), prefix) == 0;
}

HostLock::HostLock(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return;
  }
  handle_ = fd;
}

HostLock::~HostLock() {
  if (handle_ != -1) close(static_cast<int>(handle_));
}

}  // namespace packer
