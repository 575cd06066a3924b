#pragma once
// The staging folder "game" in the data folder and its update marker.

#include <string>

class PinnedTree;

#include "fs/path.h"

extern const char kStagingFolderName[];

// Whether the staged entry `relative` (a file when not `isFolder`) is the
// update marker `markerName`: a plain file at the staging folder's top level,
// named so in any ASCII letter case, by a plain marker name of the shared
// rules. A path, a folder, a device name or one of the launcher's own names
// is never the marker.
[[nodiscard]] bool IsMarkerEntry(const std::string& relative, bool isFolder, const std::string& markerName);

// Sends the tree's entry `name` to the Recycle Bin; of a link it removes the
// link alone. True when it went.
[[nodiscard]] bool DisposeEntry(PinnedTree& tree, const std::string& name);

// Sends the staging folder of the data folder, the tree's home, to the
// Recycle Bin; of a linked one it removes the link alone. True when it went.
[[nodiscard]] bool DiscardStagingFolder(PinnedTree& tree);
