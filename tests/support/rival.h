#pragma once
// A rival of the launcher at one of its changes, for the race tables: the
// launcher's test build stops at the chosen change (LAUNCHER_FAULT_MODE=race),
// the rival acts, and the launcher goes on.

#include <atomic>
#include <string>
#include <vector>

#include "fs/thread.h"
#include "tests/support/tree.h"

namespace testing_support {

// The bytes a rival renames over a staged file: never to be installed.
extern const char kRivalBytes[];

enum class Swap {
  Folders,      // a unix process swaps the change's folders for links to copies
  StagedBytes,  // a unix process renames other bytes over the staged file
  WindowsMove,  // a Windows process tries to rename the change's folders away
};

// A path quoted for /bin/sh, as unix names it.
std::string UnixQuoted(const std::string& windowsPath);

// The changes a fault sweep visits, numbered from 1, given the kind of every
// change a run without a fault made: in 64-bit builds every one; in 32-bit
// ones (the same code, on a lane where an emulated launcher start costs
// 20-30 times a native one) the first and the last change of each kind.
std::vector<long> ChangesToSweep(const std::vector<std::string>& kinds);

// The changes a race table visits: in 64-bit builds every one but the
// second and later blocks written into one new file; in 32-bit
// ones (a race takes two or three starts) the first, the middle, the last
// and the first two renames (a staged or copied file moving in).
std::vector<long> ChangesToRace(const std::vector<std::string>& kinds);

// The kinds of change, one a line, the test build's count file holds.
std::vector<std::string> ReadKinds(const std::string& countFile);

// Waits on its own thread for the launcher to reach its change (the race
// file appears), acts, and lets it go on (the ".go" file).
class Rival {
 public:
  // Folders are swapped only at or below `company`; copies go to `victims`;
  // staged bytes only below `staging`.
  Rival(std::string raceFile, std::string victims, std::string company, std::string staging, Swap swap);
  ~Rival();
  Rival(const Rival&) = delete;
  Rival& operator=(const Rival&) = delete;

  void Stop();
  // Puts every folder swapped or moved back where it was, the last first.
  void Restore();

  bool Acted() const { return acted_; }
  // The copies folders were swapped for, and what each held then.
  const std::vector<std::string>& Victims() const { return victimCopies_; }
  const std::vector<Tree>& VictimTrees() const { return victimTrees_; }
  // Folders a Windows process tried to rename away, and those it could.
  int Tried() const { return tried_; }
  int Moved() const { return moved_; }

 private:
  void Watch();
  void Act(const std::string& path, const std::string& other);

  std::string raceFile_, victims_, company_, staging_;
  Swap swap_;
  std::atomic<bool> done_{false};
  bool acted_ = false;
  int tried_ = 0, moved_ = 0;
  std::vector<std::string> swapped_, victimCopies_, movedAway_;
  std::vector<Tree> victimTrees_;
  Thread thread_;
};

}  // namespace testing_support
