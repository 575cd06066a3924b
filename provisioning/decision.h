#pragma once
// Whether the first-start pass must (re)fill the data folder, the home of
// the tree each question is given.

#include <string>

class PinnedTree;

// True when the data folder's saves folder is missing or has no entry.
[[nodiscard]] bool IsSavesFolderEmpty(PinnedTree& tree);

// True when the install folder's version file is newer than the data
// folder's, or when the data folder has none while the installation's is
// readable: the version file arrives last in a copy, so its absence marks a
// copy that never finished. False when the installation's is missing or
// unreadable, or the data folder's unreadable.
[[nodiscard]] bool IsInstallNewer(const std::string& installFolder, const PinnedTree& tree);

// Whether the data folder holds a game that ran from it as it is: its
// game.dll, and its version file unless the installation has none either.
[[nodiscard]] bool DataFolderHoldsGame(const std::string& installFolder, const PinnedTree& tree);

// True when the data folder has no game.dll of its own: a copy lost it, or
// it was removed. The installation's is copied back, as an interrupted copy
// is, and the player's other files stay.
[[nodiscard]] bool IsGameModuleMissing(const PinnedTree& tree);

// True when both version files can be read and the data folder's is the
// later: an update arrived there. The installation is then never copied over
// it, which would leave it older and mixed with what the update added.
[[nodiscard]] bool IsDataFolderNewer(const std::string& installFolder, const PinnedTree& tree);

// True when both version files can be read and name the same version.
[[nodiscard]] bool IsSameVersion(const std::string& installFolder, const PinnedTree& tree);
