#pragma once
// Packed test data made with zlib, and a look through folder trees.

#include <string>
#include <vector>

namespace update_testing {

// `data` as one gzip member (RFC 1952).
std::string Gzip(const std::string& data, int level = 6);
// Bytes that compress to roughly half: letters from a small alphabet.
std::string SampleBytes(size_t size, unsigned seed = 1);
// What zlib's own gzip reader makes of `path`, and whether it reported an error.
struct ReaderResult {
  std::string data;
  bool failed = false;
};
ReaderResult ReadWithGzipReader(const std::string& path);
// Paths under `folder`, at any depth, whose names end with `suffix`.
std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix);

}  // namespace update_testing
