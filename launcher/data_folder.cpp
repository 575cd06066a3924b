#include "launcher/data_folder.h"

#include <windows.h>

#include <cstring>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/pinned_tree.h"
#include "rules/rules.h"
#include "journal/journal.h"

bool IsPlainFolderName(const std::string& name) { return !name.empty() && rules::IsPlainName(name); }

std::optional<AppDataFolders> ComposeAppDataFolders(const OptionalPath& root, const std::string& company,
                                                    const std::string& product, const std::string& lang) {
  if (!root || IsRootOrRelative(*root)) return std::nullopt;
  if (!IsPlainFolderName(company)) return std::nullopt;
  for (const std::string* level : {&product, &lang}) {
    if (!level->empty() && !IsPlainFolderName(*level)) return std::nullopt;
  }
  const OptionalPath belowRoot = JoinPath(JoinPath(company, product), lang);
  const OptionalPath dataFolder = JoinPath(*root, belowRoot.value_or(std::string()));
  // Every name the launcher keeps in the data folder must fit below it.
  if (!belowRoot || !dataFolder || dataFolder->size() >= kMaxFolderPathLength ||
      !JoinPath(*dataFolder, kJournalTemporaryName)) {
    return std::nullopt;
  }
  return AppDataFolders{*dataFolder, *belowRoot};
}

bool CheckDataFolderLevels(PinnedTree& tree, const std::string& company, const std::string& product,
                           const std::string& lang, bool makeMissing) {
  OptionalPath level = std::string();
  for (const std::string* name : {&company, &product, &lang}) {
    if (name->empty()) continue;
    level = JoinPath(level, *name);
    const OptionalPath path = tree.PathOf(level.value_or(std::string()));
    if (!level || !path) return false;
    if (!tree.Query(*level).Exists()) {
      if (!makeMissing) return true;  // missing here, so missing below too
      // A dangling link reads as missing, yet no folder can be made in its
      // place: only the attempt tells it apart from a free name.
      if (path->size() >= kMaxFolderPathLength || !tree.MakeFolder(*level)) return false;
    }
    // Pinned from here on: never renamed or swapped while the launcher works.
    if (!tree.Query(*level).IsRealFolder() || !tree.Folder(*level)) return false;
  }
  return true;
}
