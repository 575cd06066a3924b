// Baseline of the first-start copy: a plain recursive CopyFileA walk.
// Usage: copywalk <source folder> <destination folder>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool CopyTree(const std::string& source, const std::string& destination) {
  if (!CreateDirectoryA(destination.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((source + "\\*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    const std::string from = source + "\\" + name;
    const std::string to = destination + "\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(from, to) && ok;
    } else {
      ok = CopyFileA(from.c_str(), to.c_str(), FALSE) && ok;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copywalk <source> <destination>\n");
    return 2;
  }
  return CopyTree(argv[1], argv[2]) ? 0 : 1;
}
