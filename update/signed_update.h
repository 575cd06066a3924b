#pragma once
// Whether a staged update may be installed, for a launcher built with the
// studio's public key (the CMake option LAUNCHER_UPDATE_PUBLIC_KEY, 64 hex
// digits as `packer keygen` prints them).
//
// A signed update carries its manifest, signed with the studio's Ed25519
// key, as the content of its marker (format/rungame_format.h has the
// format). It is trusted only when that manifest is signed with the key,
// brings a version later than the data folder's, and lists exactly what is
// staged: every file with its size and SHA-256, every folder, nothing more,
// nothing less. A launcher built without a key requires nothing.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/handles.h"

// One entry of the staging folder, as the update pass's walk found it.
struct StagedEntryFact {
  std::string relative;  // below the staging folder, '\' separators; the marker is never one
  std::string path;      // full path
  bool isFolder = false;
  void* file = nullptr;  // the file held open for reading since the walk; null: opened by path
};

enum class UpdateTrust { NotRequired, Trusted, Refused };

// What a signed update removes from the data folder: a file of the version
// it updates from, with its size and SHA-256 there, or a folder.
struct SignedRemoval {
  std::string relative;  // '\' separators
  bool isFolder = false;
  unsigned long long size = 0;
  unsigned char sha256[32] = {};
};

// markerPath: the staged marker (its content is the signed manifest).
// staged: every entry of the staging folder but the marker; files named like
// the launcher's temporary files are no part of the update, and left out.
// dataVersion: the data folder's version (x, y), when it has one; without,
// any version counts as later.
// Refused also for a marker that is no plain file, is larger than
// RUNGAME_SIGNED_MAX_MARKER or cannot be read, and for an entry that is a
// link or cannot be read. Reads every staged file once, in blocks, so call
// it before anything in the staging folder changes (before unpacking: the
// manifest lists the staged names, ".zip" files included).
// markerFile: the marker held open for reading; null: opened by path.
[[nodiscard]] UpdateTrust CheckUpdateTrust(const std::string& markerPath, const std::vector<StagedEntryFact>& staged,
                                           const std::optional<std::pair<long, long>>& dataVersion,
                                           void* markerFile = nullptr);

// The same with the given key (64 hex digits; empty: none), whatever the
// launcher was built with; for tests.
// `removals` (may be null) gets what a trusted update removes.
[[nodiscard]] UpdateTrust CheckUpdateTrustWithKey(const std::string& publicKeyHex, const std::string& markerPath,
                                                  const std::vector<StagedEntryFact>& staged,
                                                  const std::optional<std::pair<long, long>>& dataVersion,
                                                  void* markerFile = nullptr,
                                                  std::vector<SignedRemoval>* removals = nullptr);

// Whether the file open as `file` holds exactly `size` bytes of that SHA-256.
[[nodiscard]] bool FileHoldsBytes(void* file, unsigned long long size, const unsigned char sha256[32]);

// Whether this launcher was built with a key.
[[nodiscard]] bool UpdateSignatureRequired();

// The key this launcher was built with (64 hex digits); "" for none.
[[nodiscard]] std::string UpdatePublicKey();

// The game's modules checked against the signed record of the folder's
// version, before a keyed launcher loads any: game.dll and every .dll beside
// it (the folder the loader searches first) must be listed there as files,
// with their size and SHA-256, and be plain files. Each checked module
// stays open, refusing writers and deleters, for as long as `held` lives:
// what was hashed is what the loader maps.
struct ModuleCheck {
  bool trusted = false;
  std::string damaged;  // the first that failed: a module's name, or RUNGAME_RECORD_PATH
  // With a sound record: the names the loader could take for a module that
  // the record does not list as a file, or that are no plain file (a folder,
  // a link) where it lists one; no refresh from the installation removes
  // them.
  std::vector<std::string> strangers;
  std::vector<UniqueFileHandle> held;
};

// `version`: the folder's own version (properties\version.xml); the record
// (RUNGAME_RECORD_PATH, which the packer's `record` writes) must be of
// exactly that version. Without a key, everything is trusted and nothing is
// read.
[[nodiscard]] ModuleCheck CheckGameModules(const std::string& folder,
                                           const std::optional<std::pair<long, long>>& version);

// The names beside game.dll (and game.dll itself) the loader could take for
// a module that are no plain file: a folder or a link in a module's place,
// which no copy over it can put right.
[[nodiscard]] std::vector<std::string> ModulesOutOfPlace(const std::string& folder);
