#pragma once
// SHA-256 (FIPS 180-4), for the manifest's check values.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace packer {

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t size);
  // The digest of everything added; the object is spent afterwards.
  std::array<std::uint8_t, 32> Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalBytes_ = 0;
};

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
