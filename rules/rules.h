#pragma once
// The launcher's rules for names, paths, the update marker and its two XML
// files, for C++: the launcher, the packer (native and Windows) and their
// tests use these, never a copy. The plain C core is rungame_rules.h, which
// the game-side helper compiles in. Nothing here includes windows.h.

#include <cstddef>
#include <string>

#include "rules/rungame_rules.h"

namespace rules {

constexpr std::size_t kPathLimit = RUNGAME_PATH_LIMIT;  // terminator included
constexpr std::size_t kNameLimit = RUNGAME_NAME_LIMIT;
constexpr const char* kStagingFolderName = RUNGAME_STAGING_FOLDER;
constexpr const char* kSetAsideFolderName = RUNGAME_SET_ASIDE_FOLDER;
constexpr const char* kJournalFileName = RUNGAME_JOURNAL_FILE;
constexpr const char* kJournalTemporaryFileName = RUNGAME_JOURNAL_TEMPORARY_FILE;
constexpr const char* kCopyStagingFolderName = RUNGAME_COPY_STAGING_FOLDER;
constexpr const char* kUnpackingSuffix = RUNGAME_UNPACKING_SUFFIX;
constexpr const char* kCopyingSuffix = RUNGAME_COPYING_SUFFIX;

// The longest release-relative path that fits, with the launcher's temporary
// names below it, in a folder whose path is `folderLength` bytes long.
inline std::size_t LongestFittingPath(std::size_t folderLength) { return rungame_longest_fitting_path(folderLength); }

// ASCII letters folded to lower case, nothing else changed.
std::string FoldAsciiCase(const std::string& text);
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

// A name may hold NUL bytes only by mistake: those never pass a rule.
bool IsReservedDeviceName(const std::string& name);
// Why Windows cannot hold the name as it is; "" when it can.
std::string WindowsNameProblem(const std::string& name);
// A name Windows holds as it is: one folder level, a file name.
bool IsPlainName(const std::string& name);
bool IsAsciiName(const std::string& name);
bool IsPackedName(const std::string& name);
bool IsOtherCaseZipName(const std::string& name);
bool IsLauncherTemporaryName(const std::string& name);
bool IsReservedTopLevelName(const std::string& name);
bool IsPlainMarkerName(const std::string& name);

// What an update_semaphore value means to the launcher.
enum class MarkerKind {
  StagingFolder,  // empty: the staging folder itself is the marker
  PlainFile,      // a plain file name at the staging folder's top level
  NeverPresent,   // anything else: never counts as present
};
MarkerKind ClassifyMarker(const std::string& updateSemaphore);

// Whether the marker counts as present, given what the staging folder's top
// level lists under that name (any ASCII letter case): only a plain file
// (not a folder, not a link) named by a plain marker name counts.
bool MarkerCountsAsPresent(const std::string& updateSemaphore, bool stagingFolderIsRealFolder, bool entryListed,
                           bool entryIsPlainFile);

// Why an entry of a release (a file, or with `isFolder` a folder) cannot be
// delivered by the launcher as it is; "" when it can. `path` is
// release-relative with '\' separators; the launcher's rules are the Windows
// name rules for every level, ASCII names (the launcher's file names follow
// the player's code page), no file named like its temporary files, none of
// its own names at the top.
std::string ReleaseNameProblem(const std::string& path, bool isFolder = false);

}  // namespace rules
