#include "launcher/data_folder.h"

#include <windows.h>

#include <cstring>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "update/journal.h"

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
  // Every name the launcher keeps in the data folder must fit below it.
  if (!companyFolder || !dataFolder || dataFolder->size() >= kMaxFolderPathLength ||
      !JoinPath(*dataFolder, kJournalTemporaryName)) {
    return std::nullopt;
  }
  return AppDataFolders{*companyFolder, *dataFolder};
}

bool CheckDataFolderLevels(const std::string& root, const std::string& company, const std::string& product,
                           const std::string& lang, bool makeMissing) {
  OptionalPath level = root;
  for (const std::string* name : {&company, &product, &lang}) {
    if (name->empty()) continue;
    level = JoinPath(level, *name);
    if (!level) return false;
    if (!EntryExists(*level)) {
      if (!makeMissing) return true;  // missing here, so missing below too
      // A dangling link reads as missing, yet no folder can be made in its
      // place: only the attempt tells it apart from a free name.
      if (level->size() >= kMaxFolderPathLength || !MakeFolder(*level)) return false;
    }
    if (!QueryEntry(*level).IsRealFolder()) return false;
  }
  return true;
}
