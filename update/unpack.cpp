#include "update/unpack.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstring>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/handles.h"
#include "rules/rules.h"
#include "update/decode.h"

const char kUnpackTemporarySuffix[] = RUNGAME_UNPACKING_SUFFIX;

bool IsPackedName(const std::string& name) { return rules::IsPackedName(name); }

bool IsUnpackLeftover(const std::string& name) { return rules::IsLauncherTemporaryName(name); }

UnpackOutcome UnpackFile(PinnedTree& tree, const std::string& packedPath, void* packedHeld,
                         const std::string& outputPath, UniqueFileHandle* keep) {
  if (outputPath.empty()) return UnpackOutcome::Failed;
  const UniqueFileHandle opened(packedHeld ? INVALID_HANDLE_VALUE
                                           : CreateFileA(packedPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  const HANDLE packed = packedHeld ? static_cast<HANDLE>(packedHeld) : opened.Get();
  if (packed == INVALID_HANDLE_VALUE || SetFilePointer(packed, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return UnpackOutcome::Failed;
  }
  const std::string temporary = outputPath + kUnpackTemporarySuffix;
  if (temporary.size() >= MAX_PATH) return UnpackOutcome::Failed;

  NewFile output(tree);
  if (!output.Create(temporary)) return UnpackOutcome::Failed;
  // A failed read or write says nothing about the packed data: it tells a
  // full disk or an unreadable file apart from damage.
  bool ioFailed = false;
  const auto read = [&](unsigned char* buffer, std::size_t size) -> long {
    DWORD got = 0;
    if (!ReadFile(packed, buffer, static_cast<DWORD>(size), &got, nullptr)) {
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
  return output.CommitAs(outputPath, keep) ? UnpackOutcome::Unpacked : UnpackOutcome::Failed;
}
