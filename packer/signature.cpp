#include "packer/signature.h"

#include <cstdlib>

#include "feed/feed_envelope.h"
#include "rungame_format.h"

namespace packer {

const char kSignedUpdateHeader[] = RUNGAME_SIGNED_HEADER;

std::string SignManifest(const Manifest& manifest, const KeyPair& pair) {
  Manifest listed = manifest;
  listed.entries.clear();
  for (const ManifestEntry& entry : manifest.entries) {
    if (entry.path != manifest.marker) listed.entries.push_back(entry);
  }
  const std::string body = FormatManifest(listed);
  FeedText text{};
  FeedBeginSigned(&text, kSignedUpdateHeader, pair.seed.data());
  FeedTextAppend(&text, body.data(), body.size());
  const bool signedText = FeedEndSigned(&text, pair.seed.data()) != 0;
  std::string bytes = signedText ? std::string(text.data, text.size) : std::string();
  FeedTextFree(&text);
  if (!signedText) std::abort();  // out of memory, or libsodium cannot start
  return bytes;
}

std::optional<Manifest> OpenSignedManifest(const std::string& text, const PublicKey& key, std::string& error) {
  std::size_t bodyStart = 0;
  std::size_t bodyEnd = 0;
  const char* reason = nullptr;
  if (!rungame_open_signed(text.data(), text.size(), RUNGAME_SIGNED_MAX_MARKER, kSignedUpdateHeader, key.data(),
                           &bodyStart, &bodyEnd, &reason)) {
    error = std::string("not a signed update of key ") + KeyId(key) + ": " + reason;
    return std::nullopt;
  }
  // The verdict is the launcher's own: its envelope reader above, and its
  // manifest reader, which ParseManifest runs on the body, as
  // rungame_open_signed_manifest does.
  auto manifest = ParseManifest(text.substr(bodyStart, bodyEnd - bodyStart), error);
  if (!manifest) error = "the signed manifest: " + error;
  return manifest;
}

}  // namespace packer
