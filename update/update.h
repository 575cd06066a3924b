#pragma once
// Installing an update staged by the game in the data folder's "game" folder.

#include <string>

#include "fs/path_list.h"

// Unpacks every packed (".zip") file of the staging folder and moves the
// staging folder's contents into `dataFolder`: files replace same-named files
// (also read-only ones), folders merge into same-named folders. The entry
// holding the marker `markerName` moves last, and only once everything else
// arrived, so an interrupted update is finished at the next start. A linked
// staging folder is never installed. 0 when nothing listed was left behind,
// nonzero otherwise.
int ApplyStagedUpdate(const std::string& dataFolder, const std::string& markerName);

// Appends the path of every file under `folder`, at any depth, whose
// extension is exactly ".zip". Links are not followed.
void CollectPackedFiles(const std::string& folder, PathList& packed);

// Unpacks the gzip data (or plain data) of `packedPath` into `outputPath`,
// through a temporary file beside it that replaces it only when every member
// decoded to its verified end and was completely written. On any failure
// `outputPath` is left as it was and no temporary file remains.
bool UnpackFile(const std::string& packedPath, const std::string& outputPath);

// Sends the staging folder to the Recycle Bin. Acts only on a folder named
// "game" (never on an empty path); of a linked one it removes the link alone.
// True when the deletion succeeded.
bool DiscardStagingFolder(const std::string& stagingFolder);
