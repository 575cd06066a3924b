#include "tests/support/tree.h"

#include <windows.h>

#include "tests/support/harness.h"

namespace testing_support {

const char kFolderEntry[] = "<folder>";
const char kLinkEntry[] = "<link>";
const char kReadOnlyMark[] = "<read-only>";

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

void ReadInto(const std::string& folder, const std::string& relative, Tree& tree) {
  WIN32_FIND_DATAA data;
  const std::string pattern = Join(relative.empty() ? folder : Join(folder, relative), "*");
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = relative.empty() ? name : relative + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      tree[path] = kLinkEntry;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[path] = kFolderEntry;
      ReadInto(folder, path, tree);
    } else {
      const bool readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
      tree[path] = (readOnly ? std::string(kReadOnlyMark) : std::string()) + ReadFile(Join(folder, path));
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
}

}  // namespace

void WriteTree(const std::string& folder, const Tree& tree) {
  MakeFolders(folder);
  for (const auto& [path, content] : tree) {
    const std::string full = Join(folder, path);
    if (content == kFolderEntry) {
      MakeFolders(full);
    } else if (StartsWith(content, kReadOnlyMark)) {
      WriteFile(full, content.substr(std::string(kReadOnlyMark).size()));
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_READONLY);
    } else {
      WriteFile(full, content);
    }
  }
}

Tree ReadTree(const std::string& folder) {
  Tree tree;
  ReadInto(folder, "", tree);
  return tree;
}

Tree WithoutTopLevel(Tree tree, std::initializer_list<const char*> names) {
  for (auto it = tree.begin(); it != tree.end();) {
    const std::string top = it->first.substr(0, it->first.find('\\'));
    bool drop = false;
    for (const char* name : names) drop = drop || lstrcmpiA(top.c_str(), name) == 0;
    it = drop ? tree.erase(it) : std::next(it);
  }
  return tree;
}

std::string TreeDifference(const Tree& actual, const Tree& expected) {
  std::string difference;
  for (const auto& [path, content] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      difference += "missing: " + path + "\n";
    } else if (found->second != content) {
      difference += "differs: " + path + " (" + std::to_string(found->second.size()) + " bytes, expected " +
                    std::to_string(content.size()) + ")\n";
    }
  }
  for (const auto& [path, content] : actual) {
    if (expected.count(path) == 0) difference += "extra: " + path + "\n";
  }
  return difference;
}

}  // namespace testing_support
