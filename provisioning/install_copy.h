#pragma once
// The first-start copy of the installation into the data folder.

#include <string>

enum class CopyCheck {
  Ready,
  PathTooLong,  // some file of the installation would not fit below the data folder
  Blocked,      // not enough free space, or a file to be replaced is in use
};

// Whether `installFolder` can be copied into `dataFolder` whole, checked
// before anything is written.
[[nodiscard]] CopyCheck CheckInstallCopy(const std::string& installFolder, const std::string& dataFolder);

// Copies every top-level entry of `installFolder` except the launcher's own
// executable into `dataFolder`, the version file last: only once every other
// file arrived with its full size. 0 on success. Refuses (1, nothing copied)
// when a path the copy would write through is a link, so a link planted in
// the shared data folder cannot redirect it.
[[nodiscard]] int CopyInstallToDataFolder(const std::string& installFolder, const std::string& dataFolder);
