#pragma once
// The studio's Ed25519 signing key pair, as files.
//
// Secret key file (keep it off the build servers that publish updates):
//
//   rungame-update-secret-key 1
//   id 3f1c0a9e5b7d2468
//   public <64 hex digits: the 32-byte Ed25519 public key>
//   seed <64 hex digits: the 32-byte Ed25519 seed>
//
// Public key file (what the launcher is built with and the game is given):
//
//   rungame-update-public-key 1
//   id 3f1c0a9e5b7d2468
//   public <64 hex digits>
//
// Hex is lower case; every line ends in "\n" (a "\r" before it is allowed);
// nothing else may follow. `id` is the first 8 bytes of the SHA-256 of the
// public key, in hex: it names the key in signed updates and catches a
// damaged public key. A file is refused when anything differs: a wrong
// header, a missing, repeated or unknown line, a digit out of place, an id
// that does not match, a seed that does not give the public key, or a file
// over 4 KiB.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace packer {

using PublicKey = std::array<std::uint8_t, 32>;

struct KeyPair {
  PublicKey publicKey{};
  std::array<std::uint8_t, 32> seed{};  // the secret
};

// A new key pair from the system's random source.
[[nodiscard]] KeyPair MakeKeyPair();

// The key's name: 16 hex digits.
[[nodiscard]] std::string KeyId(const PublicKey& key);

[[nodiscard]] std::string FormatSecretKey(const KeyPair& pair);
[[nodiscard]] std::string FormatPublicKey(const PublicKey& key);

// nullopt, with the reason in `error`, for a text that is not such a key.
[[nodiscard]] std::optional<KeyPair> ParseSecretKey(const std::string& text, std::string& error);
[[nodiscard]] std::optional<PublicKey> ParsePublicKey(const std::string& text, std::string& error);

// Reading a key file (at most 4 KiB); the error names the file.
[[nodiscard]] std::optional<KeyPair> LoadSecretKey(const std::string& path, std::string& error);
[[nodiscard]] std::optional<PublicKey> LoadPublicKey(const std::string& path, std::string& error);

// Writes both files of a new pair: the secret key readable by its owner only
// (where the host has such permissions). Refuses to replace existing files.
[[nodiscard]] bool WriteKeyPair(const KeyPair& pair, const std::string& secretPath, const std::string& publicPath,
                                std::string& error);

// 64 lower-case hex digits of a public key: the form LAUNCHER_UPDATE_PUBLIC_KEY takes.
[[nodiscard]] std::string PublicKeyHex(const PublicKey& key);

// Lower-case hex of bytes, and back: nullopt unless exactly 2 * N lower-case hex digits.
[[nodiscard]] std::string BytesToHex(const std::uint8_t* bytes, std::size_t size);
template <std::size_t N>
[[nodiscard]] std::optional<std::array<std::uint8_t, N>> HexToBytes(const std::string& hex);
extern template std::optional<std::array<std::uint8_t, 32>> HexToBytes<32>(const std::string&);
extern template std::optional<std::array<std::uint8_t, 64>> HexToBytes<64>(const std::string&);
extern template std::optional<std::array<std::uint8_t, 8>> HexToBytes<8>(const std::string&);

}  // namespace packer
