#include "rules/rules.h"

namespace rules {

namespace {

bool HasNul(const std::string& name) { return name.find('\0') != std::string::npos; }

}  // namespace

std::string FoldAsciiCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) c = rungame_ascii_lower(c);
  return folded;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (rungame_ascii_lower(a[i]) != rungame_ascii_lower(b[i])) return false;
  }
  return true;
}

bool IsReservedDeviceName(const std::string& name) {
  return !HasNul(name) && rungame_is_reserved_device_name(name.c_str());
}

std::string WindowsNameProblem(const std::string& name) {
  if (HasNul(name)) return "a control character in the name";
  const char* problem = rungame_windows_name_problem(name.c_str());
  return problem ? problem : std::string();
}

bool IsPlainName(const std::string& name) { return WindowsNameProblem(name).empty(); }
bool IsAsciiName(const std::string& name) { return rungame_is_ascii_name(name.c_str()); }
bool IsPackedName(const std::string& name) { return !HasNul(name) && rungame_is_packed_name(name.c_str()); }
bool IsOtherCaseZipName(const std::string& name) { return !HasNul(name) && rungame_is_other_case_zip_name(name.c_str()); }
bool IsLauncherTemporaryName(const std::string& name) {
  return !HasNul(name) && rungame_is_launcher_temporary_name(name.c_str());
}
bool IsReservedTopLevelName(const std::string& name) {
  return !HasNul(name) && rungame_is_reserved_top_level_name(name.c_str());
}
bool IsPlainMarkerName(const std::string& name) { return !HasNul(name) && rungame_is_plain_marker_name(name.c_str()); }

MarkerKind ClassifyMarker(const std::string& updateSemaphore) {
  if (updateSemaphore.empty()) return MarkerKind::StagingFolder;
  return IsPlainMarkerName(updateSemaphore) ? MarkerKind::PlainFile : MarkerKind::NeverPresent;
}

bool MarkerCountsAsPresent(const std::string& updateSemaphore, bool stagingFolderIsRealFolder, bool entryListed,
                           bool entryIsPlainFile) {
  switch (ClassifyMarker(updateSemaphore)) {
    case MarkerKind::StagingFolder: return stagingFolderIsRealFolder;
    case MarkerKind::PlainFile: return stagingFolderIsRealFolder && entryListed && entryIsPlainFile;
    case MarkerKind::NeverPresent: break;
  }
  return false;
}

std::string ReleaseNameProblem(const std::string& path, bool isFolder) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('\\', start);
    const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    const std::string problem = WindowsNameProblem(name);
    if (!problem.empty()) return "Windows cannot hold the name \"" + name + "\": " + problem;
    if (!IsAsciiName(name)) {
      return "the name \"" + name + "\" is not ASCII: the launcher's file names follow the player's code page, "
             "so it would name another file, or none, on players' machines";
    }
    if (slash == std::string::npos && !isFolder && IsLauncherTemporaryName(name)) {
      return "the name \"" + name + "\" ends like the launcher's temporary files (" + kUnpackingSuffix + ", " +
             kCopyingSuffix + "), which it removes instead of installing";
    }
    if (start == 0 && IsReservedTopLevelName(name)) {
      return "\"" + name + "\" at the top is the launcher's own (the staging folder game, the update journal's ~upd, "
             "~upd.journal, ~upd.journal.tmp, the copy's ~new)";
    }
    if (slash == std::string::npos) return std::string();
    start = slash + 1;
  }
}

}  // namespace rules
