#pragma once
// SHA-256, for the manifest's check values and the feed's chunk names: on
// the processor's SHA instructions where it has them (hash/sha256.h).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "hash/sha256.h"

namespace packer {

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t size);
  // The digest of everything added; the object is spent afterwards.
  [[nodiscard]] std::array<std::uint8_t, 32> Finish();

 private:
  FastSha256 state_;
};

// The digest of `size` bytes at once.
void Sha256Digest(const void* data, std::size_t size, std::uint8_t digest[32]);

// Lower-case hex of a digest.
std::string ToHex(const std::array<std::uint8_t, 32>& digest);

std::string Sha256Hex(const std::string& data);

struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;  // hex
};
// Size and digest of a file; nullopt when it cannot be read.
std::optional<FileDigest> DigestFile(const std::string& path);

}  // namespace packer
