#pragma once
// Unpacking the packed (".zip") files of the staging folder.

#include <string>

#include "fs/path_list.h"

// Appends the path of every file under `folder`, at any depth, whose
// extension is exactly ".zip". Links are not followed.
void CollectPackedFiles(const std::string& folder, PathList& packed);

enum class UnpackOutcome {
  Unpacked,
  Damaged,  // the packed data is not a whole gzip stream
  Failed,   // the files could not be read or written (full disk, locked, path too long)
};

// Unpacks the gzip data (or plain data) of `packedPath` into `outputPath`,
// through a temporary file beside it that replaces it only when every member
// decoded to its verified end and was completely written. On any failure
// `outputPath` is left as it was and no temporary file remains.
[[nodiscard]] UnpackOutcome UnpackFile(const std::string& packedPath, const std::string& outputPath);

// Suffix of the temporary file an unpacking writes beside its output. Files
// of the staging tree ending in it are leftovers of an interrupted unpacking:
// they are removed before an update is applied, never installed.
extern const char kUnpackTemporarySuffix[];

[[nodiscard]] bool IsUnpackLeftover(const std::string& name);

// Removes every unpacking leftover under `folder`, never following links.
// False when one could not be removed.
[[nodiscard]] bool RemoveUnpackLeftovers(const std::string& folder);
