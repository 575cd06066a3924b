#include "journal/journal.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <unordered_set>

#include "fs/ascii.h"
#include "fs/change.h"
#include "fs/entry.h"
#include "fs/path.h"
#include "fs/pinned_tree.h"
#include "fs/remove.h"
#include "rungame_plan.h"
#include "rules/rules.h"

const char kSetAsideFolderName[] = RUNGAME_SET_ASIDE_FOLDER;
const char kJournalName[] = RUNGAME_JOURNAL_FILE;
const char kJournalTemporaryName[] = RUNGAME_JOURNAL_TEMPORARY_FILE;
const char kCopyStagingName[] = RUNGAME_COPY_STAGING_FOLDER;

namespace {

const char kJournalHeader[] = "rungame journal 1\n";
// Far beyond any real plan; reading a larger file would only delay the start.
constexpr std::size_t kMaxJournalBytes = 16u << 20;
// A plan moves at most this many entries: reading and checking a journal of
// them costs a start well under a second. A larger update is refused, and a
// larger installation runs from the install folder.
constexpr std::size_t kMaxPlanEntries = 100000;
constexpr DWORD kKeptFolderAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The three places of one entry: staged, in the data folder, set aside.
struct Places {
  std::string staged, current, setAside;
};

std::optional<Places> PlacesOf(const std::string& stagingName, const std::string& relative) {
  const OptionalPath staged = JoinPath(stagingName, relative);
  const OptionalPath setAside = JoinPath(kSetAsideFolderName, relative);
  if (!staged || !setAside) return std::nullopt;
  return Places{*staged, relative, *setAside};
}

std::string JournalText(const Plan& plan) {
  std::string text = kJournalHeader;
  text += "staging " + plan.stagingName + "\n";
  for (const PlanEntry& entry : plan.entries) {
    text += static_cast<char>(entry.kind);
    text += ' ' + entry.relative + '\n';
  }
  char end[64];
  std::snprintf(end, sizeof end, "end %lu %08lx\n", static_cast<unsigned long>(plan.entries.size()),
                crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
  return text + end;
}

enum class JournalRead { Absent, Read, Unusable };

// The journal as this launcher writes it, or Unusable: held by another
// program, not a plain file, damaged, or naming anything a plan cannot.
JournalRead ReadJournal(PinnedTree& tree, Plan& plan) {
  if (!tree.Query(kJournalName).Exists()) return JournalRead::Absent;
  // Only a journal this account's launcher wrote is acted on: one another
  // account wrote, even a well-formed one, is nobody's plan here.
  const UniqueFileHandle file = tree.OpenPlain(kJournalName, GENERIC_READ | READ_CONTROL);
  if (!file || tree.Query(kJournalName).IsFolder() || !IsOwnedByThisAccount(file.Get())) return JournalRead::Unusable;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxJournalBytes)) {
    return JournalRead::Unusable;
  }
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!text.empty() && (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) ||
                        got != text.size())) {
    return JournalRead::Unusable;
  }
  // The closing line carries the count and a check value of all before it.
  if (text.size() < 2 || text.back() != '\n' || text.compare(0, std::strlen(kJournalHeader), kJournalHeader) != 0) {
    return JournalRead::Unusable;
  }
  const std::size_t endLine = text.rfind('\n', text.size() - 2) + 1;
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.begin() + endLine, '\n'));
  if (lines < 2) return JournalRead::Unusable;
  char expected[64];
  std::snprintf(expected, sizeof expected, "end %lu %08lx\n", static_cast<unsigned long>(lines - 2),
                crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(endLine)));
  if (text.compare(endLine, std::string::npos, expected) != 0 || lines - 2 > kMaxPlanEntries) {
    return JournalRead::Unusable;
  }

  // A plan names each entry once: a repeated one is no plan of this launcher.
  std::unordered_set<std::string> named;
  std::size_t start = std::strlen(kJournalHeader);
  bool first = true;
  while (start < endLine) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      first = false;
      if (line.compare(0, 8, "staging ") != 0) return JournalRead::Unusable;
      plan.stagingName = line.substr(8);
      if (plan.stagingName != RUNGAME_STAGING_FOLDER && plan.stagingName != kCopyStagingName) {
        return JournalRead::Unusable;
      }
      continue;
    }
    if (line.size() < 3 || line[1] != ' ' || std::strchr("darmxy", line[0]) == nullptr) {
      return JournalRead::Unusable;
    }
    PlanEntry entry{static_cast<PlanEntry::Kind>(line[0]), line.substr(2)};
    if (!IsPlannablePath(tree, plan.stagingName, entry.relative) ||
        !named.insert(rules::FoldAsciiCase(entry.relative)).second) {
      return JournalRead::Unusable;
    }
    plan.entries.push_back(std::move(entry));
  }
  return plan.entries.empty() ? JournalRead::Unusable : JournalRead::Read;
}

