#pragma once
// Signed updates: the update's manifest signed with the studio's Ed25519 key,
// carried as the content of the update's marker file.
//
// The marker is the one file the launcher and the game-side helper look for
// by name, at the top of the update, and it is written last; holding the
// signed manifest there keeps it out of the game's data (it is no file of the
// release) and makes the marker and the signature arrive as one:
//
//   rungame-signed-update 1
//   key 3f1c0a9e5b7d2468
//   rungame-update-manifest 1
//   from 1.0
//   to 1.1
//   marker update.ready
//   folder levels
//   file 2345 9f86d081...0f00a08 levels\level1.dat.zip
//   signature <128 hex digits: the 64-byte Ed25519 signature>
//
// `key` is the signing key's id (keys.h). Then the manifest (manifest.h)
// without an entry for the marker itself. The signature covers every byte
// before the "signature" line, which is the last line and ends in "\n"; lines
// end in "\n" alone.

#include <optional>
#include <string>

#include "packer/keys.h"
#include "packer/manifest.h"

namespace packer {

extern const char kSignedUpdateHeader[];

// The marker's content for `manifest`, signed with `pair`. An entry for the
// marker itself is left out.
[[nodiscard]] std::string SignManifest(const Manifest& manifest, const KeyPair& pair);

// The manifest a marker's content carries, when it is signed by `key`;
// nullopt, with the reason in `error`, otherwise.
[[nodiscard]] std::optional<Manifest> OpenSignedManifest(const std::string& text, const PublicKey& key,
                                                         std::string& error);

}  // namespace packer
