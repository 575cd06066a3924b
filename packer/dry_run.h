#pragma once
// What the launcher's update pass would do with an update folder staged onto
// a data folder: its own unpacking decoder, and its planner
// (format/rungame_plan.h) handed what the data folder on this machine holds.

#include <cstddef>
#include <string>
#include <vector>

#include "packer/host_tree.h"
#include "packer/manifest.h"

namespace packer {

struct DryRunReport {
  std::vector<std::string> steps;  // what would happen, in order, for people
  bool installed = false;          // the marker was there and the plan was made
  bool complete = false;           // and every packed file unpacked
};

// `staging` read with contents, `data` without; `marker` the
// update_semaphore; `dataFolderLength` the length of the player's data
// folder path, which the launcher's path limits count in; `manifest` (may
// be null) the update's, whose removals a keyed launcher makes.
[[nodiscard]] DryRunReport DryRunUpdate(Tree staging, const Tree& data, const std::string& marker,
                                        std::size_t dataFolderLength, const Manifest* manifest = nullptr);

}  // namespace packer
