#pragma once
// The steps a stopped or failing launcher can be interrupted between: every
// change to the file system marks one (PinnedTree makes the changes), and
// none of them follows a link or writes into an existing file.

#include <windows.h>

#include <cstddef>
#include <string>

#include "fs/handles.h"

class FlushBehind;
class PinnedTree;

// Marks one change of the named kind about to be made to `path` (and
// `other`, for a rename). The release launcher always goes on; a test build
// of it fails, ends its own process, or lets a rival act, at a chosen step.
[[nodiscard]] bool ReachFaultPoint(const char* kind, const std::string& path, const std::string& other = std::string());

// SHFileOperationA with a filled record; its result (0 success). Its caller
// marks the fault point, before the checks that come just ahead of it.
[[nodiscard]] int RunShellFileOperation(void* operation);

// A file made new (never an existing one), written and flushed, then put in
// place through its own handle: a failed or unfinished write leaves nothing
// behind.
class NewFile {
 public:
  explicit NewFile(PinnedTree& tree) : tree_(tree) {}
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates the tree's file `name`; fails when anything has that name.
  [[nodiscard]] bool Create(const std::string& name);
  // False on a failed or short write.
  [[nodiscard]] bool Write(const void* data, std::size_t size);
  // Hands the written file to `flushBehind` to be flushed while the caller
  // goes on: nothing more is written, and CommitAs waits for that flush.
  void FlushBehindWith(FlushBehind& flushBehind);
  // Flushes the file, then renames it over the tree's `target` and closes it, or with
  // `keep` hands it on open (shared with nobody, with DELETE).
  [[nodiscard]] bool CommitAs(const std::string& target, UniqueFileHandle* keep = nullptr);
  // The bytes written so far.
  unsigned long long Written() const { return written_; }

 private:
  PinnedTree& tree_;
  std::string name_;
  std::string path_;  // the whole path of `name_`, for the fault points
  UniqueFileHandle file_;  // created here and not yet put in place: dropped on failure
  unsigned long long written_ = 0;
  FlushBehind* flushBehind_ = nullptr;
  std::size_t flushTicket_ = 0;  // while the file is lent to `flushBehind_`
};
