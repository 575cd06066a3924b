#include "update/undo.h"

#include <windows.h>
#include <shlobj.h>

#include "fs/ascii.h"
#include "fs/read_file.h"
#include "fs/walk.h"
#include "update/pending_file.h"
#include "update/staging.h"

namespace {

// Beside the staging folder and no longer than its name "game", so a set-aside
// file's path fits wherever the staged one did.
const char kSetAsideFolder[] = "~upd";
const char kJournalFile[] = "~upd.journal";
const char kJournalTemporaryFile[] = "~upd.journal.tmp";
constexpr std::size_t kMaxJournalBytes = 64u << 20;

// Renames `from` to `to`, making the folders above `to` first.
bool MoveTo(const std::string& from, const std::string& to) {
  const std::string::size_type slash = to.find_last_of('\\');
  if (slash != std::string::npos && !IsFolder(to.substr(0, slash))) {
    SHCreateDirectoryExA(nullptr, to.substr(0, slash).c_str(), nullptr);
  }
  return MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

// Lists the staged tree, folders before what they hold. False when it
// cannot be listed whole.
bool ListStagedTree(const std::string& staging, const std::string& dataFolder, UpdateJournal& journal) {
  return WalkTree(
      staging, WalkOrder::ParentsFirst,
      [&](const TreeEntry& entry) {
        const bool targetExists = EntryExists(entry.target);
        if (entry.IsRealFolder()) {
          if (!targetExists) journal.entries.push_back({JournalEntry::AddedFolder, entry.relative});
        } else {
          journal.entries.push_back(
              {targetExists ? JournalEntry::ReplacedFile : JournalEntry::AddedFile, entry.relative});
        }
        return true;
      },
      dataFolder);
}

bool RemoveEntry(const std::string& path, bool isFolder) {
  ClearReadOnlyAttribute(path);
  return (isFolder ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str())) != FALSE;
}

// Removes a tree of set-aside files, never following a link.
bool RemoveTree(const std::string& path) {
  const EntryAttributes attributes = QueryEntry(path);
  if (!attributes.Exists()) return true;
  if (attributes.IsRealFolder()) {
    WalkTree(path, WalkOrder::ContentsFirst, [](const TreeEntry& entry) {
      RemoveEntry(entry.path, entry.isFolder);
      return true;
    });
  }
  return RemoveEntry(path, attributes.IsFolder());
}

struct Places {
  OptionalPath staged, current, setAside;
};

Places PlacesOf(const std::string& dataFolder, const std::string& path) {
  return {JoinPath(StagingFolderOf(dataFolder), path), JoinPath(dataFolder, path),
          JoinPath(JoinPath(dataFolder, kSetAsideFolder), path)};
}

// Takes what the update brought to `current` back to the staging folder, so
// that a later attempt still finds the whole update there.
bool ReturnToStaging(const Places& places) {
  if (!EntryExists(*places.current)) return true;
  if (!EntryExists(*places.staged) && MoveTo(*places.current, *places.staged)) return true;
  ClearReadOnlyAttribute(*places.current);
  return RemoveTree(*places.current);
}

}  // namespace

std::optional<UpdateJournal> DescribeUpdate(const std::string& dataFolder, const std::string& markerEntry) {
  const OptionalPath staging = StagingFolderOf(dataFolder);
  UpdateJournal journal{markerEntry, {}};
  if (!staging || !ListStagedTree(*staging, dataFolder, journal)) return std::nullopt;
  for (const JournalEntry& entry : journal.entries) {
    const Places places = PlacesOf(dataFolder, entry.path);
    if (!places.staged || !places.current || !places.setAside) return std::nullopt;
  }
  return journal;
}

bool WriteUpdateJournal(const std::string& dataFolder, const UpdateJournal& journal) {
  const OptionalPath path = JoinPath(dataFolder, kJournalFile);
  const OptionalPath temporary = JoinPath(dataFolder, kJournalTemporaryFile);
  if (!path || !temporary) return false;
  std::string text = "m " + journal.markerEntry + "\n";
  for (const JournalEntry& entry : journal.entries) {
    text += static_cast<char>(entry.kind);
    text += ' ' + entry.path + '\n';
  }
  PendingFile file(*temporary);
  return file.Open() && file.Write(reinterpret_cast<const unsigned char*>(text.data()), text.size()) &&
         file.Commit(*path);
}

