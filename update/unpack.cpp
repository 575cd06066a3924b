#include "update/unpack.h"

#include <windows.h>

#include "fs/handles.h"
#include "fs/path.h"
#include "fs/walk.h"
#include "update/decode.h"
#include "update/pending_file.h"
#include "update/update.h"

const char kUnpackTemporarySuffix[] = ".unpacking~launcher";

bool IsUnpackLeftover(const std::string& name) {
  const std::string suffix = kUnpackTemporarySuffix;
  return name.size() > suffix.size() &&
         lstrcmpiA(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0;
}

bool RemoveUnpackLeftovers(const std::string& folder) {
  bool removedAll = true;
  ForEachEntry(folder, [&](const FolderEntry& entry) {
    const OptionalPath path = JoinPath(folder, entry.name);
    if (!path) return true;
    if (entry.isFolder) {
      if (!entry.isLink && !RemoveUnpackLeftovers(*path)) removedAll = false;
    } else if (IsUnpackLeftover(entry.name)) {
      SetFileAttributesA(path->c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileA(path->c_str())) removedAll = false;
    }
    return true;
  });
  return removedAll;
}

UnpackOutcome UnpackFile(const std::string& packedPath, const std::string& outputPath) {
  if (outputPath.empty()) return UnpackOutcome::Failed;
  UniqueFileHandle packed(CreateFileA(packedPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!packed) return UnpackOutcome::Failed;
  const std::string temporary = outputPath + kUnpackTemporarySuffix;
  if (temporary.size() >= MAX_PATH) return UnpackOutcome::Failed;

  PendingFile output(temporary);
  if (!output.Open()) return UnpackOutcome::Failed;
  // A failed read or write says nothing about the packed data: it tells a
  // full disk or an unreadable file apart from damage.
  bool ioFailed = false;
  const auto read = [&](unsigned char* buffer, std::size_t size) -> long {
    DWORD got = 0;
    if (!ReadFile(packed.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) {
      ioFailed = true;
      return -1;
    }
    return static_cast<long>(got);
  };
  const auto write = [&](const unsigned char* data, std::size_t size) {
    if (output.Write(data, size)) return true;
    ioFailed = true;
    return false;
  };
  // Only a stream decoded to its very end replaces the output: anything less
  // is dropped with the temporary file.
  if (!DecodePackedStream(read, write)) return ioFailed ? UnpackOutcome::Failed : UnpackOutcome::Damaged;
  return output.Commit(outputPath) ? UnpackOutcome::Unpacked : UnpackOutcome::Failed;
}
