#pragma once
// Seeded random pairs of releases, with the names and contents that make
// packing hard: shipped ".zip" files, files beside their ".zip" names, folders
// named like packed files, upper-case ".ZIP", empty, incompressible and
// already-gzipped contents.

#include <string>
#include <vector>

#include "packer/host_tree.h"
#include "tests/packer/packer_support.h"

namespace packer_testing {

struct ReleasePair {
  Tree previous;
  Tree next;
  std::vector<std::string> deleted;  // files of `previous` that `next` lacks
};

struct RandomReleaseOptions {
  bool deleteFiles = false;
  std::string previousGameDll = "MZ previous game module";
  std::string nextGameDll = "MZ next game module";
  std::string gameXml = GameXml();
};

// `next` is `previous` with contents changed and entries added (and, when
// asked, files deleted), the version raised, everything else as a valid
// release needs it. The same seed gives the same pair on every system.
ReleasePair RandomReleasePair(unsigned seed, const RandomReleaseOptions& options = RandomReleaseOptions());

// A valid previous release and a new one that adds entries named from a
// hostile alphabet: spaces, dots, device names, names equal but for case,
// non-ASCII (UTF-8), long names, ".zip" variants and the launcher's own names.
// Some pairs pack, most do not.
ReleasePair HostileReleasePair(unsigned seed, const RandomReleaseOptions& options = RandomReleaseOptions());

// Seeds for a property test: PACKER_PROPERTY_SEED (default 1) onwards,
// PACKER_PROPERTY_CASES of them (default `cases`).
std::vector<unsigned> PropertySeeds(unsigned cases);

}  // namespace packer_testing
