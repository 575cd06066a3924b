#include "packer/checks.h"

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

std::vector<std::string> TypicalDataFolders(const std::string& company, const std::string& product,
                                            const std::string& lang) {
  if (company.empty()) return {"C:\\Program Files (x86)\\" + (product.empty() ? std::string("Game") : product)};
  std::string levels = "\\" + company;
  if (!product.empty()) levels += "\\" + product;
  if (!lang.empty()) levels += "\\" + lang;
  return {"C:\\ProgramData" + levels, "C:\\Documents and Settings\\All Users\\Application Data" + levels};
}

void CheckPathLengths(const std::string& newRoot, Plan& plan) {
  const bool appData = ReadReleaseSetting(newRoot, "use_app_data_folder") != "false";
  const std::string company = appData ? ReadReleaseSetting(newRoot, "company") : std::string();
  const std::vector<std::string> bases =
      TypicalDataFolders(company, ReadReleaseSetting(newRoot, "product"), ReadReleaseSetting(newRoot, "lang"));
  const std::size_t suffix = std::strlen(rules::kUnpackingSuffix);
  // The longest path the launcher makes of a file below <data>\game\.
  const auto fits = [&](const std::string& base, std::size_t relativeLength) {
    return base.size() + 2 + std::strlen(rules::kStagingFolderName) + relativeLength < rules::kPathLimit;
  };
  for (std::size_t i = 0; i < bases.size(); ++i) {
    const bool current = i == 0;
    std::size_t tooLong = 0;
    std::string examples;
    for (PlannedFile& file : plan.files) {
      std::size_t longest = file.path.size() + (file.packing == Packing::Plain ? 0 : suffix);
      if (!fits(bases[i], longest) && file.packing == Packing::WhenSmaller && current &&
          fits(bases[i], file.path.size())) {
        file.packing = Packing::Plain;  // its unpacking would fail there; plain it arrives
        longest = file.path.size();
      }
      if (fits(bases[i], longest)) continue;
      if (++tooLong <= 5) examples += "\n    " + file.path;
    }
    if (tooLong == 0) continue;
    Add(plan.findings, current, std::to_string(tooLong) + " files get paths over " + std::to_string(rules::kPathLimit - 1) +
                                    " characters under " + bases[i] + "\\game" + examples +
                                    (tooLong > 5 ? "\n    ..." : ""));
  }
}

}  // namespace packer
