#include <windows.h>
#include <shlwapi.h>

#include "fs/path.h"
#include "fs/shell_ops.h"
#include "fs/walk.h"
#include "update/merge.h"
#include "update/move_check.h"
#include "update/unpack.h"
#include "update/update.h"

namespace {

// The top-level entry of the staging folder that holds the marker ("" when
// the marker is the staging folder itself).
std::string MarkerEntryName(const std::string& markerName) {
  const size_t start = markerName.find_first_not_of("\\/");
  if (start == std::string::npos) return std::string();
  const size_t end = markerName.find_first_of("\\/", start);
  return markerName.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Unpacks every packed file in place. A damaged one stays as it is, to be
// installed under its packed name; false when one could not be unpacked or
// removed for a reason of the machine's (no space, locked, unreadable).
bool UnpackAll(const std::string& staging) {
  PathList packed;
  CollectPackedFiles(staging, packed);
  for (const std::string& path : packed) {
    const std::string output = path.substr(0, path.size() - 4);
    // Its output would carry the name reserved for temporary files.
    if (IsUnpackLeftover(PathFindFileNameA(output.c_str()))) continue;
    const UnpackOutcome outcome = UnpackFile(path, output);
    if (outcome == UnpackOutcome::Failed) return false;
    if (outcome == UnpackOutcome::Damaged) continue;
    ClearReadOnlyAttribute(path);
    if (!DeleteFileA(path.c_str())) return false;
  }
  return true;
}

// Whether `path` is a link or holds one at any depth (links not followed).
bool HoldsLink(const std::string& path) {
  if (IsLink(path)) return true;
  bool found = false;
  ForEachEntry(path, [&](const FolderEntry& entry) {
    const OptionalPath child = JoinPath(path, entry.name);
    found = entry.isLink || !child || (entry.isFolder && HoldsLink(*child));
    return !found;
  });
  return found;
}

// The shell move, then the launcher's own for whatever it left behind: under
// Wine it skips folders that exist in the destination yet reports success,
// and refuses lists of several files. What is left decides the result.
// Trees holding a link never go to the shell: Wine moves a folder entry by
// entry and would follow the link, carrying in (and removing) whatever it
// points to; the launcher's own move renames a link as it is.
int MoveIntoDataFolder(const PathList& sources, const std::string& dataFolder) {
  if (sources.empty()) return 0;
  PathList withoutLinks;
  for (const std::string& source : sources) {
    if (!HoldsLink(source)) withoutLinks.push_back(source);
  }
  const int shellResult = withoutLinks.empty() ? 0 : ShellTransfer(ShellOperation::Move, withoutLinks, dataFolder);
  bool movedAll = true;
  for (const std::string& source : sources) {
    const OptionalPath target = JoinPath(dataFolder, PathFindFileNameA(source.c_str()));
    if (!target || !MoveEntry(source, *target)) movedAll = false;
  }
  if (movedAll) return 0;
  return shellResult != 0 ? shellResult : 1;
}

}  // namespace

int ApplyStagedUpdate(const std::string& dataFolder, const std::string& markerName) {
  const OptionalPath staging = JoinPath(dataFolder, "game");
  // A linked staging folder holds files from elsewhere: never installed.
  if (!staging || !IsFolder(*staging) || IsLink(*staging)) return 1;
  // A temporary file of an interrupted unpacking is never installed.
  if (!RemoveUnpackLeftovers(*staging)) return 1;
  if (!UnpackAll(*staging)) return 1;

  const std::string markerEntry = MarkerEntryName(markerName);
  PathList entries;
  PathList marker;
  bool listedAll = true;
  ForEachEntry(*staging, [&](const FolderEntry& entry) {
    const OptionalPath path = JoinPath(*staging, entry.name);
    if (!path) {
      listedAll = false;
    } else if (!markerEntry.empty() && lstrcmpiA(entry.name.c_str(), markerEntry.c_str()) == 0) {
      marker.push_back(*path);
    } else {
      entries.push_back(*path);
    }
    return true;
  });
  if (entries.empty() && marker.empty()) return 1;
  // Checked before anything moves: an update that cannot arrive whole is not
  // applied at all, and the data folder keeps its version.
  if (!listedAll || !CanMoveAll(entries, dataFolder) || !CanMoveAll(marker, dataFolder)) return 1;

  // The marker goes last, and only after everything else arrived: a launcher
  // stopped halfway still finds it at the next start and finishes the update.
  const int result = MoveIntoDataFolder(entries, dataFolder);
  if (result != 0) return result;
  if (!listedAll) return 1;
  return MoveIntoDataFolder(marker, dataFolder);
}
