// Baseline of the update unpack: every ".zip" file under the source folder
// read with gzread in blocks of 32768 bytes and written with fwrite to the
// same relative path, less ".zip", under the destination folder.
// Usage: gzloop <source folder> <destination folder> [--flush]
// --flush forces each output to disk before closing it, as a crash-safe
// installer would: it shows what that durability costs.
#include <windows.h>
#include <io.h>
#include <zlib.h>

#include <cstdio>
#include <string>

namespace {

bool flushEach = false;

bool Unpack(const std::string& packed, const std::string& output) {
  gzFile in = gzopen(packed.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(output.c_str(), "wb");
  if (!out) {
    gzclose(in);
    return false;
  }
  static char buffer[32768];
  bool ok = true;
  for (;;) {
    const int count = gzread(in, buffer, sizeof buffer);
    if (count < 0) ok = false;
    if (count <= 0) break;
    std::fwrite(buffer, 1, static_cast<size_t>(count), out);
  }
  if (flushEach) {
    std::fflush(out);
    FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out))));
  }
  std::fclose(out);
  gzclose(in);
  return ok;
}

bool UnpackTree(const std::string& source, const std::string& destination) {
  if (!CreateDirectoryA(destination.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((source + "\\*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = UnpackTree(source + "\\" + name, destination + "\\" + name) && ok;
    } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0) {
      ok = Unpack(source + "\\" + name, destination + "\\" + name.substr(0, name.size() - 4)) && ok;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  flushEach = argc == 4 && std::string(argv[3]) == "--flush";
  if (argc != 3 && !flushEach) {
    std::fprintf(stderr, "usage: gzloop <source> <destination> [--flush]\n");
    return 2;
  }
  return UnpackTree(argv[1], argv[2]) ? 0 : 1;
}
