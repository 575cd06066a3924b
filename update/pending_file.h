#pragma once
// A file written under a temporary name and put in place only when complete.

#include <cstddef>
#include <string>

#include "fs/handles.h"

// Owns the temporary file it created: unless Commit succeeded, the
// destructor closes and deletes it, so a failed write leaves nothing behind.
// A file it never created (a failed Open) is never deleted.
class PendingFile {
 public:
  explicit PendingFile(std::string temporaryPath);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file, replacing a leftover of the same name.
  [[nodiscard]] bool Open();
  // False on a failed or short write.
  [[nodiscard]] bool Write(const unsigned char* data, std::size_t size);
  // Flushes and closes the temporary file, then moves it over `target`
  // (also a read-only one). False when any step failed.
  [[nodiscard]] bool Commit(const std::string& target);

 private:
  std::string path_;
  UniqueFileHandle handle_;
  bool created_ = false;  // the temporary file is ours to delete
};
