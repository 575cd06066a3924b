#pragma once
// Whole folder trees in one value: written, read back and compared. Shared by
// every test, on Windows (under Wine) and natively, with the platform's own
// calls only: none of the project's code computes an expectation.

#include <initializer_list>
#include <map>
#include <string>

namespace testing_support {

// Orders paths as Windows matches them: ASCII letters without regard to
// case, so that a lookup finds an entry whatever its letter case.
struct FoldedLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Relative path ('\'-separated) -> content; kFolderEntry for a folder,
// kLinkEntry for a link (never entered), kOtherEntry for a pipe or device. A
// read-only file's content is prefixed with kReadOnlyMark.
using Tree = std::map<std::string, std::string, FoldedLess>;
extern const char kFolderEntry[];
extern const char kLinkEntry[];
extern const char kOtherEntry[];
extern const char kReadOnlyMark[];

bool IsFolderEntry(const std::string& content);

// Adds a file or a folder at `path`, and every folder on its way.
void AddFile(Tree& tree, const std::string& path, const std::string& content);
void AddFolder(Tree& tree, const std::string& path);

// Writes `tree` below `folder` (made as needed); a content beginning with
// kReadOnlyMark makes a read-only file of the rest.
void WriteTree(const std::string& folder, const Tree& tree);

// Reads the tree below `folder` (empty when it is missing).
Tree ReadTree(const std::string& folder);

// `tree` without the top-level entries named `names` (any case) and what
// they hold.
Tree WithoutTopLevel(Tree tree, std::initializer_list<const char*> names);

// One line per path that differs (letter case of a name included); empty
// when the trees are equal.
std::string TreeDifference(const Tree& actual, const Tree& expected);

}  // namespace testing_support
