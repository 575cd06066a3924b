#pragma once
// Unpacking the packed (".zip") files of the staging folder.

#include <string>

#include "fs/handles.h"

class PinnedTree;

// Exactly the lower-case ".zip" extension, after a name of at least one byte
// (the shared rules).
[[nodiscard]] bool IsPackedName(const std::string& name);

enum class UnpackOutcome {
  Unpacked,
  Damaged,  // the packed data is not a whole gzip stream
  Failed,   // the files could not be read or written (full disk, locked, path too long)
};

// Unpacks the gzip data (or plain data) of `packedPath` into `outputPath`,
// through a new temporary file beside it that replaces it, as a name, only
// when every member decoded to its verified end and was completely written.
// On any failure `outputPath` is left as it was and no temporary file remains.
// `packedHeld`: the packed file held open for reading since it was checked,
// read from its start; null: opened by path. `keep`: receives the output
// still open (shared with nobody, with DELETE), so that it is moved on
// through its handle.
[[nodiscard]] UnpackOutcome UnpackFile(PinnedTree& tree, const std::string& packedPath, void* packedHeld,
                                       const std::string& outputPath, UniqueFileHandle* keep = nullptr);

// Suffix of the temporary file an unpacking writes beside its output. Files
// of the staging tree named like a launcher's temporary file are leftovers
// of an interrupted unpacking: removed before an update is applied, never
// installed.
extern const char kUnpackTemporarySuffix[];

[[nodiscard]] bool IsUnpackLeftover(const std::string& name);
