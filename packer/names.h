#pragma once
// Release-relative paths ('\'-separated) as the packer handles them. What the
// launcher and Windows make of the names is in rules/rules.h, the launcher's
// own rules.

#include <string>
#include <vector>

#include "rules/rules.h"

namespace packer {

// The last component of a path.
std::string BaseName(const std::string& path);
// The path without its last component ("" at the top level).
std::string ParentPath(const std::string& path);
std::vector<std::string> SplitPath(const std::string& path);

// ASCII letters folded to lower case: Windows compares names without regard
// to case, so names equal after folding name the same file there.
inline std::string FoldCase(const std::string& text) { return rules::FoldAsciiCase(text); }

}  // namespace packer
