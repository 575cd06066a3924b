#include "tests/update/update_support.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include "tests/support/harness.h"
#include "tests/support/wine_host.h"

namespace update_testing {

std::string Gzip(const std::string& data, int level) {
  z_stream stream = {};
  EXPECT_EQ(Z_OK, deflateInit2(&stream, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY));
  std::string packed(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&packed[0]);
  stream.avail_out = static_cast<uInt>(packed.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  return packed;
}

std::string SampleBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = "abcdefghijklmnop \n"[(state >> 16) % 18];
  }
  return bytes;
}

ReaderResult ReadWithGzipReader(const std::string& path) {
  ReaderResult result;
  gzFile file = gzopen(path.c_str(), "rb");
  if (!file) return {std::string(), true};
  char buffer[32768];
  for (;;) {
    const int count = gzread(file, buffer, sizeof buffer);
    if (count < 0) result.failed = true;
    if (count <= 0) break;
    result.data.append(buffer, static_cast<size_t>(count));
  }
  gzclose_r(file);
  return result;
}

std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> found;
  for (const std::string& name : testing_support::ListFolder(folder)) {
    const std::string path = testing_support::Join(folder, name);
    const DWORD attributes = testing_support::Attributes(path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      for (const std::string& inner : FilesEndingWith(path, suffix)) found.push_back(inner);
    }
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      found.push_back(path);
    }
  }
  return found;
}

}  // namespace update_testing
