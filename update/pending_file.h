#pragma once
// A file written under a temporary name and put in place only when complete.

#include <windows.h>

#include <cstddef>
#include <string>

// Owns the temporary file and its handle: unless Commit succeeded, the
// destructor closes and deletes it, so a failed write leaves nothing behind.
class PendingFile {
 public:
  explicit PendingFile(std::string temporaryPath);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file, replacing a leftover of the same name.
  bool Open();
  // False on a failed or short write.
  bool Write(const unsigned char* data, std::size_t size);
  // Flushes and closes the temporary file, then moves it over `target`
  // (also a read-only one). False when any step failed.
  bool Commit(const std::string& target);

 private:
  bool Close();

  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool committed_ = false;
};
