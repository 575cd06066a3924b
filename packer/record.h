#pragma once
// The signed record of a release: every file and folder of the version, each
// file with its size and SHA-256, signed with the studio's key, kept in the
// release as properties\release.signed. It travels with the release: the
// launcher's first-start copy and every update bring it into the data
// folder, where a launcher built with the key checks the game's modules
// against it before loading them.
//
// Its text is a signed update manifest (signature.h) of the version onto
// itself: "from" and "to" are the release's version, "marker" is
// release.signed, and the record lists everything but itself. No launcher
// takes it for an update: an update must bring a later version.

#include <string>

#include "packer/keys.h"
#include "rungame_format.h"

namespace packer {

constexpr char kRecordPath[] = RUNGAME_RECORD_PATH;  // relative to the release
constexpr char kRecordName[] = RUNGAME_RECORD_NAME;

// Writes the record of the release folder `release`, signed with `pair`,
// over any record there. False, with the reason in `error`, when the release
// has no readable version, holds an entry the launcher cannot take over, or
// a file cannot be read or the record written; `summary` tells what it lists.
[[nodiscard]] bool WriteReleaseRecord(const std::string& release, const KeyPair& pair, std::string& summary,
                                      std::string& error);

// Why `release` has no valid record signed with `key` ("" when it has one):
// none, signed by another key, of another version, or not listing exactly
// what the release holds. A keyed launcher runs such a release's game from
// the install folder, and an update to it without updates afterwards.
[[nodiscard]] std::string ReleaseRecordProblem(const std::string& release, const PublicKey& key);

}  // namespace packer
