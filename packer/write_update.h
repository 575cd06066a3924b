#pragma once
// Writing a planned update: the update folder, laid out as the staging folder
// must be, and its manifest beside it.

#include <cstddef>
#include <functional>
#include <string>

#include "packer/keys.h"
#include "packer/manifest.h"
#include "packer/plan.h"

namespace packer {

struct WriteSummary {
  Manifest manifest;
  std::size_t packed = 0;
  std::size_t plain = 0;
  std::uint64_t releaseBytes = 0;  // of the files as released
  std::uint64_t stagedBytes = 0;   // as written, packed or not
};

// Writes the update under a temporary name beside `updateFolder` and renames
// it into place once every file and then the marker are written, so a
// half-written update folder never carries the final name (the manifest,
// written last, catches what a power cut may still spoil). False, with the
// reason in `error`, when anything failed; nothing is left behind then.
// With `signer`, the marker holds the manifest signed with it (signature.h);
// without, the marker is empty. `progress`, when given, hears of every file
// written: (done, total).
using WriteProgress = std::function<void(std::size_t done, std::size_t total)>;
[[nodiscard]] bool WriteUpdate(const Plan& plan, const std::string& newRoot, const std::string& updateFolder,
                               const std::string& manifestPath, WriteSummary& summary, std::string& error,
                               const KeyPair* signer = nullptr, const WriteProgress& progress = WriteProgress());

}  // namespace packer
