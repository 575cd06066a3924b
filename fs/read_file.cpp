#include "fs/read_file.h"

#include <windows.h>

#include "fs/handles.h"

std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit) {
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::nullopt;
  // One byte beyond the limit tells an oversized file apart, whatever size
  // the file claims while it is being rewritten.
  std::string content(limit + 1, '\0');
  size_t got = 0;
  while (got < content.size()) {
    DWORD count = 0;
    if (!ReadFile(file.Get(), &content[got], static_cast<DWORD>(content.size() - got), &count, nullptr)) {
      return std::nullopt;
    }
    if (count == 0) break;
    got += count;
  }
  if (got > limit) return std::nullopt;
  content.resize(got);
  return content;
}
