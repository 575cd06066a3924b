#pragma once
// What one file-system entry is, asked of its path (a link is never
// followed): the one place the launcher reads attributes.

#include <windows.h>

#include <optional>
#include <string>

#include "fs/handles.h"

struct EntryAttributes {
  DWORD bits = INVALID_FILE_ATTRIBUTES;

  bool Exists() const { return bits != INVALID_FILE_ATTRIBUTES; }
  bool Has(DWORD bit) const { return Exists() && (bits & bit) != 0; }
  bool IsFolder() const { return Has(FILE_ATTRIBUTE_DIRECTORY); }
  // A junction or symbolic link (reparse point).
  bool IsLink() const { return Has(FILE_ATTRIBUTE_REPARSE_POINT); }
  // A folder that is no link: the only kind a pass enters or writes into.
  bool IsRealFolder() const { return IsFolder() && !IsLink(); }
};

[[nodiscard]] EntryAttributes QueryEntry(const std::string& path);

inline bool EntryExists(const std::string& path) { return QueryEntry(path).Exists(); }
inline bool IsFolder(const std::string& path) { return QueryEntry(path).IsFolder(); }
inline bool IsLink(const std::string& path) { return QueryEntry(path).IsLink(); }

// Free bytes available to this user on the drive that holds `path`, asked of
// `path` or, when it does not exist yet, of its nearest existing parent.
[[nodiscard]] std::optional<unsigned long long> FreeBytesAt(const std::string& path);

// Whether the object behind `handle` (opened with READ_CONTROL) is owned by
// this process's account: its user, the default owner of what it creates (an
// elevated administrator's objects belong to the Administrators group), the
// Administrators group or the system. What another account wrote is not.
[[nodiscard]] bool IsOwnedByThisAccount(HANDLE handle);
