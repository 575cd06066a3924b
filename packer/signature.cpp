#include "packer/signature.h"

#include <sodium.h>

#include <cstdlib>

#include "rungame_format.h"

namespace packer {

const char kSignedUpdateHeader[] = RUNGAME_SIGNED_HEADER;

namespace {

const char kSignatureKeyword[] = RUNGAME_SIGNATURE_KEYWORD;

std::string SignedPart(const Manifest& manifest, const PublicKey& key) {
  Manifest listed = manifest;
  listed.entries.clear();
  for (const ManifestEntry& entry : manifest.entries) {
    if (entry.path != manifest.marker) listed.entries.push_back(entry);
  }
  return std::string(kSignedUpdateHeader) + "\nkey " + KeyId(key) + "\n" + FormatManifest(listed);
}

}  // namespace

std::string SignManifest(const Manifest& manifest, const KeyPair& pair) {
  if (sodium_init() < 0) std::abort();
  const std::string signedPart = SignedPart(manifest, pair.publicKey);
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  PublicKey derived{};
  crypto_sign_seed_keypair(derived.data(), secret, pair.seed.data());
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(signedPart.data()),
                       signedPart.size(), secret);
  sodium_memzero(secret, sizeof secret);
  return signedPart + kSignatureKeyword + BytesToHex(signature, sizeof signature) + "\n";
}

std::optional<Manifest> OpenSignedManifest(const std::string& text, const PublicKey& key, std::string& error) {
  if (sodium_init() < 0) std::abort();
  const std::string header = std::string(kSignedUpdateHeader) + "\n";
  if (text.compare(0, header.size(), header) != 0) {
    error = "not a signed update (the marker does not start with \"" + std::string(kSignedUpdateHeader) + "\")";
    return std::nullopt;
  }
  if (text.empty() || text.back() != '\n') {
    error = "the signed manifest is cut short";
    return std::nullopt;
  }
  const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
  const std::string last = text.substr(lastLine, text.size() - 1 - lastLine);
  if (last.compare(0, sizeof kSignatureKeyword - 1, kSignatureKeyword) != 0) {
    error = "the signed manifest does not end with its signature";
    return std::nullopt;
  }
  if (!HexToBytes<crypto_sign_BYTES>(last.substr(sizeof kSignatureKeyword - 1))) {
    error = "the signature is damaged";
    return std::nullopt;
  }
  // The verdict is the launcher's own reader's.
  RunGameManifest opened{};
  const bool trusted = rungame_open_signed_manifest(text.data(), text.size(), key.data(), &opened) != 0;
  rungame_free_manifest(&opened);
  if (!trusted) {
    error = "not signed with key " + KeyId(key) + ": signed by another key, changed after signing, or malformed";
    return std::nullopt;
  }
  // Signed by the key: the rest is the studio's own text.
  const std::size_t manifestStart = text.find('\n', header.size()) + 1;
  auto manifest = ParseManifest(text.substr(manifestStart, lastLine - manifestStart), error);
  if (!manifest) error = "the signed manifest: " + error;
  return manifest;
}

}  // namespace packer
