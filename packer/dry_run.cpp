#include "packer/dry_run.h"

#include <algorithm>

#include "packer/manifest.h"
#include "packer/names.h"
#include "rules/rules.h"
#include "rungame_decode.h"
#include "rungame_plan.h"

namespace packer {

namespace {

// A packed file's bytes in memory, through the launcher's own decoder.
struct Unpacking {
  const std::string& packed;
  std::size_t offset;
  std::string& unpacked;
};

long ReadPacked(void* context, unsigned char* buffer, std::size_t size) {
  Unpacking& unpacking = *static_cast<Unpacking*>(context);
  const std::size_t count = std::min(size, unpacking.packed.size() - unpacking.offset);
  std::copy_n(unpacking.packed.begin() + static_cast<std::ptrdiff_t>(unpacking.offset), count, buffer);
  unpacking.offset += count;
  return static_cast<long>(count);
}

int WriteUnpacked(void* context, const unsigned char* data, std::size_t size) {
  static_cast<Unpacking*>(context)->unpacked.append(reinterpret_cast<const char*>(data), size);
  return 1;
}

bool Decode(const std::string& packed, std::string& unpacked) {
  Unpacking unpacking{packed, 0, unpacked};
  return rungame_decode_packed(ReadPacked, WriteUnpacked, &unpacking) != 0;
}

// The staging folder as the launcher leaves it before it plans: leftovers
// of an interrupted unpacking removed, every packed file that decodes whole
// replaced by what it unpacks to. False when the launcher could not unpack
// one at all (a folder holds its output's name) and refuses the update.
bool Unpack(Tree& staging, DryRunReport& report) {
  for (auto it = staging.begin(); it != staging.end();) {
    if (!it->second.isFolder && rules::IsLauncherTemporaryName(BaseName(it->first))) {
      report.steps.push_back("remove  " + it->first + " (a leftover name, never installed)");
      it = staging.erase(it);
    } else {
      ++it;
    }
  }
  std::vector<std::string> packed;
  for (const auto& entry : staging) {
    if (!entry.second.isFolder && rungame_unpacked_length(entry.first.c_str()) != 0) packed.push_back(entry.first);
  }
  for (const std::string& path : packed) {
    const auto source = staging.find(path);
    if (source == staging.end()) continue;
    const std::string target = path.substr(0, rungame_unpacked_length(path.c_str()));
    const auto existing = staging.find(target);
    std::string unpacked;
    if (existing != staging.end() && existing->second.isFolder) {
      report.steps.push_back("fail    " + path + " (a folder has the unpacked name: it cannot be unpacked)");
      return false;
    }
    if (!Decode(source->second.content, unpacked)) {
      report.steps.push_back("keep    " + path + " (does not unpack completely; it arrives packed)");
      report.complete = false;
      continue;
    }
    report.steps.push_back("unpack  " + path + " -> " + target);
    if (existing != staging.end()) staging.erase(existing);
    staging.erase(path);
    staging[target] = Node{false, std::move(unpacked)};
  }
  return true;
}

int HeldAt(const Tree& data, const std::string& path) {
  const auto found = data.find(path);
  if (found == data.end()) return RUNGAME_HELD_NOTHING;
  return found->second.isFolder ? RUNGAME_HELD_FOLDER : RUNGAME_HELD_PLAIN_FILE;
}

std::string StepLine(int kind, const std::string& path) {
  switch (kind) {
    case RUNGAME_ADD_FOLDER: return "add     " + path + "\\ (a new folder)";
    case RUNGAME_REPLACE_EXISTING: return "replace " + path;
    default: return "add     " + path;
  }
}

// What a launcher built with the studio's key removes with the update: the
// removals its manifest lists, each only where the data folder holds it.
std::vector<std::string> RemovalSteps(const Manifest& manifest, const Tree& data) {
  std::vector<std::string> steps;
  for (const ManifestEntry& removal : manifest.removals) {
    const auto held = data.find(removal.path);
    if (held == data.end()) continue;
    if (removal.isFolder) {
      steps.push_back("remove  " + removal.path + " (a keyed launcher, when nothing else is left in it)");
    } else if (!held->second.isFolder) {
      steps.push_back("remove  " + removal.path + " (a keyed launcher, when it still holds the " +
                      std::to_string(removal.size) + " bytes " + manifest.from + " shipped; kept otherwise)");
    }
  }
  return steps;
}

}  // namespace

DryRunReport DryRunUpdate(Tree staging, const Tree& data, const std::string& marker, std::size_t dataFolderLength,
                          const Manifest* manifest) {
  DryRunReport report;
  // The marker counts only as a plain file at the staging folder's top.
  const rules::MarkerKind markerKind = rules::ClassifyMarker(marker);
  if (markerKind == rules::MarkerKind::NeverPresent) {
    report.steps.push_back("discard the staging folder: the marker \"" + marker +
                           "\" is no plain file name and never counts as present; nothing is installed");
    return report;
  }
  const bool markerFile = markerKind == rules::MarkerKind::PlainFile;
  const auto listed = staging.find(marker);
  if (markerFile && (listed == staging.end() || listed->second.isFolder)) {
    report.steps.push_back("discard the staging folder: no marker file \"" + marker + "\" in it, nothing is installed");
    return report;
  }
  report.complete = true;
  if (!Unpack(staging, report)) {
    report.steps.push_back("discard the staging folder: a packed file cannot be unpacked, nothing is installed");
    return report;
  }
  std::vector<RunGameStagedItem> items;
  std::vector<const std::string*> paths;
  for (const auto& entry : staging) {
    const bool isMarker = markerFile && !entry.second.isFolder && FoldCase(entry.first) == FoldCase(marker);
    items.push_back({entry.first.c_str(), entry.second.isFolder, isMarker, HeldAt(data, entry.first)});
    paths.push_back(&entry.first);
  }
  std::vector<RunGamePlanStep> steps(items.size());
  std::size_t count = 0;
  std::size_t refused = 0;
  const int problem = rungame_plan_update(items.data(), items.size(), dataFolderLength, steps.data(), &count, &refused);
  if (problem != RUNGAME_PLAN_OK) {
    if (problem != RUNGAME_PLAN_NOTHING) {
      report.steps.push_back("fail    " + *paths[refused] + " (" + rungame_plan_problem_text(problem) + ")");
    }
    report.steps.push_back(std::string("discard the staging folder: ") +
                           (problem == RUNGAME_PLAN_NOTHING ? "nothing to install" : "the update cannot arrive whole") +
                           ", nothing is installed");
    report.complete = false;
    return report;
  }
  const std::vector<std::string> removals = manifest ? RemovalSteps(*manifest, data) : std::vector<std::string>();
  for (std::size_t i = 0; i < count; ++i) {
    // Removals come after every file the update brings, before the marker.
    if (items[steps[i].item].isMarker) report.steps.insert(report.steps.end(), removals.begin(), removals.end());
    report.steps.push_back(StepLine(steps[i].kind, *paths[steps[i].item]) +
                           (items[steps[i].item].isMarker ? " (the marker, last)" : ""));
  }
  report.installed = true;
  report.steps.push_back("discard the emptied staging folder (to the Recycle Bin)");
  return report;
}

}  // namespace packer
