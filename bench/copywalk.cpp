// Baseline of the first-start copy: a plain recursive CopyFileA walk of
// everything in the source folder but a top-level launcher.exe, as the
// launcher copies it.
// Usage: copywalk <source folder> <destination folder> [--flush]
// --flush forces each copy to disk once it is made (opens the copy, flushes
// it, closes it), as a copy that must survive a power cut does. The
// launcher's copy does not flush (its source stays in the install folder),
// so this baseline gives it the flushes' time as headroom.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool flushEach = false;

bool FlushCopy(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != FALSE;
  CloseHandle(file);
  return flushed;
}

bool CopyTree(const std::string& source, const std::string& destination, bool top) {
  if (!CreateDirectoryA(destination.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((source + "\\*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || (top && name == "launcher.exe")) continue;
    const std::string from = source + "\\" + name;
    const std::string to = destination + "\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(from, to, false) && ok;
    } else {
      const bool copied = CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
      ok = copied && (!flushEach || FlushCopy(to)) && ok;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  flushEach = argc == 4 && std::string(argv[3]) == "--flush";
  if (argc != 3 && !flushEach) {
    std::fprintf(stderr, "usage: copywalk <source> <destination> [--flush]\n");
    return 2;
  }
  return CopyTree(argv[1], argv[2], true) ? 0 : 1;
}
