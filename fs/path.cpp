#include "fs/path.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>


namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component stays below the base it is joined to: PathAppendA would take
// an absolute component as the whole result and folds "." and ".." segments
// away, either of which can name a folder outside the base. Windows drops
// trailing dots and spaces as it normalises a path, so ".. " may climb as
// ".." does: no segment may be dots and spaces alone.
bool StaysBelowBase(const std::string& component) {
  if (component.size() >= 2 && component[1] == ':') return false;
  if (component.size() >= 2 && IsSeparator(component[0]) && IsSeparator(component[1])) return false;
  size_t start = 0;
  while (start <= component.size()) {
    size_t end = start;
    while (end < component.size() && !IsSeparator(component[end])) ++end;
    const std::string segment = component.substr(start, end - start);
    if (!segment.empty() && segment.find_first_not_of(". ") == std::string::npos) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

OptionalPath JoinPath(const std::string& base, const std::string& component) {
  if (base.size() >= MAX_PATH) return std::nullopt;
  if (component.empty()) return base;
  if (!StaysBelowBase(component)) return std::nullopt;
  // Joined by hand rather than with PathAppendA: its canonicalisation rewrites
  // names that begin with dots ("...x" under C:\Data became "C:.x"), which
  // would name another file entirely.
  const size_t skip = component.find_first_not_of("\\/");
  if (skip == std::string::npos) return base;
  std::string joined = base;
  if (!joined.empty() && !IsSeparator(joined.back())) joined += '\\';
  joined.append(component, skip, std::string::npos);
  if (joined.size() >= MAX_PATH) return std::nullopt;
  return joined;
}

OptionalPath JoinPath(const OptionalPath& base, const std::string& component) {
  if (!base) return std::nullopt;
  return JoinPath(*base, component);
}

OptionalPath JoinPath(const char* base, const std::string& component) {
  return JoinPath(std::string(base), component);
}

OptionalPath GetWorkingFolder() {
  char buffer[1024];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

OptionalPath GetLauncherFileName() {
  char buffer[1024];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(PathFindFileNameA(buffer));
}

OptionalPath GetCommonAppDataFolder() {
  char buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return std::nullopt;
  }
  std::string folder(buffer);
  if (folder.empty() || PathIsRelativeA(folder.c_str())) return std::nullopt;
  return folder;
}

bool IsRootOrRelative(const std::string& path) {
  const bool driveAbsolute = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]);
  const bool unc = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
  if (!driveAbsolute && !unc) return true;
  return PathIsRootA(path.c_str()) != FALSE;
}
