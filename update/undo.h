#pragma once
// Keeps an update whole: before a staged update moves in, a journal in the
// data folder lists what it adds, and every data-folder file it replaces is
// set aside. A move that fails halfway, or a launcher stopped halfway, ends
// either in the complete new version or, undone, in the complete old one.

#include <optional>
#include <string>
#include <vector>

struct JournalEntry {
  enum Kind : char { AddedFile = 'a', AddedFolder = 'd', ReplacedFile = 'r' };
  Kind kind;
  std::string path;  // relative to the data folder (and to the staging folder)
};

// What an update's journal records: the staged entry that moves last (the
// marker's top-level entry; empty when the staging folder is the marker) and
// every staged path, folders before what they hold.
struct UpdateJournal {
  std::string markerEntry;
  std::vector<JournalEntry> entries;
};

// Lists the staged tree against the data folder. nullopt when it cannot be
// listed whole.
[[nodiscard]] std::optional<UpdateJournal> DescribeUpdate(const std::string& dataFolder,
                                                          const std::string& markerEntry);

// Writes the journal to the data folder, flushed, before anything moves.
[[nodiscard]] bool WriteUpdateJournal(const std::string& dataFolder, const UpdateJournal& journal);

// Whether an interrupted update's journal is in the data folder.
[[nodiscard]] bool HasUpdateJournal(const std::string& dataFolder);

// Whether `name`, at the top of the data folder, is one of the journal's own
// entries: never installed, never copied there.
[[nodiscard]] bool IsUpdateJournalName(const std::string& name);

// The journal an interrupted launcher left behind, if any. A journal that
// cannot be read counts as one with no entries.
[[nodiscard]] std::optional<UpdateJournal> ReadUpdateJournal(const std::string& dataFolder);

// Sets aside every data-folder file the update replaces that is not set aside
// yet. False when one could not be.
[[nodiscard]] bool SetAsideReplacedFiles(const std::string& dataFolder, const UpdateJournal& journal);

// The update arrived whole: the set-aside files and the journal go. False
// when something remained (the journal then stays, and the next start tries
// again).
bool ForgetUpdateJournal(const std::string& dataFolder);

// Puts the data folder back as it was: what the update brought in returns to
// the staging folder, the set-aside files to their places, folders it made
// go. The journal goes only when everything was put back.
bool UndoUpdate(const std::string& dataFolder, const UpdateJournal& journal);
