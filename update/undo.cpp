#include "update/undo.h"

#include <windows.h>
#include <shlobj.h>

#include "fs/read_file.h"
#include "fs/path.h"
#include "fs/walk.h"
#include "update/pending_file.h"

namespace {

// Beside the staging folder "game" and no longer than it, so a set-aside
// file's path fits wherever the staged one did.
const char kSetAsideFolder[] = "~upd";
const char kJournalFile[] = "~upd.journal";
const char kJournalTemporaryFile[] = "~upd.journal.tmp";
constexpr std::size_t kMaxJournalBytes = 64u << 20;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Renames `from` to `to`, making the folders above `to` first.
bool MoveTo(const std::string& from, const std::string& to) {
  const std::string::size_type slash = to.find_last_of('\\');
  if (slash != std::string::npos && !IsFolder(to.substr(0, slash))) {
    SHCreateDirectoryExA(nullptr, to.substr(0, slash).c_str(), nullptr);
  }
  return MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

bool ListStagedTree(const std::string& staging, const std::string& dataFolder, const std::string& relative,
                    UpdateJournal& journal) {
  const OptionalPath folder = relative.empty() ? OptionalPath(staging) : JoinPath(staging, relative);
  if (!folder) return false;
  bool listedAll = true;
  const bool searched = ForEachEntry(*folder, [&](const FolderEntry& entry) {
    const OptionalPath path = relative.empty() ? OptionalPath(entry.name) : JoinPath(relative, entry.name);
    const OptionalPath target = path ? JoinPath(dataFolder, *path) : std::nullopt;
    if (!target) return listedAll = false;
    const bool targetExists = Exists(*target);
    if (entry.isFolder && !entry.isLink) {
      if (!targetExists) journal.entries.push_back({JournalEntry::AddedFolder, *path});
      return listedAll = ListStagedTree(staging, dataFolder, *path, journal);
    }
    journal.entries.push_back({targetExists ? JournalEntry::ReplacedFile : JournalEntry::AddedFile, *path});
    return true;
  });
  return searched && listedAll;
}

// Removes a tree of set-aside files, never following a link.
bool RemoveTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  ClearReadOnlyAttribute(path);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != FALSE;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ForEachEntry(path, [&](const FolderEntry& entry) {
      const OptionalPath child = JoinPath(path, entry.name);
      if (child) RemoveTree(*child);
      return true;
    });
  }
  return RemoveDirectoryA(path.c_str()) != FALSE;
}

struct Places {
  OptionalPath staged, current, setAside;
};

Places PlacesOf(const std::string& dataFolder, const std::string& path) {
  return {JoinPath(JoinPath(dataFolder, "game"), path), JoinPath(dataFolder, path),
          JoinPath(JoinPath(dataFolder, kSetAsideFolder), path)};
}

// Takes what the update brought to `current` back to the staging folder, so
// that a later attempt still finds the whole update there.
bool ReturnToStaging(const Places& places) {
  if (!Exists(*places.current)) return true;
  if (!Exists(*places.staged) && MoveTo(*places.current, *places.staged)) return true;
  ClearReadOnlyAttribute(*places.current);
  return RemoveTree(*places.current);
}

}  // namespace

std::optional<UpdateJournal> DescribeUpdate(const std::string& dataFolder, const std::string& markerEntry) {
  const OptionalPath staging = JoinPath(dataFolder, "game");
  UpdateJournal journal{markerEntry, {}};
  if (!staging || !ListStagedTree(*staging, dataFolder, std::string(), journal)) return std::nullopt;
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
  return path && Exists(*path);
}

bool IsUpdateJournalName(const std::string& name) {
  for (const char* reserved : {kSetAsideFolder, kJournalFile, kJournalTemporaryFile}) {
    if (lstrcmpiA(name.c_str(), reserved) == 0) return true;
  }
  return false;
}

std::optional<UpdateJournal> ReadUpdateJournal(const std::string& dataFolder) {
  const OptionalPath path = JoinPath(dataFolder, kJournalFile);
  if (!path || !Exists(*path)) return std::nullopt;
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
    if (Exists(*places.setAside) || !Exists(*places.current)) continue;
    if (!MoveTo(*places.current, *places.setAside)) return false;
  }
  return true;
}

bool ForgetUpdateJournal(const std::string& dataFolder) {
  const OptionalPath setAside = JoinPath(dataFolder, kSetAsideFolder);
  const OptionalPath journal = JoinPath(dataFolder, kJournalFile);
  if (!setAside || !journal || !RemoveTree(*setAside)) return false;
  return DeleteFileA(journal->c_str()) != FALSE || !Exists(*journal);
}

bool UndoUpdate(const std::string& dataFolder, const UpdateJournal& journal) {
  // What returns to the staging folder must never go through a link to
  // somewhere else.
  const OptionalPath staging = JoinPath(dataFolder, "game");
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
        if (IsFolder(*places.current) && !IsLink(*places.current)) RemoveDirectoryA(places.current->c_str());
        break;
      case JournalEntry::ReplacedFile:
        if (Exists(*places.setAside)) {
          if (!ReturnToStaging(places) || !MoveTo(*places.setAside, *places.current)) undone = false;
        } else if (!Exists(*places.staged)) {
          // Never set aside, yet moved in: the old file had gone before the update.
          undone = ReturnToStaging(places) && undone;
        }  // else never set aside and still staged: the old file is in place
        break;
    }
  }
  return undone && ForgetUpdateJournal(dataFolder);
}
