#pragma once
// Unpacking the packed (".zip") files of the staging folder.

#include <string>

class DecodeAhead;
class NewFile;

// Exactly the lower-case ".zip" extension, after a name of at least one byte
// (the shared rules).
[[nodiscard]] bool IsPackedName(const std::string& name);

enum class UnpackOutcome {
  Unpacked,
  Damaged,  // the packed data is not a whole gzip stream
  Failed,   // the files could not be read or written (full disk, locked, path too long)
};

// Unpacks the next file queued in `decoded` into `output`, made new as the
// temporary file beside the tree's `outputName`. Unpacked: every member
// decoded to its verified end and all of it was written, and `output` waits
// for its CommitAs(outputName). Anything less leaves `outputName` as it
// was, and the temporary file goes with `output`. The file's turn in
// `decoded` is over either way.
[[nodiscard]] UnpackOutcome UnpackInto(NewFile& output, DecodeAhead& decoded, const std::string& outputName);

// Suffix of the temporary file an unpacking writes beside its output. Files
// of the staging tree named like a launcher's temporary file are leftovers
// of an interrupted unpacking: removed before an update is applied, never
// installed.
extern const char kUnpackTemporarySuffix[];

[[nodiscard]] bool IsUnpackLeftover(const std::string& name);
