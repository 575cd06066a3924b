#pragma once
// Where the game runs from in application-data mode.

#include <optional>
#include <string>

#include "fs/path.h"

struct AppDataFolders {
  std::string companyFolder;  // root\company: opened up after a first-start copy
  std::string dataFolder;     // root\company\product\lang (empty levels drop out)
};

// A settings value usable as one folder level: no separators, drive, "." or
// "..", characters Windows forbids in names, trailing dot or space, or
// reserved device name. The empty string is not a folder name.
bool IsPlainFolderName(const std::string& name);

// The application-data folders for the given settings, or nullopt when they
// must not be used: no application-data root, an empty or unusable company,
// an unusable product or lang, or a path beyond MAX_PATH. Pure: touches no file.
std::optional<AppDataFolders> ComposeAppDataFolders(const OptionalPath& root, const std::string& company,
                                                    const std::string& product, const std::string& lang);

// True when every level below the root that already exists is a real folder:
// not a file, not a junction or symbolic link. A planted link must not make
// the copy, the access passes or the update act on a folder elsewhere.
bool LevelsAreRealFolders(const std::string& root, const std::string& company, const std::string& product,
                          const std::string& lang);

// Makes the levels of the data folder below the root that do not exist yet,
// one at a time. False when a level is not, or cannot be made, a real folder:
// a file, a link, or a dangling link (which reads as missing).
[[nodiscard]] bool MakeDataFolderLevels(const std::string& root, const std::string& company,
                                        const std::string& product, const std::string& lang);