bool HasUpdateJournal(const std::string& dataFolder) {
  const OptionalPath path = JoinPath(dataFolder, kJournalFile);
  return path && EntryExists(*path);
}

bool IsUpdateJournalName(const std::string& name) {
  for (const char* reserved : {kSetAsideFolder, kJournalFile, kJournalTemporaryFile}) {
    if (EqualsIgnoringAsciiCase(name, reserved)) return true;
  }
  return false;
}

std::optional<UpdateJournal> ReadUpdateJournal(const std::string& dataFolder) {
  const OptionalPath path = JoinPath(dataFolder, kJournalFile);
  if (!path || !EntryExists(*path)) return std::nullopt;
  UpdateJournal journal;
  const std::optional<std::string> text = ReadBoundedFile(*path, kMaxJournalBytes);
  if (!text) return journal;
  std::string::size_type start = 0;
  while (start < text->size()) {
    std::string::size_type end = text->find('\n', start);
    if (end == std::string::npos) break;  // a line cut short was never written whole
    const std::string line = text->substr(start, end - start);
    start = end + 1;
    if (line.size() < 2 || line[1] != ' ') continue;
    const std::string value = line.substr(2);
    if (line[0] == 'm') {
      journal.markerEntry = value;
    } else if ((line[0] == 'a' || line[0] == 'd' || line[0] == 'r') && !value.empty() &&
               PlacesOf(dataFolder, value).setAside) {  // a path that would leave the data folder fails to join
      journal.entries.push_back({static_cast<JournalEntry::Kind>(line[0]), value});
    }
  }
  return journal;
}

bool SetAsideReplacedFiles(const std::string& dataFolder, const UpdateJournal& journal) {
  for (const JournalEntry& entry : journal.entries) {
    if (entry.kind != JournalEntry::ReplacedFile) continue;
    const Places places = PlacesOf(dataFolder, entry.path);
    if (!places.current || !places.setAside) return false;
    // Set aside already, or the staged file has already taken its place.
    if (EntryExists(*places.setAside) || !EntryExists(*places.current)) continue;
    if (!MoveTo(*places.current, *places.setAside)) return false;
  }
  return true;
}

bool ForgetUpdateJournal(const std::string& dataFolder) {
  const OptionalPath setAside = JoinPath(dataFolder, kSetAsideFolder);
  const OptionalPath journal = JoinPath(dataFolder, kJournalFile);
  if (!setAside || !journal || !RemoveTree(*setAside)) return false;
  return DeleteFileA(journal->c_str()) != FALSE || !EntryExists(*journal);
}

bool UndoUpdate(const std::string& dataFolder, const UpdateJournal& journal) {
  // What returns to the staging folder must never go through a link to
  // somewhere else.
  const OptionalPath staging = StagingFolderOf(dataFolder);
  if (!staging) return false;
  if (IsLink(*staging)) RemoveDirectoryA(staging->c_str());
  bool undone = true;
  // Backwards: what a folder holds before the folder itself.
  for (auto entry = journal.entries.rbegin(); entry != journal.entries.rend(); ++entry) {
    const Places places = PlacesOf(dataFolder, entry->path);
    if (!places.staged || !places.current || !places.setAside) continue;
    switch (entry->kind) {
      case JournalEntry::AddedFile:
        undone = ReturnToStaging(places) && undone;
        break;
      case JournalEntry::AddedFolder:
        if (QueryEntry(*places.current).IsRealFolder()) RemoveDirectoryA(places.current->c_str());
        break;
      case JournalEntry::ReplacedFile:
        if (EntryExists(*places.setAside)) {
          if (!ReturnToStaging(places) || !MoveTo(*places.setAside, *places.current)) undone = false;
        } else if (!EntryExists(*places.staged)) {
          // Never set aside, yet moved in: the old file had gone before the update.
          undone = ReturnToStaging(places) && undone;
        }  // else never set aside and still staged: the old file is in place
        break;
    }
  }
  return undone && ForgetUpdateJournal(dataFolder);
}
