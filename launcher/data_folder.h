#pragma once
// Where the game runs from in application-data mode.

#include <optional>
#include <string>

class PinnedTree;

#include "fs/path.h"

struct AppDataFolders {
  std::string dataFolder;  // root\company\product\lang (empty levels drop out)
  std::string belowRoot;   // company\product\lang: the home of the data folder's tree
};

// A settings value usable as one folder level: no separators, drive, "." or
// "..", characters Windows forbids in names, trailing dot or space, or
// reserved device name. The empty string is not a folder name.
bool IsPlainFolderName(const std::string& name);

// The application-data folders for the given settings, or nullopt when they
// must not be used: no application-data root, an empty or unusable company,
// an unusable product or lang, or a path too long to hold the launcher's own
// names below it. Pure: touches no file.
std::optional<AppDataFolders> ComposeAppDataFolders(const OptionalPath& root, const std::string& company,
                                                    const std::string& product, const std::string& lang);

// True when every level of the data folder below the root (the home of
// `tree`) that already exists is a real folder: not a file, not a junction
// or symbolic link, so a planted link cannot make the copy, the access
// passes or the update act on a folder elsewhere. With `makeMissing`, the
// missing levels are made one at a time, and a level that cannot be made (a
// dangling link reads as missing) is false too.
[[nodiscard]] bool CheckDataFolderLevels(PinnedTree& tree, const std::string& company, const std::string& product,
                                         const std::string& lang, bool makeMissing);
