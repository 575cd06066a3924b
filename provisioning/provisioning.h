#pragma once
// The first-start pass: whether the data folder must be (re)filled from the
// installation, the copy under the "First start..." window, and opening up
// access to the company folder afterwards.

#include <windows.h>

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

// True when the install folder's properties\version.xml (relative to the
// working folder) is newer than the data folder's; false when either side is
// missing or unreadable.
bool IsInstallNewer(const std::string& dataFolder);

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
// except the launcher's own executable into `dataFolder`. 0 on success.
// Refuses (1, nothing copied) when a path the copy would write through is a
// link, so a link planted in the shared data folder cannot redirect it.
int CopyInstallToDataFolder(const std::string& dataFolder);

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
