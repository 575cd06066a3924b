#pragma once
// Writing one file of an update folder: gzip-packed or plain, with the size
// and digest of what was written.

#include <optional>
#include <string>

#include "packer/sha256.h"

namespace packer {

// `source` as one gzip member (no name, no time stamp, so the same input
// always packs to the same bytes) in `target`.
std::optional<FileDigest> WriteGzipped(const std::string& source, const std::string& target);

// `source` copied to `target` unchanged.
std::optional<FileDigest> WritePlain(const std::string& source, const std::string& target);

// `data` as one gzip member, in memory: for tests and small files.
std::string GzipBytes(const std::string& data);

}  // namespace packer