bool WriteJournal(PinnedTree& tree, const Plan& plan) {
  const std::string text = JournalText(plan);
  NewFile file(tree);
  return file.Create(kJournalTemporaryName) && file.Write(text.data(), text.size()) && file.CommitAs(kJournalName);
}

// Where one entry stands on the way from staged to moved in.
enum class EntryState { NotStarted, SetAside, Done, Foreign };

bool IsFileEntry(const EntryAttributes& attributes) {
  return attributes.Exists() && !attributes.IsFolder() && !attributes.IsLink();
}

EntryState StateOf(PinnedTree& tree, const PlanEntry& entry, const Places& places) {
  const EntryAttributes current = tree.Query(places.current);
  if (entry.kind == PlanEntry::AddFolder) {
    if (current.IsRealFolder()) return EntryState::Done;
    return current.Exists() ? EntryState::Foreign : EntryState::NotStarted;
  }
  if (entry.kind == PlanEntry::RemoveFolder) {
    if (current.IsRealFolder()) return EntryState::NotStarted;
    return current.Exists() ? EntryState::Foreign : EntryState::Done;
  }
  const EntryAttributes staged = tree.Query(places.staged);
  if (entry.kind == PlanEntry::MoveFolder) {
    if (staged.IsRealFolder() && !current.Exists()) return EntryState::NotStarted;
    if (!staged.Exists() && current.IsRealFolder()) return EntryState::Done;
    return EntryState::Foreign;
  }
  if (entry.kind == PlanEntry::RemoveFile) {
    const bool isStaged = IsFileEntry(staged), isCurrent = IsFileEntry(current);
    if (staged.Exists() != isStaged || current.Exists() != isCurrent || isStaged == isCurrent) {
      return EntryState::Foreign;
    }
    return isCurrent ? EntryState::NotStarted : EntryState::Done;
  }
  const EntryAttributes setAside = tree.Query(places.setAside);
  const bool isStaged = IsFileEntry(staged), isCurrent = IsFileEntry(current), isSetAside = IsFileEntry(setAside);
  if (staged.Exists() != isStaged || current.Exists() != isCurrent || setAside.Exists() != isSetAside) {
    return EntryState::Foreign;
  }
  if (!isStaged && isCurrent) return EntryState::Done;
  if (entry.kind == PlanEntry::AddFile) return isStaged && !isCurrent ? EntryState::NotStarted : EntryState::Foreign;
  if (isStaged && isCurrent && !isSetAside) return EntryState::NotStarted;
  if (isStaged && !isCurrent && isSetAside) return EntryState::SetAside;
  return EntryState::Foreign;
}

// Every folder above `relative` below the tree's `root` (empty: the tree's
// home) that exists is a real folder: nothing a plan moves passes through a
// link.
class FolderChain {
 public:
  explicit FolderChain(PinnedTree& tree) : tree_(tree) {}

