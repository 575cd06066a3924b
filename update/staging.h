#pragma once
// The staging folder "game" in the data folder and its update marker.

#include <string>

#include "fs/path.h"

// The staging folder of `dataFolder`.
[[nodiscard]] OptionalPath StagingFolderOf(const std::string& dataFolder);

// Whether the update marker `markerName` is an entry of the staging folder
// (with an empty name: whether the staging folder exists). Only what the
// folder lists counts, never a device name or a wildcard.
[[nodiscard]] bool StagedMarkerExists(const std::string& stagingFolder, const std::string& markerName);

// The top-level entry of the staging folder that holds the marker ("" when
// the marker is the staging folder itself).
[[nodiscard]] std::string MarkerEntryName(const std::string& markerName);

// Sends the staging folder to the Recycle Bin. Acts only on a folder named
// "game" (never on an empty path); of a linked one it removes the link alone.
// True when the deletion succeeded.
bool DiscardStagingFolder(const std::string& stagingFolder);
