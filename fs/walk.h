#pragma once
// The one folder walk every pass uses.

#include <functional>
#include <optional>
#include <string>

struct FolderEntry {
  std::string name;
  bool isFolder = false;
  // A junction or symbolic link (reparse point): recursive passes never
  // follow one, so a planted link cannot lead them out of their tree or loop.
  bool isLink = false;
};

// Calls `visit` for every entry of `folder` except "." and "..", in the order
// the platform returns them, until `visit` returns false. Returns false when
// the folder cannot be searched (missing, inaccessible, or a failed join).
bool ForEachEntry(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit);

// Whether `path` exists and is a folder, and whether it is a link.
bool IsFolder(const std::string& path);
bool IsLink(const std::string& path);

// Clears the read-only attribute of `path`, keeping every other bit, so the
// entry can be replaced or deleted. Does nothing when it is not set.
void ClearReadOnlyAttribute(const std::string& path);

// Whether nobody holds the file at `path` open in a way that forbids
// replacing, renaming or deleting it (a file in use by another program).
bool CanBeReplaced(const std::string& path);

// Free bytes available to this user on the drive that holds `path`, asked of
// `path` or, when it does not exist yet, of its nearest existing parent.
std::optional<unsigned long long> FreeBytesAt(const std::string& path);