  bool Holds(const std::string& root, const std::string& relative) {
    std::size_t slash = relative.find('\\');
    while (slash != std::string::npos) {
      const OptionalPath folder = JoinPath(root, relative.substr(0, slash));
      if (!folder) return false;
      if (known_.count(*folder) == 0) {
        const EntryAttributes attributes = tree_.Query(*folder);
        if (!attributes.Exists()) return true;
        if (!attributes.IsRealFolder()) return false;
        known_.insert(*folder);
      }
      slash = relative.find('\\', slash + 1);
    }
    return true;
  }

 private:
  PinnedTree& tree_;
  std::set<std::string> known_;
};

struct PlanPlaces {
  std::string staging, setAsideRoot;
  std::vector<Places> places;
};

std::optional<PlanPlaces> PlacesOfPlan(const Plan& plan) {
  PlanPlaces result;
  result.staging = plan.stagingName;
  result.setAsideRoot = kSetAsideFolderName;
  for (const PlanEntry& entry : plan.entries) {
    std::optional<Places> places = PlacesOf(plan.stagingName, entry.relative);
    if (!places) return std::nullopt;
    result.places.push_back(std::move(*places));
  }
  return result;
}

// The states of all entries, when together they are a state the plan passes
// through: every entry before one is done, every entry after it not
// started. Empty otherwise, with `blockedBy` naming the first entry that is
// not as the plan would have left it.
std::vector<EntryState> StatesAlongPlan(PinnedTree& tree, const Plan& plan, const PlanPlaces& at,
                                        std::string& blockedBy) {
  for (const std::string* root : {&at.staging, &at.setAsideRoot}) {
    const EntryAttributes attributes = tree.Query(*root);
    if (attributes.Exists() && !attributes.IsRealFolder()) {
      blockedBy = root == &at.staging ? plan.stagingName : kSetAsideFolderName;
      return {};
    }
  }
  blockedBy = kJournalName;
  FolderChain chain(tree);
  std::vector<EntryState> states;
  bool passedCurrent = false;
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const PlanEntry& entry = plan.entries[i];
    blockedBy = entry.relative;
    if (!chain.Holds(std::string(), entry.relative) || !chain.Holds(at.staging, entry.relative) ||
        !chain.Holds(at.setAsideRoot, entry.relative)) {
      return {};
    }
    const EntryState state = StateOf(tree, entry, at.places[i]);
    if (state == EntryState::Foreign) return {};
    if (passedCurrent && state != EntryState::NotStarted) return {};
    if (state != EntryState::Done) passedCurrent = true;
    states.push_back(state);
  }
  return states;
}

// Makes the tree's folder `root` and the missing folders above `relative`
// below it: the launcher's own set-aside folders, made new.
bool MakeParents(PinnedTree& tree, const std::string& root, const std::string& relative) {
  const EntryAttributes rootAttributes = tree.Query(root);
  if (!rootAttributes.Exists() && !tree.MakeFolder(root)) return false;
  if (rootAttributes.Exists() && !rootAttributes.IsRealFolder()) return false;
  std::size_t slash = relative.find('\\');
  while (slash != std::string::npos) {
    const OptionalPath folder = JoinPath(root, relative.substr(0, slash));
    if (!folder) return false;
    const EntryAttributes attributes = tree.Query(*folder);
    if (!attributes.Exists() && !tree.MakeFolder(*folder)) return false;
    if (attributes.Exists() && !attributes.IsRealFolder()) return false;
    slash = relative.find('\\', slash + 1);
  }
  return true;
}

