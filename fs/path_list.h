#pragma once

#include <string>
#include <vector>

// Paths in the order a shell operation receives them.
using PathList = std::vector<std::string>;

// The double-NUL-terminated form SHFileOperationA takes: each path followed by
// a NUL, then one closing NUL. An empty list gives the closing NUL alone.
std::vector<char> ToMultiString(const PathList& paths);
