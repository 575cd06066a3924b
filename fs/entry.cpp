#include "fs/entry.h"

#include "fs/handles.h"

EntryAttributes QueryEntry(const std::string& path) { return EntryAttributes{GetFileAttributesA(path.c_str())}; }

std::optional<unsigned long long> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void ClearReadOnlyAttribute(const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (attributes.Has(FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(path.c_str(), attributes.bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

bool CanBeReplaced(const std::string& path) {
  // Opening it for deletion while sharing everything fails exactly when
  // another handle denies that.
  const UniqueFileHandle handle(CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return handle.Valid();
}

std::optional<unsigned long long> FreeBytesAt(const std::string& path) {
  std::string folder = path;
  while (!folder.empty()) {
    std::string query = folder;
    if (query.back() != '\\') query += '\\';
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExA(query.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
    const size_t slash = folder.find_last_of('\\', folder.size() - 2);
    if (slash == std::string::npos) break;
    folder.resize(slash);
  }
  return std::nullopt;
}
