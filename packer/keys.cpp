#include "packer/keys.h"

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "packer/files.h"
#include "packer/sha256.h"
#include "rungame_format.h"

namespace packer {

namespace {

const char kSecretHeader[] = "rungame-update-secret-key 1";
const char kPublicHeader[] = "rungame-update-public-key 1";
constexpr std::size_t kMaxKeyFile = 4096;

// The lines of a key file; false when one does not end in "\n".
bool SplitLines(const std::string& text, std::vector<std::string>& lines) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return true;
}

// The value of `line` when it is "<keyword> <value>".
std::optional<std::string> Value(const std::string& line, const std::string& keyword) {
  if (line.compare(0, keyword.size() + 1, keyword + " ") != 0) return std::nullopt;
  return line.substr(keyword.size() + 1);
}

// Header, id and public key: what both files start with.
std::optional<PublicKey> ParseCommon(const std::vector<std::string>& lines, const char* header, std::size_t count,
                                     std::string& error) {
  if (lines.empty() || lines[0] != header) {
    error = std::string("not a key file of this kind (expected \"") + header + "\" first)";
    return std::nullopt;
  }
  if (lines.size() != count) {
    error = "expected " + std::to_string(count) + " lines, found " + std::to_string(lines.size());
    return std::nullopt;
  }
  const auto id = Value(lines[1], "id");
  const auto key = Value(lines[2], "public");
  const auto bytes = key ? HexToBytes<32>(*key) : std::nullopt;
  if (!id || !bytes) {
    error = "line 2 must be \"id <16 hex digits>\" and line 3 \"public <64 hex digits>\"";
    return std::nullopt;
  }
  if (*id != KeyId(*bytes)) {
    error = "the id does not match the public key: the file is damaged";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> ReadKeyFile(const std::string& path, std::string& error) {
  HostFile file = OpenHostFile(path, "rb");
  if (!file) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  std::string text(kMaxKeyFile + 1, '\0');
  const std::size_t got = std::fread(&text[0], 1, text.size(), file.Get());
  if (std::ferror(file.Get())) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  if (got > kMaxKeyFile) {
    error = path + ": larger than a key file can be";
    return std::nullopt;
  }
  text.resize(got);
  return text;
}

bool WriteNewFile(const std::string& path, const std::string& text, bool ownerOnly, std::string& error) {
  if (KindOf(path) != EntryKind::Missing) {
    error = path + " already exists";
    return false;
  }
  // Made new with its final mode in one step: no moment where another
  // account could open it, nor a name swapped in between.
  HostFile file = CreateNewHostFile(path, ownerOnly);
  if (!file) {
    error = "cannot create " + path + " (it may have appeared meanwhile)";
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size();
  written = file.Close() && written;
  if (!written) {
    error = "cannot write " + path;
    (void)RemoveHostTree(path);
  }
  return written;
}

}  // namespace

std::string BytesToHex(const std::uint8_t* bytes, std::size_t size) {
  std::vector<char> hex(2 * size + 1);
  rungame_hex(bytes, size, hex.data());
  return std::string(hex.data(), 2 * size);
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> HexToBytes(const std::string& hex) {
  std::array<std::uint8_t, N> bytes{};
  if (!rungame_parse_hex(hex.data(), hex.size(), bytes.data(), N)) return std::nullopt;
  return bytes;
}
template std::optional<std::array<std::uint8_t, 32>> HexToBytes<32>(const std::string&);
template std::optional<std::array<std::uint8_t, 64>> HexToBytes<64>(const std::string&);
template std::optional<std::array<std::uint8_t, 8>> HexToBytes<8>(const std::string&);

KeyPair MakeKeyPair() {
  if (sodium_init() < 0) std::abort();  // no random source: nothing safe to do
  KeyPair pair;
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret{};
  randombytes_buf(pair.seed.data(), pair.seed.size());
  crypto_sign_seed_keypair(pair.publicKey.data(), secret.data(), pair.seed.data());
  sodium_memzero(secret.data(), secret.size());
  return pair;
}

std::string KeyId(const PublicKey& key) {
  char id[17];
  rungame_key_id(key.data(), id);
  return id;
}

std::string PublicKeyHex(const PublicKey& key) { return BytesToHex(key.data(), key.size()); }

std::string FormatPublicKey(const PublicKey& key) {
  return std::string(kPublicHeader) + "\nid " + KeyId(key) + "\npublic " + PublicKeyHex(key) + "\n";
}

std::string FormatSecretKey(const KeyPair& pair) {
  return std::string(kSecretHeader) + "\nid " + KeyId(pair.publicKey) + "\npublic " + PublicKeyHex(pair.publicKey) +
         "\nseed " + BytesToHex(pair.seed.data(), pair.seed.size()) + "\n";
}

std::optional<PublicKey> ParsePublicKey(const std::string& text, std::string& error) {
  std::vector<std::string> lines;
  if (!SplitLines(text, lines)) {
    error = "the last line does not end: the file is cut short";
    return std::nullopt;
  }
  return ParseCommon(lines, kPublicHeader, 3, error);
}

std::optional<KeyPair> ParseSecretKey(const std::string& text, std::string& error) {
  std::vector<std::string> lines;
  if (!SplitLines(text, lines)) {
    error = "the last line does not end: the file is cut short";
    return std::nullopt;
  }
  const auto key = ParseCommon(lines, kSecretHeader, 4, error);
  if (!key) return std::nullopt;
  const auto seedHex = Value(lines[3], "seed");
  const auto seed = seedHex ? HexToBytes<32>(*seedHex) : std::nullopt;
  if (!seed) {
    error = "line 4 must be \"seed <64 hex digits>\"";
    return std::nullopt;
  }
  if (sodium_init() < 0) std::abort();
  KeyPair pair{*key, *seed};
  PublicKey derived{};
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret{};
  crypto_sign_seed_keypair(derived.data(), secret.data(), pair.seed.data());
  sodium_memzero(secret.data(), secret.size());
  if (derived != pair.publicKey) {
    error = "the seed does not give the public key: the file is damaged";
    return std::nullopt;
  }
  return pair;
}

std::optional<KeyPair> LoadSecretKey(const std::string& path, std::string& error) {
  const auto text = ReadKeyFile(path, error);
  if (!text) return std::nullopt;
  auto pair = ParseSecretKey(*text, error);
  if (!pair) error = path + ": " + error;
  return pair;
}

std::optional<PublicKey> LoadPublicKey(const std::string& path, std::string& error) {
  const auto text = ReadKeyFile(path, error);
  if (!text) return std::nullopt;
  auto key = ParsePublicKey(*text, error);
  if (!key) error = path + ": " + error;
  return key;
}

bool WriteKeyPair(const KeyPair& pair, const std::string& secretPath, const std::string& publicPath,
                  std::string& error) {
  if (KindOf(publicPath) != EntryKind::Missing) {
    error = publicPath + " already exists";
    return false;
  }
  if (!WriteNewFile(secretPath, FormatSecretKey(pair), true, error)) return false;
  if (!WriteNewFile(publicPath, FormatPublicKey(pair.publicKey), false, error)) {
    (void)RemoveHostTree(secretPath);
    return false;
  }
  return true;
}

}  // namespace packer
