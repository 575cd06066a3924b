#include "launcher/data_folder.h"

#include <windows.h>

#include <cstring>

#include "settings/xml_elements.h"

namespace {

bool IsReservedDeviceName(const std::string& name) {
  // Reserved with any extension: "nul.txt" names the device too.
  const std::string stem = name.substr(0, name.find('.'));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (EqualsIgnoringAsciiCase(stem, device)) return true;
  }
  if (stem.size() == 4 && (EqualsIgnoringAsciiCase(stem.substr(0, 3), "COM") ||
                           EqualsIgnoringAsciiCase(stem.substr(0, 3), "LPT"))) {
    return stem[3] >= '0' && stem[3] <= '9';
  }
  return false;
}

}  // namespace

bool IsPlainFolderName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("<>:\"/\\|?*", c)) return false;
  }
  const char last = name.back();
  if (last == '.' || last == ' ') return false;
  return !IsReservedDeviceName(name);
}

std::optional<AppDataFolders> ComposeAppDataFolders(const OptionalPath& root, const std::string& company,
                                                    const std::string& product, const std::string& lang) {
  if (!root || IsRootOrRelative(*root)) return std::nullopt;
  if (!IsPlainFolderName(company)) return std::nullopt;
  for (const std::string* level : {&product, &lang}) {
    if (!level->empty() && !IsPlainFolderName(*level)) return std::nullopt;
  }
  const OptionalPath companyFolder = JoinPath(*root, company);
  const OptionalPath dataFolder = JoinPath(JoinPath(companyFolder, product), lang);
  if (!companyFolder || !dataFolder) return std::nullopt;
  return AppDataFolders{*companyFolder, *dataFolder};
}

bool LevelsAreRealFolders(const std::string& root, const std::string& company, const std::string& product,
                          const std::string& lang) {
  OptionalPath level = root;
  for (const std::string* name : {&company, &product, &lang}) {
    level = JoinPath(level, *name);
    if (!level) return false;
    const DWORD attributes = GetFileAttributesA(level->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // missing here, so missing below too
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  return true;
}

bool MakeDataFolderLevels(const std::string& root, const std::string& company, const std::string& product,
                          const std::string& lang) {
  OptionalPath level = root;
  for (const std::string* name : {&company, &product, &lang}) {
    if (name->empty()) continue;
    level = JoinPath(level, *name);
    if (!level) return false;
    // A dangling link reads as missing, yet no folder can be made in its
    // place: only the attempt tells it apart from a free name.
    if (GetFileAttributesA(level->c_str()) == INVALID_FILE_ATTRIBUTES &&
        (level->size() >= kMaxFolderPathLength || !CreateDirectoryA(level->c_str(), nullptr))) {
      return false;
    }
    const DWORD attributes = GetFileAttributesA(level->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return false;
    }
  }
  return true;
}