bool StepForward(PinnedTree& tree, const PlanEntry& entry, const Places& places, EntryState state,
                 const PlanPlaces& at) {
  switch (entry.kind) {
    case PlanEntry::AddFolder: {
      if (state == EntryState::Done) return true;
      if (!tree.MakeFolder(places.current)) return false;
      const EntryAttributes staged = tree.Query(places.staged);
      const DWORD kept = staged.IsRealFolder() ? staged.bits & kKeptFolderAttributes : 0;
      // The folder is there: its hidden or system look is no reason to undo.
      if (kept != 0) (void)tree.SetAttributes(places.current, kept);
      return true;
    }
    case PlanEntry::AddFile:
      return state == EntryState::Done || tree.RenameEntry(places.staged, places.current, entry.held);
    case PlanEntry::MoveFolder:
      return state == EntryState::Done || tree.MoveRealFolder(places.staged, places.current);
    case PlanEntry::ReplaceExisting:
      if (state == EntryState::Done) return true;
      if (state == EntryState::NotStarted &&
          (!MakeParents(tree, at.setAsideRoot, entry.relative) || !tree.RenameEntry(places.current, places.setAside))) {
        return false;
      }
      return tree.RenameEntry(places.staged, places.current, entry.held);
    case PlanEntry::RemoveFile:
      return state == EntryState::Done || (MakeParents(tree, at.staging, entry.relative) &&
                                           tree.RenameEntry(places.current, places.staged, entry.held));
    case PlanEntry::RemoveFolder:
      return state == EntryState::Done || tree.RemoveEmptyFolder(places.current);
  }
  return false;
}

bool StepBack(PinnedTree& tree, const PlanEntry& entry, const Places& places, EntryState state) {
  if (state == EntryState::NotStarted) return true;
  switch (entry.kind) {
    case PlanEntry::AddFolder:
      return tree.RemoveEmptyFolder(places.current);
    case PlanEntry::AddFile:
      return tree.RenameEntry(places.current, places.staged, entry.held);
    case PlanEntry::RemoveFile:
      return tree.RenameEntry(places.staged, places.current, entry.held);
    case PlanEntry::RemoveFolder:
      return tree.MakeFolder(places.current);
    case PlanEntry::MoveFolder:
      return tree.MoveRealFolder(places.current, places.staged);
    case PlanEntry::ReplaceExisting:
      if (state == EntryState::Done && !tree.RenameEntry(places.current, places.staged, entry.held)) return false;
      return tree.RenameEntry(places.setAside, places.current);
  }
  return false;
}

// The plan is settled, done or undone: the set-aside files and folders go,
// then the journal. False when something stayed (the journal then stays).
bool ForgetPlan(PinnedTree& tree, const Plan& plan, const PlanPlaces& at) {
  std::vector<std::string> folders;
  bool removedAll = true;
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    if (plan.entries[i].kind != PlanEntry::ReplaceExisting) continue;
    const std::string& setAside = at.places[i].setAside;
    if (IsFileEntry(tree.Query(setAside)) && !RemoveFileSafely(tree, setAside)) {
      removedAll = false;
    }
    for (std::size_t slash = plan.entries[i].relative.find('\\'); slash != std::string::npos;
         slash = plan.entries[i].relative.find('\\', slash + 1)) {
      folders.push_back(at.setAsideRoot + '\\' + plan.entries[i].relative.substr(0, slash));
    }
  }
  // The deepest first: a folder empties before the one that holds it.
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  folders.push_back(at.setAsideRoot);
  for (const std::string& folder : folders) {
    const EntryAttributes attributes = tree.Query(folder);
    if (attributes.IsRealFolder() && !tree.RemoveEmptyFolder(folder)) removedAll = false;
    if (attributes.Exists() && !attributes.IsRealFolder()) removedAll = false;
  }
  return removedAll && tree.RemoveFileEntry(kJournalName);
}

