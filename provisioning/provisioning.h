#pragma once
// The first-start pass: whether the data folder must be (re)filled from the
// installation, the copy under the "First start..." window, and opening up
// access to the company folder afterwards.

#include <windows.h>

#include <optional>
#include <string>

// --- Decision and version file -------------------------------------------

struct VersionPair {
  long x = 0;  // major
  long y = 0;  // minor
};

// The version of properties\version.xml-style file at `path`: the first
// top-level "version" element (any ASCII case) carrying both "x" and "y".
std::optional<VersionPair> ReadVersionFile(const std::string& path);

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
void CloseFirstStartWindow(HWND window, HINSTANCE instance);

// Copies every top-level entry of the install folder (the working folder)
// except the launcher's own executable into `dataFolder`. 0 on success.
int CopyInstallToDataFolder(const std::string& dataFolder);

// --- Access normalisation ------------------------------------------------

// Gives every file and folder under `folder`, and `folder` itself last, an
// access list open to everyone. Links are neither followed nor changed.
void OpenUpAccess(const std::string& folder);

// Clears the read-only attribute of every file under `folder`, keeping every
// other attribute bit. Links are neither followed nor changed.
void ClearReadOnly(const std::string& folder);
