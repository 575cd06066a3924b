#include "tests/support/tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace testing_support {

const char kFolderEntry[] = "<folder>";
const char kLinkEntry[] = "<link>";
const char kOtherEntry[] = "<other>";
const char kReadOnlyMark[] = "<read-only>";

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualFolded(const std::string& a, const std::string& b) { return !FoldedLess()(a, b) && !FoldedLess()(b, a); }

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::string ParentOf(const std::string& path) {
  const std::size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

enum class Kind { File, ReadOnlyFile, Folder, Link, Other };

struct Listed {
  std::string name;
  Kind kind;
};

// Paths are UTF-8 and '\'-separated inside a tree, as the packer writes
// names; ASCII, as every launcher test uses, reads the same in the ANSI
// calls of the code under test.
#ifdef _WIN32
std::wstring Wide(const std::string& path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* name) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string HostPath(const std::string& folder, const std::string& relative) {
  return relative.empty() ? folder : folder + "\\" + relative;
}

Kind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Kind::Folder;
  return attributes & FILE_ATTRIBUTE_READONLY ? Kind::ReadOnlyFile : Kind::File;
}

std::vector<Listed> List(const std::string& folder) {
  std::vector<Listed> entries;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = Narrow(data.cFileName);
    if (name != "." && name != "..") entries.push_back({name, KindOfAttributes(data.dwFileAttributes)});
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return entries;
}

std::FILE* OpenFile(const std::string& path, const wchar_t* mode) { return _wfopen(Wide(path).c_str(), mode); }

void MakeFolder(const std::string& path) { CreateDirectoryW(Wide(path).c_str(), nullptr); }

bool MakeReadOnly(const std::string& path) {
  return SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}
#else
std::string HostPath(const std::string& folder, const std::string& relative) {
  std::string path = relative.empty() ? folder : folder + "/" + relative;
  for (std::size_t i = folder.size(); i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

std::vector<Listed> List(const std::string& folder) {
  std::vector<Listed> entries;
  DIR* directory = opendir(folder.c_str());
  if (!directory) return entries;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    struct stat status;
    if (name == "." || name == ".." || lstat((folder + "/" + name).c_str(), &status) != 0) continue;
    const Kind kind = S_ISLNK(status.st_mode)   ? Kind::Link
                      : S_ISDIR(status.st_mode) ? Kind::Folder
                      : !S_ISREG(status.st_mode) ? Kind::Other
                      : (status.st_mode & S_IWUSR) ? Kind::File
                                                   : Kind::ReadOnlyFile;
    entries.push_back({name, kind});
  }
  closedir(directory);
  return entries;
}

std::FILE* OpenFile(const std::string& path, const wchar_t* mode) {
  return std::fopen(path.c_str(), mode[0] == L'r' ? "rb" : "wb");
}

void MakeFolder(const std::string& path) { mkdir(path.c_str(), 0777); }

bool MakeReadOnly(const std::string& path) { return chmod(path.c_str(), 0444) == 0; }
#endif

void MakeFolders(const std::string& folder) {
#ifdef _WIN32
  const char* const separators = "\\/";
#else
  const char* const separators = "/";
#endif
  for (std::size_t at = folder.find_first_of(separators, 1); at != std::string::npos;
       at = folder.find_first_of(separators, at + 1)) {
    MakeFolder(folder.substr(0, at));
  }
  MakeFolder(folder);
}

std::string ReadContent(const std::string& path) {
  std::string content;
  std::FILE* file = OpenFile(path, L"rb");
  if (!file) return content;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, got);
  std::fclose(file);
  return content;
}

void WriteContent(const std::string& path, const std::string& content) {
  std::FILE* file = OpenFile(path, L"wb");
  ASSERT_NE(nullptr, file) << "cannot write " << path;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ASSERT_TRUE(std::fclose(file) == 0 && written) << "cannot write " << path;
}

void ReadInto(const std::string& folder, const std::string& relative, Tree& tree) {
  for (const Listed& entry : List(HostPath(folder, relative))) {
    const std::string path = relative.empty() ? entry.name : relative + "\\" + entry.name;
    switch (entry.kind) {
      case Kind::Link: tree[path] = kLinkEntry; break;
      case Kind::Other: tree[path] = kOtherEntry; break;
      case Kind::Folder:
        tree[path] = kFolderEntry;
        ReadInto(folder, path, tree);
        break;
      default:
        tree[path] = (entry.kind == Kind::ReadOnlyFile ? std::string(kReadOnlyMark) : std::string()) +
                     ReadContent(HostPath(folder, path));
    }
  }
}

}  // namespace

bool FoldedLess::operator()(const std::string& a, const std::string& b) const {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = static_cast<unsigned char>(FoldAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool IsFolderEntry(const std::string& content) { return content == kFolderEntry; }

void AddFolder(Tree& tree, const std::string& path) {
  for (std::string folder = path; !folder.empty(); folder = ParentOf(folder)) tree[folder] = kFolderEntry;
}

void AddFile(Tree& tree, const std::string& path, const std::string& content) {
  const std::string parent = ParentOf(path);
  if (!parent.empty()) AddFolder(tree, parent);
  tree.erase(path);  // an entry of another letter case gives way, name and all
  tree[path] = content;
}

void WriteTree(const std::string& folder, const Tree& tree) {
  MakeFolders(folder);
  // A folder the tree lists is made before what it holds (a path sorts
  // after its prefix); one it leaves out is made with the files it holds.
  for (const auto& [path, content] : tree) {
    const std::string full = HostPath(folder, path);
    if (content == kFolderEntry) {
      MakeFolders(full);
      continue;
    }
    const std::string parent = ParentOf(path);
    if (!parent.empty() && tree.count(parent) == 0) MakeFolders(HostPath(folder, parent));
    const bool readOnly = StartsWith(content, kReadOnlyMark);
    WriteContent(full, readOnly ? content.substr(std::string(kReadOnlyMark).size()) : content);
    if (readOnly) {
      ASSERT_TRUE(MakeReadOnly(full)) << full;
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
    for (const char* name : names) drop = drop || EqualFolded(top, name);
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
      continue;
    }
    if (found->first != path) difference += "name case: " + found->first + " (expected " + path + ")\n";
    if (found->second != content) {
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
