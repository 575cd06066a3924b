#include "update/unpack.h"

#include <windows.h>

#include "fs/change.h"
#include "rules/rules.h"
#include "update/decode_ahead.h"

const char kUnpackTemporarySuffix[] = RUNGAME_UNPACKING_SUFFIX;

bool IsPackedName(const std::string& name) { return rules::IsPackedName(name); }

bool IsUnpackLeftover(const std::string& name) { return rules::IsLauncherTemporaryName(name); }

UnpackOutcome UnpackInto(NewFile& output, DecodeAhead& decoded, const std::string& outputName) {
  const auto refuse = [](const unsigned char*, std::size_t) { return false; };
  const std::string temporary = outputName + kUnpackTemporarySuffix;
  if (outputName.empty() || temporary.size() >= MAX_PATH || !output.Create(temporary)) {
    (void)decoded.Drain(refuse);  // its turn is over all the same
    return UnpackOutcome::Failed;
  }
  // Only a stream decoded to its very end may replace the output: anything
  // less is dropped with the temporary file.
  switch (decoded.Drain([&](const unsigned char* data, std::size_t size) { return output.Write(data, size); })) {
    case DecodeResult::Decoded:
      return UnpackOutcome::Unpacked;
    case DecodeResult::Damaged:
      return UnpackOutcome::Damaged;
    default:
      return UnpackOutcome::Failed;
  }
}
