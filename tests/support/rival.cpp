#include "tests/support/rival.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "tests/support/harness.h"
#include "tests/support/wine_host.h"

namespace testing_support {

const char kRivalBytes[] = "ROGUE";

namespace {

std::string ParentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

bool IsBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && _strnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
         path[folder.size()] == '\\';
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  return _stricmp(path.c_str(), folder.c_str()) == 0 || IsBelow(path, folder);
}

}  // namespace

std::string UnixQuoted(const std::string& windowsPath) { return "'" + wine_host::UnixPathOf(windowsPath) + "'"; }

std::vector<long> ChangesToSweep(const std::vector<std::string>& kinds) {
  std::vector<long> changes;
#ifdef _WIN64
  for (long k = 1; k <= static_cast<long>(kinds.size()); ++k) changes.push_back(k);
#else
  std::map<std::string, std::pair<long, long>> firstAndLast;
  for (long k = 1; k <= static_cast<long>(kinds.size()); ++k) {
    auto found = firstAndLast.emplace(kinds[k - 1], std::make_pair(k, k)).first;
    found->second.second = k;
  }
  for (const auto& kind : firstAndLast) {
    changes.push_back(kind.second.first);
    if (kind.second.second != kind.second.first) changes.push_back(kind.second.second);
  }
  std::sort(changes.begin(), changes.end());
#endif
  return changes;
}

std::vector<long> ChangesToRace(const std::vector<std::string>& kinds) {
  // A flush, the wait for flushes and the load of a checked module change no
  // name, so there is nothing to swap at them (the load's own test races it).
  const auto nameChanges = [&kinds](std::vector<long> changes) {
    changes.erase(std::remove_if(changes.begin(), changes.end(),
                                 [&kinds](long k) {
                                   return kinds[k - 1] == "load module" || kinds[k - 1].compare(0, 5, "flush") == 0;
                                 }),
                  changes.end());
    return changes;
  };
#ifdef _WIN64
  // The blocks written into one new file are one change to a rival: the
  // file's paths are the same at each.
  std::vector<long> changes;
  for (long k = 1; k <= static_cast<long>(kinds.size()); ++k) {
    if (k == 1 || kinds[k - 1] != "write" || kinds[k - 2] != "write") changes.push_back(k);
  }
  return nameChanges(changes);
#else
  const long count = static_cast<long>(kinds.size());
  std::vector<long> changes{1, (count + 1) / 2, count};
  int renames = 0;
  for (long k = 1; k <= count && renames < 2; ++k) {
    if (kinds[k - 1] == "rename") changes.push_back(k), ++renames;
  }
  std::sort(changes.begin(), changes.end());
  changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
  return nameChanges(changes);
#endif
}

std::vector<std::string> ReadKinds(const std::string& countFile) {
  std::vector<std::string> kinds;
  std::istringstream lines(ReadFile(countFile));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written in text mode
    kinds.push_back(line);
  }
  return kinds;
}

Rival::Rival(std::string raceFile, std::string victims, std::string company, std::string staging, Swap swap)
    : raceFile_(std::move(raceFile)),
      victims_(std::move(victims)),
      company_(std::move(company)),
      staging_(std::move(staging)),
      swap_(swap) {
  thread_ = Thread::Start([this] { Watch(); });
}

Rival::~Rival() { Stop(); }

void Rival::Stop() {
  done_ = true;
  thread_.Join();
}

void Rival::Restore() {
  for (auto it = movedAway_.rbegin(); it != movedAway_.rend(); ++it) {
    MoveFileExA((*it + ".away").c_str(), it->c_str(), 0);
  }
  for (auto it = swapped_.rbegin(); it != swapped_.rend(); ++it) {
    wine_host::RunUnixShell("rm " + UnixQuoted(*it) + " && mv " + UnixQuoted(*it + ".away") + " " + UnixQuoted(*it),
                            victims_ + "\\restore");
  }
}

void Rival::Watch() {
  while (!done_) {
    if (GetFileAttributesA(raceFile_.c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::istringstream lines(ReadFile(raceFile_));
      std::string kind, path, other;
      std::getline(lines, kind);
      std::getline(lines, path);
      std::getline(lines, other);
      Act(path, other);
      WriteFile(raceFile_ + ".go", "");
      return;
    }
    Sleep(2);
  }
}

void Rival::Act(const std::string& path, const std::string& other) {
  const std::string shell = victims_ + "\\shell";
  if (swap_ == Swap::StagedBytes) {
    if (IsBelow(path, staging_) && !IsDirectory(path) && Exists(path)) {
      acted_ = wine_host::RunUnixShell("printf " + std::string(kRivalBytes) + " >" + UnixQuoted(path) + ".r && mv " +
                                           UnixQuoted(path) + ".r " + UnixQuoted(path),
                                       shell) == 0;
    }
    return;
  }
  // The folders on the change's paths: those holding its entries, and the
  // entry itself where it is a folder (one moving whole).
  std::vector<std::string> folders;
  for (const std::string& changed : {path, other}) {
    if (changed.empty()) continue;
    folders.push_back(ParentOf(changed));
    if (swap_ == Swap::Folders && IsBelow(changed, company_) && IsDirectory(changed)) folders.push_back(changed);
  }
  for (const std::string& folder : folders) {
    if (!IsAtOrBelow(folder, company_) || !IsDirectory(folder)) continue;
    if (swap_ == Swap::WindowsMove) {
      if (!IsBelow(folder, company_)) continue;
      ++tried_;
      if (MoveFileExA(folder.c_str(), (folder + ".away").c_str(), 0)) {
        ++moved_;
        movedAway_.push_back(folder);
      }
      continue;
    }
    // A folder inside one swapped already now lies in its copy.
    if (std::any_of(swapped_.begin(), swapped_.end(), [&](const std::string& done) { return IsAtOrBelow(folder, done); })) {
      continue;
    }
    const std::string copy = Join(victims_, std::to_string(swapped_.size()));
    if (wine_host::RunUnixShell("cp -a " + UnixQuoted(folder) + " " + UnixQuoted(copy) + " && mv " + UnixQuoted(folder) +
                                    " " + UnixQuoted(folder + ".away") + " && ln -s " + UnixQuoted(copy) + " " +
                                    UnixQuoted(folder),
                                shell) != 0) {
      continue;
    }
    swapped_.push_back(folder);
    victimCopies_.push_back(copy);
    victimTrees_.push_back(ReadTree(copy));
    acted_ = true;
  }
}

}  // namespace testing_support
