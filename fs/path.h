#pragma once
// Path composition and the folder queries the launcher relies on. Paths are
// narrow strings in the ANSI code page with backslash separators, valid only
// within MAX_PATH. Every result that can fail is optional: an empty path would
// name the working folder, so a failed join or query must never be used as one.

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

using OptionalPath = std::optional<std::string>;

// Longest path of a folder that CreateDirectoryA makes: it keeps room for an
// 8.3 file name below it within MAX_PATH.
constexpr size_t kMaxFolderPathLength = MAX_PATH - 12;

// `base` and `component` joined with one backslash; an empty component yields
// `base`. Fails (nullopt) when the result would not fit MAX_PATH, or when the
// component could escape `base`: a drive or UNC prefix, or a segment of
// dots and spaces alone ("." and ".." among them).
[[nodiscard]] OptionalPath JoinPath(const std::string& base, const std::string& component);
[[nodiscard]] OptionalPath JoinPath(const OptionalPath& base, const std::string& component);
[[nodiscard]] OptionalPath JoinPath(const char* base, const std::string& component);

// The process's current working folder.
[[nodiscard]] OptionalPath GetWorkingFolder();

// The file-name part of the path the launcher's executable was started with.
[[nodiscard]] OptionalPath GetLauncherFileName();

// The machine-wide application-data folder (CSIDL_COMMON_APPDATA).
[[nodiscard]] OptionalPath GetCommonAppDataFolder();

// True for a path that names a drive root ("C:\", "\\server\share") or is
// not absolute: such a path is never handed to a destructive operation.
[[nodiscard]] bool IsRootOrRelative(const std::string& path);
