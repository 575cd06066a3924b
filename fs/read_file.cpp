#include "fs/read_file.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

// Standard C I/O, so the packer's native build reads settings exactly as the
// launcher does.
std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  // One byte beyond the limit tells an oversized file apart, whatever size
  // the file claims while it is being rewritten.
  std::string content(limit + 1, '\0');
  size_t got = 0;
  while (got < content.size()) {
    const size_t count = std::fread(&content[got], 1, content.size() - got, file.get());
    if (count == 0) break;
    got += count;
  }
  if (std::ferror(file.get()) || got > limit) return std::nullopt;
  content.resize(got);
  return content;
}
