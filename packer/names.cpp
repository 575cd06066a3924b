#include "packer/names.h"

#include <cstring>

namespace packer {

const char kLauncherTemporarySuffix[] = ".unpacking~launcher";

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPath(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('\\', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool IsPackedName(const std::string& name) { return name.size() > 4 && EndsWith(name, ".zip"); }

bool HasOtherCaseZipExtension(const std::string& name) {
  return name.size() > 4 && EndsWith(FoldCase(name), ".zip") && !EndsWith(name, ".zip");
}

bool IsLauncherTemporaryName(const std::string& name) {
  return EndsWith(FoldCase(name), kLauncherTemporarySuffix);
}

std::string WindowsNameProblem(const std::string& name) {
  if (name.empty()) return "an empty name";
  for (unsigned char c : name) {
    if (c < 32) return "a control character in the name";
    if (std::strchr("<>:\"/\\|?*", c)) return std::string("the character '") + static_cast<char>(c) + "' in the name";
  }
  if (name.back() == '.' || name.back() == ' ') return "a name ending in a dot or a space (Windows drops it)";
  // A device name stays one with any extension ("nul.txt").
  const std::string stem = FoldCase(name.substr(0, name.find('.')));
  static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* device : kDevices) {
    if (stem == device) return "the device name " + name.substr(0, name.find('.'));
  }
  if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '1' &&
      stem[3] <= '9') {
    return "the device name " + name.substr(0, name.find('.'));
  }
  return std::string();
}

}  // namespace packer
