// Context for the first-start copy: Wine's shell copy (SHFileOperationA,
// FO_COPY, flags 0x0614, as the launcher once copied) of every top-level
// entry of the source folder but launcher.exe, into the destination folder.
// Usage: shellcopy <source folder> <destination folder>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: shellcopy <source> <destination>\n");
    return 2;
  }
  const std::string source = argv[1];
  std::string sources;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((source + "\\*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 1;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || name == "launcher.exe") continue;
    sources += source + "\\" + name;
    sources.push_back('\0');
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  sources.push_back('\0');
  std::string destination = argv[2];
  destination.push_back('\0');
  CreateDirectoryA(argv[2], nullptr);
  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_COPY;
  operation.pFrom = sources.c_str();
  operation.pTo = destination.c_str();
  operation.fFlags = 0x0614;
  return SHFileOperationA(&operation);
}
