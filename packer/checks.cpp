#include "packer/checks.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "packer/files.h"
#include "packer/names.h"

namespace packer {

namespace {

void Add(std::vector<Finding>& findings, bool refusal, const std::string& text) {
  findings.push_back({refusal, text});
}

std::string MarkerProblem(const std::string& marker) {
  const std::string problem = rules::WindowsNameProblem(marker);
  if (!problem.empty()) return problem;
  if (!rules::IsAsciiName(marker)) return "not ASCII";
  if (rules::IsPackedName(marker)) return "a name the launcher unpacks";
  if (rules::IsLauncherTemporaryName(marker)) return "the launcher's temporary files' suffix";
  return "one of the launcher's own names";
}

}  // namespace

void CheckReleaseNames(const std::vector<ReleaseEntry>& entries, std::vector<Finding>& findings) {
  std::map<std::string, std::vector<std::string>> byFoldedPath;
  for (const ReleaseEntry& entry : entries) {
    byFoldedPath[FoldCase(entry.path)].push_back(entry.path);
    const std::string problem = rules::ReleaseNameProblem(entry.path, entry.isFolder);
    if (!problem.empty()) Add(findings, true, entry.path + ": " + problem);
    if (!entry.isFolder && rules::IsOtherCaseZipName(BaseName(entry.path))) {
      Add(findings, false, entry.path + ": the launcher unpacks only lower-case \".zip\" files; this one is an "
                               "ordinary file to it and arrives as it is");
    }
  }
  for (const auto& group : byFoldedPath) {
    if (group.second.size() < 2) continue;
    std::string names;
    for (const std::string& path : group.second) names += (names.empty() ? "" : ", ") + path;
    Add(findings, true, "names equal but for letter case, one file on Windows: " + names);
  }
}

void CheckReleaseSettings(const std::string& previousRoot, const std::string& newRoot, Plan& plan) {
  if (KindOf(HostJoin(newRoot, "game.dll")) != EntryKind::File) {
    // Windows finds it in any letter case.
    std::vector<HostEntry> entries;
    bool found = false;
    if (ListHostFolder(newRoot, entries)) {
      for (const HostEntry& entry : entries) found = found || (entry.kind == EntryKind::File && FoldCase(entry.name) == "game.dll");
    }
    if (!found) Add(plan.findings, true, "the new release has no game.dll: the launcher would end at once with exit code 1");
  }

  const auto previousVersion = ReadReleaseVersion(previousRoot);
  const auto newVersion = ReadReleaseVersion(newRoot);
  if (!previousVersion) {
    Add(plan.findings, true, "the previous release has no readable properties\\version.xml with x and y");
  }
  if (!newVersion) {
    Add(plan.findings, true, "the new release has no readable properties\\version.xml with x and y");
  }
  if (previousVersion && newVersion) {
    plan.from = *previousVersion;
    plan.to = *newVersion;
    if (!IsLater(*newVersion, *previousVersion)) {
      Add(plan.findings, true, "the version does not increase (" + ToString(*previousVersion) + " to " +
                                   ToString(*newVersion) + "): players' data folders could not tell the releases apart");
    }
  }

  // The marker's name is read from the game.xml players have installed,
  // before the update arrives: the previous release's.
  const std::string previousMarker = ReadReleaseSetting(previousRoot, "update_semaphore");
  plan.marker = ReadReleaseSetting(newRoot, "update_semaphore");
  if (plan.marker.empty()) {
    Add(plan.findings, true, "game.xml sets no update_semaphore: the launcher would install a staging folder "
                             "as soon as it exists, complete or not");
  } else if (plan.marker != previousMarker) {
    Add(plan.findings, true, "update_semaphore changes from \"" + previousMarker + "\" to \"" + plan.marker +
                                 "\": the launcher looks for the marker named in the installed game.xml");
  } else if (!rules::IsPlainMarkerName(plan.marker)) {
    Add(plan.findings, true, "update_semaphore \"" + plan.marker + "\" is no plain file name for the launcher (" +
                                 MarkerProblem(plan.marker) + "): it would never count as present");
  }
  for (const char* key : {"use_app_data_folder", "company", "product", "lang"}) {
    const std::string before = ReadReleaseSetting(previousRoot, key);
    const std::string after = ReadReleaseSetting(newRoot, key);
    if (before != after) {
      Add(plan.findings, false, std::string("game.xml changes ") + key + " from \"" + before + "\" to \"" + after +
                                    "\": the launcher reads it from the install folder, so it takes effect only "
                                    "when players install a new release");
    }
  }
}

void ChoosePacking(Plan& plan) {
  // Every name the staging folder holds before the launcher unpacks it.
  std::set<std::string> staged;
  for (const std::string& folder : plan.folders) staged.insert(FoldCase(folder));
  for (const PlannedFile& file : plan.files) staged.insert(FoldCase(file.path));
  const std::string marker = FoldCase(plan.marker);
  if (!plan.marker.empty() && staged.count(marker)) {
    Add(plan.findings, true, plan.marker + ": the new release ships a file under the marker's name (update_semaphore)");
  }
  staged.insert(marker);
  // A packed "x.zip" unpacks onto "x": when "x.zip" is itself staged (or a
  // name equal to it but for case), the two would overwrite each other in an
  // order the launcher does not fix, so the file is shipped plain instead.
  for (PlannedFile& file : plan.files) {
    const bool clashes = staged.count(FoldCase(file.path + ".zip")) != 0;
    if (rules::IsPackedName(BaseName(file.path))) {
      file.packing = Packing::Always;
      if (clashes) {
        Add(plan.findings, true, file.path + " and " + file.path + ".zip: both must be shipped packed, and the "
                                     "first would unpack onto the second");
      }
    } else {
      file.packing = clashes ? Packing::Plain : Packing::WhenSmaller;
    }
  }
}

std::vector<PlayerFolder> PlayerFolders(const std::string& useAppDataFolder, const std::string& company,
                                        const std::string& product, const std::string& lang) {
  // The launcher falls back to the install folder where it cannot name a
  // data folder: no company, or a level that is no plain folder name.
  const bool appData = useAppDataFolder != "false" && rules::IsPlainName(company) &&
                       (product.empty() || rules::IsPlainName(product)) && (lang.empty() || rules::IsPlainName(lang));
  const std::string install = "an install folder of " + std::to_string(kAssumedInstallFolderLength) + " characters";
  if (!appData) return {{install, kAssumedInstallFolderLength}};
  std::string levels = "\\" + company;
  if (!product.empty()) levels += "\\" + product;
  if (!lang.empty()) levels += "\\" + lang;
  std::vector<PlayerFolder> folders;
  for (const char* root : {"C:\\ProgramData", "C:\\Documents and Settings\\All Users\\Application Data"}) {
    folders.push_back({root + levels, std::strlen(root) + levels.size()});
  }
  return folders;
}

PlayerFolder DeepestPlayerFolder(const std::string& root) {
  const std::vector<PlayerFolder> folders =
      PlayerFolders(ReadReleaseSetting(root, "use_app_data_folder"), ReadReleaseSetting(root, "company"),
                    ReadReleaseSetting(root, "product"), ReadReleaseSetting(root, "lang"));
  return *std::max_element(folders.begin(), folders.end(),
                           [](const PlayerFolder& a, const PlayerFolder& b) { return a.length < b.length; });
}

void CheckPathLengths(const std::string& newRoot, bool allowLongPaths, Plan& plan) {
  const PlayerFolder deepest = DeepestPlayerFolder(newRoot);
  const std::size_t limit = rules::LongestFittingPath(deepest.length);
  const std::size_t kListed = 10;
  std::size_t tooLong = 0;
  for (const PlannedFile& file : plan.files) {
    if (file.path.size() <= limit) continue;
    if (++tooLong > kListed) continue;
    Add(plan.findings, !allowLongPaths,
        file.path + ": a path of " + std::to_string(file.path.size()) + " characters; at most " +
            std::to_string(limit) + " fit below " + deepest.where +
            " with the launcher's temporary names (game\\...unpacking~launcher)" +
            (allowLongPaths ? "" : "\n  (--allow-long-paths ships the update anyway)"));
  }
  if (tooLong > kListed) {
    Add(plan.findings, !allowLongPaths,
        "and " + std::to_string(tooLong - kListed) + " more files over " + std::to_string(limit) + " characters");
  }
}

}  // namespace packer
