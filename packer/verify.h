#pragma once
// Checking an update folder (a downloaded one, say) against its manifest.

#include <string>
#include <vector>

#include "packer/host_tree.h"
#include "packer/manifest.h"

namespace packer {

struct VerifyReport {
  std::size_t checked = 0;
  std::vector<std::string> problems;  // missing, damaged and unexpected entries
};

// Every entry of the manifest present with its size and SHA-256, and nothing
// else in the folder: the launcher would install an unlisted file too (but
// for files named like its temporary files, which it removes unused).
// `read`, when given, is the folder as ReadHostTree read it with contents,
// so it is not read twice.
VerifyReport VerifyUpdate(const std::string& updateFolder, const Manifest& manifest, const Tree* read = nullptr);

}  // namespace packer
