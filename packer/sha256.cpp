#include "packer/sha256.h"

#include <vector>

#include "packer/files.h"
#include "packer/keys.h"

namespace packer {

Sha256::Sha256() { FastSha256Init(&state_, 1); }

void Sha256::Add(const void* data, std::size_t size) { FastSha256Update(&state_, data, size); }

std::array<std::uint8_t, 32> Sha256::Finish() {
  std::array<std::uint8_t, 32> digest{};
  FastSha256Final(&state_, digest.data());
  return digest;
}

void Sha256Digest(const void* data, std::size_t size, std::uint8_t digest[32]) { FastSha256Digest(data, size, digest); }

std::string ToHex(const std::array<std::uint8_t, 32>& digest) { return BytesToHex(digest.data(), digest.size()); }

std::string Sha256Hex(const std::string& data) {
  Sha256 hash;
  hash.Add(data.data(), data.size());
  return ToHex(hash.Finish());
}

std::optional<FileDigest> DigestFile(const std::string& path) {
  HostFile file = OpenHostFile(path, "rb");
  if (!file) return std::nullopt;
  Sha256 hash;
  FileDigest digest;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.Get());
    hash.Add(buffer.data(), got);
    digest.size += got;
    if (got < buffer.size()) break;
  }
  if (std::ferror(file.Get())) return std::nullopt;
  digest.sha256 = ToHex(hash.Finish());
  return digest;
}

}  // namespace packer
