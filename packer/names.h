#pragma once
// How the launcher and Windows read the names of a staged update. Paths here
// are release-relative, '\'-separated.

#include <string>
#include <vector>

namespace packer {

// Suffix of the launcher's unpacking temporary files; files ending in it (any
// letter case) are removed from a staging folder, never installed.
extern const char kLauncherTemporarySuffix[];

// Windows' limit for a path, terminator included.
constexpr std::size_t kPathLimit = 260;

// The last component of a path.
std::string BaseName(const std::string& path);
// The path without its last component ("" at the top level).
std::string ParentPath(const std::string& path);
std::vector<std::string> SplitPath(const std::string& path);

// ASCII letters folded to lower case: Windows compares names without regard
// to case, so names equal after folding name the same file there.
std::string FoldCase(const std::string& text);

// A file the launcher unpacks: the extension (from the last dot) is exactly
// ".zip", lower case, after at least one other byte.
bool IsPackedName(const std::string& name);
// ".ZIP", ".Zip", ...: looks packed to a person, never unpacked by the launcher.
bool HasOtherCaseZipExtension(const std::string& name);
bool IsLauncherTemporaryName(const std::string& name);

// Why Windows cannot hold a file or folder of this name ("" when it can):
// forbidden characters, a trailing dot or space, a device name.
std::string WindowsNameProblem(const std::string& name);

}  // namespace packer