// Runs the plan forward from the states found, and back when a step fails.
// Finished, Undone, or Blocked when even the undo stopped short.
PendingState RunPlan(PinnedTree& tree, const Plan& plan, const PlanPlaces& at,
                     std::vector<EntryState> states) {
  std::size_t next = 0;
  bool failed = false;
  for (; next < plan.entries.size(); ++next) {
    if (!StepForward(tree, plan.entries[next], at.places[next], states[next], at)) {
      failed = true;
      break;
    }
    states[next] = EntryState::Done;
  }
  if (!failed) return ForgetPlan(tree, plan, at) ? PendingState::Finished : PendingState::Blocked;
  // The failed step may have set its file aside before it stopped.
  states[next] = StateOf(tree, plan.entries[next], at.places[next]);
  for (std::size_t i = next + 1; i-- > 0;) {
    if (states[i] == EntryState::Foreign || !StepBack(tree, plan.entries[i], at.places[i], states[i])) {
      return PendingState::Blocked;
    }
  }
  return ForgetPlan(tree, plan, at) ? PendingState::Undone : PendingState::Blocked;
}

}  // namespace

static_assert(RUNGAME_MAX_FOLDER_PATH == kMaxFolderPathLength && RUNGAME_PATH_LIMIT == MAX_PATH,
              "the planner counts the limits this launcher's paths have");

std::size_t PlannedFolderLength(const PinnedTree& tree) {
  const std::string dataFolder = tree.PathOf(std::string()).value_or(std::string());
  return !dataFolder.empty() && dataFolder.back() == '\\' ? dataFolder.size() - 1 : dataFolder.size();
}

bool IsPlannablePath(const PinnedTree& tree, const std::string& stagingName, const std::string& relative) {
  // A NUL would end the name early: what the planner saw would not be the path.
  return tree.Valid() && relative.find('\0') == std::string::npos && stagingName.find('\0') == std::string::npos &&
         rungame_is_plannable_path(relative.c_str(), PlannedFolderLength(tree), stagingName.size());
}

PendingOutcome SettlePendingPlan(PinnedTree& tree) {
  Plan plan;
  switch (ReadJournal(tree, plan)) {
    case JournalRead::Unusable:
      return {PendingState::Blocked, std::string(), kJournalName};
    case JournalRead::Absent: {
      // Without a journal nothing has moved: a journal that was being
      // written is only the launcher's, and a set-aside folder is nobody's.
      if (tree.Query(kSetAsideFolderName).Exists()) return {PendingState::Blocked, std::string(), kSetAsideFolderName};
      const EntryAttributes leftover = tree.Query(kJournalTemporaryName);
      if (leftover.Exists() &&
          (leftover.IsFolder() || leftover.IsLink() || !tree.RemoveFileEntry(kJournalTemporaryName))) {
        return {PendingState::Blocked, std::string(), kJournalTemporaryName};
      }
      return {PendingState::None, std::string(), std::string()};
    }
    case JournalRead::Read:
      break;
  }
  const std::optional<PlanPlaces> at = PlacesOfPlan(plan);
  if (!at) return {PendingState::Blocked, plan.stagingName, kJournalName};
  std::string blockedBy;
  std::vector<EntryState> states = StatesAlongPlan(tree, plan, *at, blockedBy);
  if (states.empty()) return {PendingState::Blocked, plan.stagingName, blockedBy};
  const PendingState settled = RunPlan(tree, plan, *at, std::move(states));
  return {settled, plan.stagingName, settled == PendingState::Blocked ? kJournalName : ""};
}

PendingState CarryOutPlan(PinnedTree& tree, const Plan& plan) {
  const std::optional<PlanPlaces> at = PlacesOfPlan(plan);
  if (!at || plan.entries.empty() || plan.entries.size() > kMaxPlanEntries) return PendingState::Undone;
  // The planner has just checked every entry's places; the set-aside folder
  // must be free, so that it is made new and is the launcher's own.
  if (!tree.Query(at->staging).IsRealFolder() || tree.Query(at->setAsideRoot).Exists() || !WriteJournal(tree, plan)) {
    return PendingState::Undone;
  }
  return RunPlan(tree, plan, *at, std::vector<EntryState>(plan.entries.size(), EntryState::NotStarted));
}
