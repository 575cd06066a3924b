#pragma once
// What an update from one release to the next must hold, and what stands in
// the way of the launcher delivering it.

#include <string>
#include <vector>

#include "packer/manifest.h"
#include "packer/release.h"

namespace packer {

enum class Packing {
  Plain,        // shipped as it is: packing would make its staged name clash
  WhenSmaller,  // gzip-packed as <name>.zip when that saves space
  Always,       // its own name ends in ".zip": packed, or the launcher would strip the suffix
};

struct PlannedFile {
  std::string path;  // in the release, '\'-separated
  Packing packing = Packing::WhenSmaller;
  bool isNew = false;
};

struct Finding {
  bool refusal = false;  // false: a warning, the update is still written
  std::string text;
};

struct Plan {
  Version from;
  Version to;
  std::string marker;                // the update_semaphore file name
  std::vector<std::string> folders;  // every folder the staging folder holds, parents first
  std::vector<PlannedFile> files;    // new and changed files, sorted
  std::vector<std::string> deleted;  // entries of the previous release only
  // A signed update's removals: the files of `deleted` with their size and
  // digest in the previous release, then its folders, the deepest first.
  std::vector<ManifestEntry> removals;
  std::size_t unchanged = 0;
  std::vector<Finding> findings;

  bool Refused() const;
};

struct PlanOptions {
  // A signed update removes what the new release lacks; an unsigned one
  // cannot (a keyless launcher reads no manifest), so gone entries refuse it.
  bool signedUpdate = false;
  // Ship an unsigned update even though files of the previous release are
  // gone from the new one; they stay on players' machines. (A signed update
  // removes them whether or not this is given.)
  bool allowDeleted = false;
  // Ship even though some paths would not fit on players' machines.
  bool allowLongPaths = false;
};

Plan PlanUpdate(const std::string& previousRoot, const std::string& newRoot, const PlanOptions& options);

}  // namespace packer
