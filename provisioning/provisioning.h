#pragma once
// The first-start pass: whether the data folder must be (re)filled from the
// installation, the copy under the "First start..." window, and opening up
// access to the company folder afterwards.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/xml_elements.h"

// --- Decision and version file -------------------------------------------

struct VersionPair {
  long x = 0;  // major
  long y = 0;  // minor
};

// The version of properties\version.xml-style file at `path`: the first
// top-level "version" element (any ASCII case) carrying both "x" and "y".
std::optional<VersionPair> ReadVersionFile(const std::string& path);

// The version the given top-level elements carry, by the rule above; pure.
std::optional<VersionPair> VersionFromElements(const std::vector<XmlElement>& elements);

// An attribute value as strtol reads it in base 10, saturating at 32 bits.
long ParseVersionNumber(const std::string& text);

// True when `install` is a later version than `data`: major first, then minor.
bool IsNewerVersion(const VersionPair& install, const VersionPair& data);

// True when the data folder's saves folder is missing or has no entry.
bool IsSavesFolderEmpty(const std::string& dataFolder);

// The version file of a folder, relative to it: properties\version.xml.
extern const char kVersionFile[];

// True when the install folder's version file (relative to the working
// folder) is newer than the data folder's, or when the data folder has none
// while the installation's is readable: the version file arrives last in a
// copy, so its absence marks a copy that never finished. False when the
// installation's is missing or unreadable, or the data folder's unreadable.
bool IsInstallNewer(const std::string& dataFolder);

// Whether the data folder holds a game that ran from it as it is: its
// game.dll, and its version file unless the installation has none either.
bool DataFolderHoldsGame(const std::string& dataFolder);

// --- Install copy and window ---------------------------------------------

// The first-start window's class name, the launcher's one process-wide string.
extern const char* const kFirstStartWindowClass;

HWND ShowFirstStartWindow(HINSTANCE instance);

// Top-left corner of the 200 x 120 window on a desktop of rectangle
// `desktop`: half of what its right and bottom edges leave, rounded to zero.
POINT FirstStartWindowOrigin(const RECT& desktop);
constexpr int kFirstStartWindowWidth = 200;
constexpr int kFirstStartWindowHeight = 120;
void CloseFirstStartWindow(HWND window, HINSTANCE instance);

// Copies every top-level entry of the install folder (the working folder)
// except the launcher's own executable into `dataFolder`, the version file
// last: only once every other file arrived with its full size. 0 on success.
// Refuses (1, nothing copied) when a path the copy would write through is a
// link, so a link planted in the shared data folder cannot redirect it.
int CopyInstallToDataFolder(const std::string& dataFolder);

// One entry of the installation at any depth, and where the copy puts it.
struct InstallEntry {
  std::string source;
  std::string target;
  bool isFolder = false;  // a real folder, searched in turn
  bool isLink = false;    // copied as the platform copies it, never searched
};

// Visits every entry below `source` that the install copy takes (all but the
// launcher at the top), parents before their contents. False when `visit`
// returned false or a path on either side does not fit MAX_PATH.
bool ForEachInstallEntry(const std::string& source, const std::string& destination,
                         const std::function<bool(const InstallEntry&)>& visit);

enum class CopyCheck {
  Ready,
  PathTooLong,  // some file of the installation would not fit below the data folder
  Blocked,      // not enough free space, or a file to be replaced is in use
};

// Whether the installation (the working folder) can be copied into
// `dataFolder` whole, checked before anything is written.
[[nodiscard]] CopyCheck CheckInstallCopy(const std::string& dataFolder);

// Whether every entry of the installation but the version file arrived in
// `dataFolder`, each file with its full size.
bool IsCopyComplete(const std::string& source, const std::string& dataFolder);

// True when some entry of `destination` that a copy of `source`'s entries
// (recursively) would write to or through is a link.
bool CopyWouldFollowLink(const std::string& source, const std::string& destination);

// --- Access normalisation ------------------------------------------------

// Gives every file and folder under `folder`, and `folder` itself last, an
// access list open to everyone. Links are neither followed nor changed, nor
// are files with more than one name (a hard link to a file elsewhere).
void OpenUpAccess(const std::string& folder);

// Clears the read-only attribute of every file under `folder`, keeping every
// other attribute bit. Links are neither followed nor changed.
void ClearReadOnly(const std::string& folder);
