#pragma once
// Installing an update staged by the game in the data folder's "game" folder.

#include <string>

#include "fs/path_list.h"

// Unpacks every packed (".zip") file of the staging folder and moves the
// staging folder's contents into `dataFolder`, the update marker last.
// 0 when everything moved, nonzero otherwise.
int ApplyStagedUpdate(const std::string& dataFolder, const std::string& markerName);

// Appends the path of every file under `folder`, at any depth, whose
// extension is exactly ".zip". Links are not followed.
void CollectPackedFiles(const std::string& folder, PathList& packed);

// Unpacks the gzip data (or plain data) of `packedPath` into `outputPath`.
// On any failure `outputPath` is left as it was.
bool UnpackFile(const std::string& packedPath, const std::string& outputPath);

// Sends the staging folder to the Recycle Bin. True when the deletion succeeded.
bool DiscardStagingFolder(const std::string& stagingFolder);
