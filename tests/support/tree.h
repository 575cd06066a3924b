#pragma once
// Whole folder trees in one value: written, read back and compared, with the
// platform's own calls only.

#include <map>
#include <string>

namespace testing_support {

// Relative path -> content; kFolderEntry for a folder, kLinkEntry for a link
// (never entered). A read-only file's content is prefixed with kReadOnlyMark.
using Tree = std::map<std::string, std::string>;
extern const char kFolderEntry[];
extern const char kLinkEntry[];
extern const char kReadOnlyMark[];

// Writes `tree` below `folder` (made as needed); a content beginning with
// kReadOnlyMark makes a read-only file of the rest.
void WriteTree(const std::string& folder, const Tree& tree);

// Reads the tree below `folder` (empty when it is missing).
Tree ReadTree(const std::string& folder);

// `tree` without the top-level entries named `names` (exact, any case) and
// what they hold.
Tree WithoutTopLevel(Tree tree, std::initializer_list<const char*> names);

// One line per path that differs; empty when the trees are equal.
std::string TreeDifference(const Tree& actual, const Tree& expected);

}  // namespace testing_support
