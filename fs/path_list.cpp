#include "fs/path_list.h"

std::vector<char> ToMultiString(const PathList& paths) {
  std::vector<char> buffer;
  for (const std::string& path : paths) {
    buffer.insert(buffer.end(), path.begin(), path.end());
    buffer.push_back('\0');
  }
  buffer.push_back('\0');
  return buffer;
}
