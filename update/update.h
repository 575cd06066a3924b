#pragma once
// Installing an update staged by the game in the data folder's "game" folder.

#include <string>

#include "fs/path_list.h"

// Unpacks every packed (".zip") file of the staging folder and moves the
// staging folder's contents into `dataFolder`: files replace same-named files
// (also read-only ones), folders merge into same-named folders. The entry
// holding the marker `markerName` moves last, and only once everything else
// arrived, so an interrupted update is finished at the next start. Nothing
// is moved when a file cannot be read or unpacked for want of space, when
// something cannot take its place (see CanMoveAll), or when the staging
// folder is a link. 0 when nothing listed was left behind, nonzero otherwise.
int ApplyStagedUpdate(const std::string& dataFolder, const std::string& markerName);

// The update pass of one run-loop cycle: finishes or undoes an update a
// stopped launcher left halfway; otherwise installs the staged update when
// its marker `markerName` is there. Then the staging folder goes to the
// Recycle Bin, unless an undo could not finish (it is then needed at the
// next start).
void RunUpdatePass(const std::string& dataFolder, const std::string& markerName);

// Whether the update marker `markerName` is an entry of the staging folder
// (with an empty name: whether the staging folder exists). Only what the
// folder lists counts, never a device name or a wildcard.
[[nodiscard]] bool StagedMarkerExists(const std::string& stagingFolder, const std::string& markerName);

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

// Sends the staging folder to the Recycle Bin. Acts only on a folder named
// "game" (never on an empty path); of a linked one it removes the link alone.
// True when the deletion succeeded.
bool DiscardStagingFolder(const std::string& stagingFolder);
