#include "packer/files.h"

namespace packer {

std::optional<std::string> ReadHostFile(const std::string& path, std::size_t limit) {
  HostFile file = OpenHostFile(path, "rb");
  if (!file) return std::nullopt;
  std::string content;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.Get())) > 0) {
    content.append(buffer, got);
    if (content.size() > limit) return std::nullopt;
  }
  if (std::ferror(file.Get())) return std::nullopt;
  return content;
}

std::optional<std::string> ReadHostFileRange(const std::string& path, std::uint64_t offset, std::size_t size) {
  HostFile file = OpenHostFile(path, "rb");
  if (!file || !SeekHostFile(file, offset)) return std::nullopt;
  std::string content(size, '\0');
  if (size > 0 && std::fread(&content[0], 1, size, file.Get()) != size) return std::nullopt;
  return content;
}

}  // namespace packer
